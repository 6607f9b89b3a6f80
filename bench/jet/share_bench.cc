// Benchmark (not a test): three processes on one products file, against the
// same writes made by one process alone.
//
//   jet_share_bench [DIR]     (default: a fresh folder under /tmp)
//
// The file: a 20,000-product PRODUCT1 (point-of-sale layout, four indexes)
// and a Posted table (counter key, product code, quantity).
//   shared run: a poster commits 10,000 posting records in 100 groups (one
//     transaction each: a Posted row and the product's "Inventory Qty"
//     raised); an updater commits 1,000 single updates of other products;
//     a reader reads PRODUCT1 and Posted in a snapshot, in a loop, until
//     both are done. Durable commits, as the program's own.
//   alone (the peer): the same 100 groups and 1,000 updates one after the
//     other from one process, no reader.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_products.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/transaction.h"

namespace {

namespace fs = std::filesystem;
using bench::Clock;
constexpr int kProducts = 20000, kGroups = 100, kGroupSize = 100, kUpdates = 1000;
constexpr int kPostedProducts = 10000;

void make_file(const std::string& file) {
  fs::remove(file);
  jet::CreateOptions create;
  create.durability = jet::Durability::kFast;
  auto db = jet::Database::create(file, create);
  jet::Table& products = db->create_table(bench::product_spec());
  jet::TableSpec posted;
  posted.name = "Posted";
  jet::ColumnSpec id{"ID", jet::ColumnType::kLong};
  id.auto_number = true;
  jet::ColumnSpec code{"Product Code", jet::ColumnType::kText};
  code.length = 18;
  posted.columns = {id, code, {"Qty", jet::ColumnType::kDouble}};
  jet::IndexSpec pk{"PrimaryKey", {{"ID", true}}};
  pk.primary_key = true;
  posted.indexes = {pk};
  db->create_table(posted);
  std::mt19937 rng(7);
  jet::Transaction tx(*db);
  for (int i = 0; i < kProducts; ++i) products.insert(bench::product_row(i, rng));
  tx.commit();
}

jet::OpenOptions writer() {
  jet::OpenOptions o;
  o.read_write = true;
  o.lock_timeout_ms = 60000;
  return o;
}

void raise_qty(jet::Table& products, int i) {
  jet::Value key = bench::product_code(i);
  jet::Row row;
  const auto qty = static_cast<std::size_t>(products.def().find_column("Inventory Qty"));
  for (jet::RowId id : products.seek("PrimaryKey", std::span<const jet::Value>(&key, 1))) {
    products.read_row(id, row);
    row[qty] = std::get<double>(row[qty]) + 1.0;
    products.update(id, row);
  }
}

void post_groups(jet::Database& db) {
  jet::Table& products = db.table("PRODUCT1");
  jet::Table& posted = db.table("Posted");
  for (int g = 0; g < kGroups; ++g) {
    jet::Transaction tx(db);
    for (int k = 0; k < kGroupSize; ++k) {
      const int p = (g * kGroupSize + k) % kPostedProducts;
      posted.insert(jet::Row{std::monostate{}, bench::product_code(p), 1.0});
      raise_qty(products, p);
    }
    tx.commit();
  }
}

void single_updates(jet::Database& db) {
  jet::Table& products = db.table("PRODUCT1");
  for (int u = 0; u < kUpdates; ++u) {
    jet::Transaction tx(db);
    raise_qty(products, kPostedProducts + (u * 7) % (kProducts - kPostedProducts));
    tx.commit();
  }
}

template <typename F>
pid_t spawn(F&& body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    try {
      body();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "jet_share_bench child: %s\n", e.what());
      ::_exit(1);
    }
    ::_exit(0);
  }
  return pid;
}

bool ok(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path dir =
      argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / ("jet_share_bench_" + std::to_string(::getpid()));
  try {
    fs::create_directories(dir);
    const std::string file = (dir / "products.mdb").string();

    make_file(file);
    const auto t_alone = Clock::now();
    {
      auto db = jet::Database::open(file, writer());
      post_groups(*db);
      single_updates(*db);
    }
    const double alone_s = bench::seconds_since(t_alone);

    make_file(file);
    const std::string done = (dir / "writers-done").string();
    fs::remove(done);
    const auto t_shared = Clock::now();
    pid_t poster = spawn([&] {
      auto db = jet::Database::open(file, writer());
      post_groups(*db);
    });
    pid_t updater = spawn([&] {
      auto db = jet::Database::open(file, writer());
      single_updates(*db);
    });
    const std::string reads_file = (dir / "reads").string();
    pid_t reader = spawn([&] {
      auto db = jet::Database::open(file);
      long reads = 0;
      while (!fs::exists(done)) {
        jet::ReadSnapshot snap(*db);
        for (const char* t : {"PRODUCT1", "Posted"})
          for (auto c = db->table(t).scan(); c.next();) {
          }
        ++reads;
      }
      FILE* f = std::fopen(reads_file.c_str(), "w");
      std::fprintf(f, "%ld\n", reads);
      std::fclose(f);
    });
    const bool writers_ok = ok(poster) & ok(updater);
    const double shared_s = bench::seconds_since(t_shared);
    std::fclose(std::fopen(done.c_str(), "w"));
    const bool reader_ok = ok(reader);
    long reads = 0;
    if (FILE* f = std::fopen(reads_file.c_str(), "r")) {
      if (std::fscanf(f, "%ld", &reads) != 1) reads = 0;
      std::fclose(f);
    }
    if (!writers_ok || !reader_ok) throw jet::Error(jet::ErrorCategory::kIo, "a process of the shared run failed");

    const int commits = kGroups + kUpdates;
    std::printf("%d products; %d posting records in %d group commits + %d single-update commits, durable\n",
                kProducts, kGroups * kGroupSize, kGroups, kUpdates);
    std::printf("alone, one process, no reader:                 %8.3f s  (%6.0f commits/s)\n", alone_s,
                commits / alone_s);
    std::printf("shared: poster + updater + reader processes:   %8.3f s  (%6.0f commits/s, %ld snapshot reads "
                "of %d rows, %.1f/s)\n",
                shared_s, commits / shared_s, reads, kProducts + kGroups * kGroupSize, reads / shared_s);
    std::printf("ratio shared / alone:                          %8.2f x\n", shared_s / alone_s);
    if (argc <= 1) fs::remove_all(dir);
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "jet_share_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
