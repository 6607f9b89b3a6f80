// Benchmark (not a test): compaction of a 100,000-product file, and
// mdb-export reading the compacted file in the same run as the peer.
//
//   jet_compact_bench [DIR]     (default: a fresh folder under /tmp)
//
// 1. Builds products.mdb (password-protected) with a 100,000-row PRODUCT1 of
//    the point-of-sale layout and its four indexes, then deletes 20,000
//    products and adds 20,000 new ones, as a year of edits does; not timed.
// 2. Timed: Database::compact into a new file (every row copied, the four
//    indexes rebuilt, the file made durable and renamed into place). Goal:
//    under 2 s.
// 3. Timed: mdb-export of PRODUCT1 from the compacted file: the peer.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_products.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/transaction.h"

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  using bench::Clock;
  constexpr int kProducts = 100000, kChurn = 20000;
  const char* const kPassword = "qzmvrp";
  const fs::path dir =
      argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / ("jet_compact_bench_" + std::to_string(::getpid()));
  try {
    fs::create_directories(dir);
    const std::string file = (dir / "products.mdb").string(), out = (dir / "compacted.mdb").string();
    fs::remove(file);
    fs::remove(out);
    const auto t_stage = Clock::now();
    {
      jet::CreateOptions create;
      create.password = kPassword;
      create.durability = jet::Durability::kFast;
      auto db = jet::Database::create(file, create);
      jet::Table& products = db->create_table(bench::product_spec());
      std::mt19937 rng(7);
      std::vector<jet::RowId> ids;
      jet::Transaction tx(*db);
      for (int i = 0; i < kProducts; ++i) ids.push_back(products.insert(bench::product_row(i, rng)));
      for (int i = 0; i < kChurn; ++i) products.remove(ids[std::size_t(i) * (kProducts / kChurn)]);
      for (int i = 0; i < kChurn; ++i) products.insert(bench::product_row(kProducts + i, rng));
      tx.commit();
    }
    const double stage_s = bench::seconds_since(t_stage);
    const auto before = fs::file_size(file);

    const auto t0 = Clock::now();
    jet::CompactResult r = jet::Database::compact(file, out, jet::CompactOptions{.password = kPassword});
    const double compact_s = bench::seconds_since(t0);
    const double export_s = bench::time_mdb_export(out, "PRODUCT1");

    std::printf("file: %s (%.1f MB, %u pages), staging took %.2f s\n", file.c_str(), double(before) / 1e6,
                r.pages_before, stage_s);
    std::printf("compaction of %llu products into %s (%.1f MB, %u pages):  %8.3f s  (goal < 2 s) %s\n",
                static_cast<unsigned long long>(r.rows), out.c_str(), double(fs::file_size(out)) / 1e6,
                r.pages_after, compact_s, compact_s < 2.0 ? "ok" : "MISSED");
    std::printf("mdb-export PRODUCT1 from the compacted file:                     %8.3f s\n", export_s);
    std::printf("ratio compaction / mdb-export reading the result:                %8.2f x\n", compact_s / export_s);
    if (argc <= 1) fs::remove_all(dir);
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "jet_compact_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
