// Benchmark (not a test): the write path on a products database the engine
// creates, and mdb-export reading the result back in the same run.
//
//   jet_write_bench [DIR]     (default: a fresh folder under /tmp)
//
// 1. Builds products.mdb (password-protected, like the point-of-sale file)
//    with a 100,000-row PRODUCT1 of the point-of-sale layout and its four
//    indexes (PrimaryKey on "Product Code", "Description One", "Vendor Code",
//    "Department"); staged with fast (unsynced) commits, not timed.
// 2. Timed: 10,000 lookups by "Product Code" through the primary key, each
//    followed by an update of that row's "Inventory Qty", in one durable
//    transaction (commit included). Goal: under 0.5 s.
// 3. Timed: 100,000 inserts into a table keyed by a counter primary key
//    (Scans: ID counter, Product Code, Qty, Scanned), in one durable
//    transaction (commit included). Goal: under 1.5 s.
// 4. Timed: mdb-export of PRODUCT1 and of Scans from the result, and our
//    own read of both, for the ratio against an independent reader.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/error.h"
#include "jet/schema.h"
#include "jet/table.h"
#include "bench_products.h"
#include "jet/transaction.h"

namespace {

using bench::Clock;
using bench::product_code;
using bench::product_row;
using bench::product_spec;
using bench::seconds_since;
using bench::time_mdb_export;

constexpr int kProducts = 100000;
constexpr int kUpdates = 10000;
constexpr int kInserts = 100000;
const char* const kPassword = "qzmvrp";

jet::TableSpec scans_spec() {
  using jet::ColumnType;
  jet::TableSpec spec;
  spec.name = "Scans";
  jet::ColumnSpec id{"ID", ColumnType::kLong};
  id.auto_number = true;
  jet::ColumnSpec code{"Product Code", ColumnType::kText};
  code.length = 18;
  spec.columns = {id, code, {"Qty", ColumnType::kDouble}, {"Scanned", ColumnType::kDateTime}};
  jet::IndexSpec pk{"PrimaryKey", {{"ID", true}}};
  pk.primary_key = true;
  spec.indexes = {pk};
  return spec;
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / ("jet_write_bench_" + std::to_string(::getpid()));
  try {
    fs::create_directories(dir);
    const std::string file = (dir / "products.mdb").string();
    fs::remove(file);

    // 1. Staging (not timed).
    const auto t_stage = Clock::now();
    {
      jet::CreateOptions create;
      create.password = kPassword;
      create.durability = jet::Durability::kFast;
      auto db = jet::Database::create(file, create);
      jet::Table& products = db->create_table(product_spec());
      db->create_table(scans_spec());
      std::mt19937 rng(7);
      jet::Transaction tx(*db);
      for (int i = 0; i < kProducts; ++i) products.insert(product_row(i, rng));
      tx.commit();
    }
    const double stage_s = seconds_since(t_stage);

    jet::OpenOptions options;
    options.password = kPassword;
    options.read_write = true;  // durable commits (the default)

    // 2. Keyed lookups and updates of "Inventory Qty", one transaction.
    double update_s = 0;
    int updated = 0;
    {
      auto db = jet::Database::open(file, options);
      jet::Table& products = db->table("PRODUCT1");
      const int qty_col = products.def().find_column("Inventory Qty");
      std::mt19937 rng(11);
      std::vector<jet::Value> codes;
      for (int i = 0; i < kUpdates; ++i) codes.push_back(product_code(static_cast<int>(rng() % kProducts)));
      jet::Row row;
      const auto t0 = Clock::now();
      jet::Transaction tx(*db);
      for (const jet::Value& code : codes) {
        for (jet::RowId id : products.seek("PrimaryKey", std::span<const jet::Value>(&code, 1))) {
          products.read_row(id, row);
          row[static_cast<std::size_t>(qty_col)] = std::get<double>(row[static_cast<std::size_t>(qty_col)]) + 1.0;
          products.update(id, row);
          ++updated;
        }
      }
      tx.commit();
      update_s = seconds_since(t0);
    }

    // 3. Inserts into the counter-keyed table, one transaction.
    double insert_s = 0;
    {
      auto db = jet::Database::open(file, options);
      jet::Table& scans = db->table("Scans");
      jet::Row row(4);
      const auto t0 = Clock::now();
      jet::Transaction tx(*db);
      for (int i = 0; i < kInserts; ++i) {
        row[0] = std::monostate{};
        row[1] = product_code(i % kProducts);
        row[2] = static_cast<double>(i % 17);
        row[3] = jet::DateTime{46000.0 + i / 100000.0};
        scans.insert(row);
      }
      tx.commit();
      insert_s = seconds_since(t0);
    }

    // 4. Read-back: mdb-export and our own reader on the result.
    const double export_products_s = time_mdb_export(file, "PRODUCT1");
    const double export_scans_s = time_mdb_export(file, "Scans");
    const auto t_read = Clock::now();
    std::size_t rows_read = 0;
    {
      auto db = jet::Database::open(file, jet::OpenOptions{.password = kPassword});
      for (const char* t : {"PRODUCT1", "Scans"}) {
        for (auto c = db->table(t).scan(); c.next();) ++rows_read;
      }
    }
    const double read_s = seconds_since(t_read);

    std::printf("file: %s (%.1f MB), staging %d products took %.2f s\n", file.c_str(),
                static_cast<double>(fs::file_size(file)) / 1e6, kProducts, stage_s);
    std::printf("%d keyed lookups + updates of \"Inventory Qty\", one transaction: %8.3f s  (goal < 0.5 s) %s\n",
                kUpdates, update_s, update_s < 0.5 ? "ok" : "MISSED");
    std::printf("  rows updated: %d\n", updated);
    std::printf("%d inserts into a counter-keyed table, one transaction:        %8.3f s  (goal < 1.5 s) %s\n",
                kInserts, insert_s, insert_s < 1.5 ? "ok" : "MISSED");
    std::printf("mdb-export PRODUCT1 (%d rows) from the result:                  %8.3f s\n", kProducts,
                export_products_s);
    std::printf("mdb-export Scans (%d rows) from the result:                     %8.3f s\n", kInserts,
                export_scans_s);
    std::printf("jet read of both tables (%zu rows):                              %8.3f s\n", rows_read, read_s);
    std::printf("ratio mdb-export read-back / jet inserts:                        %8.2f x\n",
                export_scans_s / insert_s);
    std::printf("ratio mdb-export read-back / jet read:                           %8.2f x\n",
                (export_products_s + export_scans_s) / read_s);
    if (argc <= 1) fs::remove_all(dir);
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "jet_write_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
