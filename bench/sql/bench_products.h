// The 100,000-product PRODUCT1 the SQL benchmarks run on: the columns the
// program uses, a primary key on "Product Code" and three more indexes,
// built by the engine in one transaction.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include "jet/dao.h"
#include "jet/database.h"
#include "jet/transaction.h"

namespace benchdata {

inline constexpr int kProducts = 100000;

// Product codes in no particular order, none repeated.
inline std::string code_of(int i) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "P%07d", i * 7 % 1000003);
  return buf;
}

// Creates `name` in `folder` (password "qzmvrp") and returns its path.
inline std::string build_products(const std::filesystem::path& folder, const std::string& name) {
  std::string path = (folder / name).string();
  std::filesystem::remove(path);
  auto db = jet::dao::Database::create(path, std::string(jet::dao::kLangGeneral) + ";pwd=qzmvrp");
  db->execute("CREATE TABLE PRODUCT1 ([Product Code] text(18) Constraint PrimaryKey Primary Key, "
              "[Description One] text(25), [Description Two] text(50), [Department] long, [Inventory Qty] double, "
              "[Standard Price] currency, [Current Cost] currency, [List Price] currency, [Vendor Code] text(16), "
              "[Location] text(16), [Bulk Product Code] text(18), [Bulk Brkdwn Qty] double, "
              "Constraint [Vendor Code] Unique ([Vendor Code], [Product Code]), "
              "Constraint [Department] Unique ([Department], [Product Code]), "
              "Constraint [Location] Unique ([Location], [Product Code]))");
  jet::Transaction tx(db->engine());
  jet::Table& t = db->engine().table("PRODUCT1");
  for (int i = 0; i < kProducts; ++i) {
    jet::Row r(t.columns().size());
    r[0] = code_of(i);
    r[1] = "Item " + std::to_string(i);
    r[3] = static_cast<int32_t>(i % 20);
    r[4] = static_cast<double>(i % 300);
    r[5] = jet::Currency{int64_t{i % 1000} * 10000 + 9900};
    r[6] = jet::Currency{int64_t{i % 700} * 10000 + 5000};
    r[7] = jet::Currency{int64_t{i % 1000} * 10000 + 19900};
    r[8] = std::string(i % 3 ? "ACME" : i % 7 ? "ZED" : "O'REILLY");
    r[9] = "A" + std::to_string(i % 50);
    t.insert(r);
  }
  tx.commit();
  return path;
}

}  // namespace benchdata
