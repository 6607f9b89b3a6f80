// Shops made with our own engine: a products database in the point-of-sale
// layout and scanned records, for the demo, tests, the crash test and the
// posting benchmark.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/value.h"

namespace jet::dao {
class Database;
}

namespace tallimo::demo {

// One PRODUCT1 row (the columns the program uses; the others take defaults).
struct Product {
  std::string code;
  std::string description_one;
  std::optional<std::string> description_two;
  std::optional<double> inventory;  // nullopt: an empty stock
  std::optional<double> standard_price;
  std::optional<double> current_cost;
  std::optional<double> list_price;
  std::string vendor;
  std::string location;
  std::optional<std::string> bulk_code;
  std::optional<double> bulk_qty;
};

// One Scanner_Data row.
struct Scan {
  int16_t file_type = 0;
  std::optional<std::string> item;  // nullopt: a Null item number
  std::optional<double> qty;        // nullopt: an empty quantity
  std::optional<std::string> description;
  std::optional<std::string> vendor;
  std::optional<double> standard_price;
  std::optional<double> current_cost;
  std::optional<std::string> location;
  std::optional<double> list_price;
};

// The PRODUCT1 definition of the point-of-sale products database.
std::string product_table_sql();

// Creates a products database at `path` (password "qzmvrp") holding an empty
// PRODUCT1 keyed by [Product Code]. Throws jet::Error when the file exists.
std::unique_ptr<jet::dao::Database> create_products_database(const std::string& path);

// Inserts `products` into PRODUCT1, all in one commit.
void add_products(jet::dao::Database& db, const std::vector<Product>& products);

// Creates a scanner database (both tables) at `path`.
std::unique_ptr<jet::dao::Database> create_scanner_database(const std::string& path);

// Inserts `scans` into Scanner_Data, all in one commit.
void add_scans(jet::dao::Database& scanner, const std::vector<Scan>& scans);

// A catalogue of `count` products: codes "P000000" up, stocks 0 to 199, every
// tenth one sold singly from a case ("C" + its code, 12 units a case).
std::vector<Product> generated_catalogue(int count, uint32_t seed);
// `count` scanned records of every kind against that catalogue (some codes
// unknown, some new), deterministic for a seed.
std::vector<Scan> generated_scans(int count, int catalogue_size, uint32_t seed);

// A small demo shop in `folder`: products.mdb and POS_Scanner.MDB with
// records of every kind. Files already there are replaced.
void create_demo_shop(const std::string& folder);

}  // namespace tallimo::demo
