// 10,000 look-ups of the form
//   Select * From Product1 Where [Product Code] = "..."
// each followed by a recordset edit of "Inventory Qty", on a 100,000-product
// PRODUCT1 that the engine creates (primary key on "Product Code" and three
// more indexes), beside the same work through the plain table API
// (Table::seek, read_row, update) measured in the same run.
//
//   jet_sql_bench [FOLDER]     (default: the system's temporary folder)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "jet/dao.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/transaction.h"
#include "bench_products.h"

namespace {

using Clock = std::chrono::steady_clock;
double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

constexpr int kProducts = bench::kProducts;
constexpr int kLookups = 10000;
using bench::product_code;

std::vector<std::string> pick_codes(const std::vector<std::string>& all) {
  std::mt19937 rng(42);
  std::vector<std::string> out;
  std::uniform_int_distribution<std::size_t> d(0, all.size() - 1);
  for (int i = 0; i < kLookups; ++i) out.push_back(all[d(rng)]);
  return out;
}

std::string statement_for(const std::string& code) {
  return "Select * From Product1 Where [Product Code] = \"" + code + "\"";
}

int write_run(const std::filesystem::path& folder) {
  auto t0 = Clock::now();
  std::string path = bench::build_products(folder, "sql_bench_products.mdb");
  double build = seconds_since(t0);
  std::vector<std::string> all;
  for (int i = 0; i < kProducts; ++i) all.push_back(product_code(i));
  auto codes = pick_codes(all);
  jet::dao::OpenOptions o;
  o.connect = std::string(";pwd=") + bench::kProductsPassword;
  // The first picked product's quantity before the runs, for the check at the end.
  double base = 0;
  {
    auto db = jet::dao::Database::open(path, o);
    auto rs = db->open_recordset(statement_for(codes[0]));
    base = std::get<double>(rs->field("Inventory Qty"));
  }

  // SQL + recordset edit, all in one transaction.
  double sql_tx;
  {
    auto db = jet::dao::Database::open(path, o);
    t0 = Clock::now();
    jet::Transaction tx(db->engine());
    for (const auto& c : codes) {
      auto rs = db->open_recordset(statement_for(c));
      rs->edit();
      rs->set_field("Inventory Qty", std::get<double>(rs->field("Inventory Qty")) + 1);
      rs->update();
      rs->close();
    }
    tx.commit();
    sql_tx = seconds_since(t0);
  }
  // Plain API: seek, read, update, in one transaction.
  double plain_tx;
  {
    auto db = jet::Database::open(path, jet::OpenOptions{.password = bench::kProductsPassword, .read_write = true});
    jet::Table& t = db->table("PRODUCT1");
    int qty = t.def().find_column("Inventory Qty");
    jet::Row row;
    t0 = Clock::now();
    jet::Transaction tx(*db);
    for (const auto& c : codes) {
      jet::Value k = c;
      for (jet::RowId id : t.seek("PrimaryKey", std::span<const jet::Value>(&k, 1))) {
        t.read_row(id, row);
        row[qty] = std::get<double>(row[qty]) + 1;
        t.update(id, row);
      }
    }
    tx.commit();
    plain_tx = seconds_since(t0);
  }
  // SQL + edit with every update committing on its own (durable), on a
  // sample: each commit syncs the file and its journal.
  const int sample = 200;
  double sql_each;
  {
    auto db = jet::dao::Database::open(path, o);
    t0 = Clock::now();
    for (int i = 0; i < sample; ++i) {
      auto rs = db->open_recordset(statement_for(codes[i]));
      rs->edit();
      rs->set_field("Inventory Qty", std::get<double>(rs->field("Inventory Qty")) + 1);
      rs->update();
    }
    sql_each = seconds_since(t0) / sample * kLookups;
  }
  // Every product was changed exactly as often as it was picked.
  {
    auto db = jet::dao::Database::open(path, o);
    auto rs = db->open_recordset(statement_for(codes[0]));
    int picks = static_cast<int>(std::count(codes.begin(), codes.end(), codes[0]));
    int in_sample = static_cast<int>(std::count(codes.begin(), codes.begin() + sample, codes[0]));
    double expect = base + 2.0 * picks + in_sample;
    double got = std::get<double>(rs->field("Inventory Qty"));
    if (got != expect) {
      std::fprintf(stderr, "check failed: %s has %.0f, expected %.0f\n", codes[0].c_str(), got, expect);
      return 1;
    }
  }
  std::printf("PRODUCT1 with %d products, 4 indexes, built in %.2f s\n", kProducts, build);
  std::printf("SQL select + recordset edit, one transaction : %6d in %.3f s (%.1f us each)  goal < 1 s\n", kLookups,
              sql_tx, sql_tx / kLookups * 1e6);
  std::printf("plain seek + read_row + update, one transaction: %6d in %.3f s (%.1f us each)\n", kLookups, plain_tx,
              plain_tx / kLookups * 1e6);
  std::printf("ratio SQL / plain                             : %.2f\n", sql_tx / plain_tx);
  std::printf("SQL select + edit, each update its own durable commit: %.1f s per %d (from %d)\n", sql_each, kLookups,
              sample);
  std::filesystem::remove(path);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    std::filesystem::path folder = argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
    return write_run(folder);
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "jet_sql_bench: %s\n", e.what());
    return 1;
  }
}
