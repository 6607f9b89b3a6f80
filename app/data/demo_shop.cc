#include "app/data/demo_shop.h"

#include <filesystem>
#include <random>

#include "app/data/products_database.h"
#include "app/data/scanner_database.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/transaction.h"

namespace tallimo::demo {
namespace {

jet::Value opt(const std::optional<double>& v) { return v ? jet::Value(*v) : jet::Value(); }
jet::Value opt(const std::optional<std::string>& v) { return v ? jet::Value(*v) : jet::Value(); }
jet::Value money(const std::optional<double>& v) {
  if (!v) return jet::Value();
  return jet::Value(jet::Currency{static_cast<int64_t>(std::llround(*v * 10000.0))});
}

int column_of(const jet::Table& table, std::string_view name) {
  const auto& cols = table.columns();
  for (std::size_t i = 0; i < cols.size(); ++i) {
    if (cols[i].name == name) return static_cast<int>(i);
  }
  throw jet::Error(jet::ErrorCategory::kNotFound, "table " + table.name() + " has no column " + std::string(name));
}

}  // namespace

std::string product_table_sql() {
  return "CREATE TABLE [PRODUCT1] ([Product Code] text(18) CONSTRAINT PrimaryKey PRIMARY KEY, "
         "[Description One] text(25), [Description Two] text(50), [Department] long, [Inventory Qty] double, "
         "[Standard Price] currency, [Current Cost] currency, [List Price] currency, [Vendor Code] text(16), "
         "[Location] text(16), [Bulk Product Code] text(18), [Bulk Brkdwn Qty] double, [Taxable] bit, "
         "[Last Sold] datetime, [Memo] memo)";
}

std::unique_ptr<jet::dao::Database> create_products_database(const std::string& path) {
  auto db = jet::dao::Database::create(path, std::string(jet::dao::kLangGeneral) + ";pwd=" + kOrvexPassword,
                                       jet::dao::kVersion40);
  db->execute(product_table_sql());
  return db;
}

void add_products(jet::dao::Database& db, const std::vector<Product>& products) {
  jet::Database& engine = db.engine();
  jet::Transaction tx(engine);
  jet::Table& t = engine.table("PRODUCT1");
  const std::size_t n = t.columns().size();
  const int c_code = column_of(t, "Product Code"), c_d1 = column_of(t, "Description One"),
            c_d2 = column_of(t, "Description Two"), c_inv = column_of(t, "Inventory Qty"),
            c_sp = column_of(t, "Standard Price"), c_cc = column_of(t, "Current Cost"),
            c_lp = column_of(t, "List Price"), c_v = column_of(t, "Vendor Code"), c_loc = column_of(t, "Location"),
            c_bc = column_of(t, "Bulk Product Code"), c_bq = column_of(t, "Bulk Brkdwn Qty");
  for (const Product& p : products) {
    jet::Row row(n);
    row[c_code] = p.code;
    row[c_d1] = p.description_one;
    row[c_d2] = opt(p.description_two);
    row[c_inv] = opt(p.inventory);
    row[c_sp] = money(p.standard_price);
    row[c_cc] = money(p.current_cost);
    row[c_lp] = money(p.list_price);
    row[c_v] = p.vendor;
    row[c_loc] = p.location;
    row[c_bc] = opt(p.bulk_code);
    row[c_bq] = opt(p.bulk_qty);
    t.insert(row);
  }
  tx.commit();
}

std::unique_ptr<jet::dao::Database> create_scanner_database(const std::string& path) {
  auto db = jet::dao::Database::create(path, jet::dao::kLangGeneral, jet::dao::kVersion40);
  db->execute(scanner_data_table_sql());
  db->execute(compare_table_sql());
  return db;
}

void add_scans(jet::dao::Database& scanner, const std::vector<Scan>& scans) {
  jet::Database& engine = scanner.engine();
  jet::Transaction tx(engine);
  jet::Table& t = engine.table("Scanner_Data");
  const std::size_t n = t.columns().size();
  const int c_qty = column_of(t, "Qty"), c_item = column_of(t, "Item_Number"), c_d = column_of(t, "Description"),
            c_v = column_of(t, "Vendor_Code"), c_sp = column_of(t, "Standard_Price"),
            c_cc = column_of(t, "Current_Cost"), c_loc = column_of(t, "Location"), c_lp = column_of(t, "List_Price"),
            c_ft = column_of(t, "File_Type");
  for (const Scan& s : scans) {
    jet::Row row(n);
    row[c_qty] = opt(s.qty);
    row[c_item] = opt(s.item);
    row[c_d] = opt(s.description);
    row[c_v] = opt(s.vendor);
    row[c_sp] = money(s.standard_price);
    row[c_cc] = money(s.current_cost);
    row[c_loc] = opt(s.location);
    row[c_lp] = money(s.list_price);
    row[c_ft] = jet::Value(s.file_type);
    t.insert(row);
  }
  tx.commit();
}

namespace {
std::string product_code(int i) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "P%06d", i);
  return buf;
}
}  // namespace

std::vector<Product> generated_catalogue(int count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<Product> out;
  out.reserve(static_cast<std::size_t>(count) + count / 10 + 1);
  for (int i = 0; i < count; ++i) {
    Product p;
    p.code = product_code(i);
    p.description_one = "Item " + std::to_string(i);
    p.inventory = static_cast<double>(rng() % 200);
    const double price = 1 + (rng() % 100000) / 100.0;
    p.standard_price = price;
    p.current_cost = price * 0.6;
    p.list_price = price;
    p.vendor = "V" + std::to_string(rng() % 50);
    p.location = "A" + std::to_string(i % 100);
    if (i % 10 == 0) {
      p.bulk_code = "C" + p.code;
      p.bulk_qty = 12;
      Product c;
      c.code = *p.bulk_code;
      c.description_one = "Case of " + p.code;
      c.inventory = static_cast<double>(rng() % 20);
      c.standard_price = price * 11;
      c.current_cost = price * 6;
      c.list_price = price * 12;
      c.vendor = p.vendor;
      c.location = "B" + std::to_string(i % 100);
      out.push_back(std::move(c));
    }
    out.push_back(std::move(p));
  }
  return out;
}

std::vector<Scan> generated_scans(int count, int catalogue_size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<Scan> out;
  out.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    Scan s;
    s.file_type = static_cast<int16_t>(rng() % 6);
    const uint32_t pick = rng() % 100;
    if (s.file_type == 4 || pick < 3) {
      s.item = "N" + std::to_string(seed % 1000) + "-" + std::to_string(i);  // a new code
    } else {
      s.item = product_code(static_cast<int>(rng() % static_cast<uint32_t>(catalogue_size)));
    }
    s.qty = static_cast<double>(1 + rng() % 30);
    s.description = "Scanned item " + std::to_string(i);
    s.vendor = "V" + std::to_string(rng() % 50);
    s.standard_price = 1 + (rng() % 10000) / 100.0;
    s.current_cost = 1 + (rng() % 5000) / 100.0;
    s.location = "S" + std::to_string(rng() % 40);
    s.list_price = *s.standard_price;
    out.push_back(std::move(s));
  }
  return out;
}

void create_demo_shop(const std::string& folder) {
  std::filesystem::create_directories(folder);
  const std::string products_path = folder + "/products.mdb";
  const std::string scanner_path = folder + "/" + kScannerDatabaseName;
  for (const std::string& p : {products_path, scanner_path}) {
    std::filesystem::remove(p);
    std::filesystem::remove(p + "-journal");
  }
  {
    auto db = create_products_database(products_path);
    std::vector<Product> products = generated_catalogue(40, 7);
    for (Product& p : products) {
      if (p.code == "P000010") p.inventory = 3;   // 20 sold: 17 short, two cases of 12 are opened
      if (p.code == "CP000010") p.inventory = 4;
    }
    Product bare;
    bare.code = "EMPTY-STOCK";
    bare.description_one = "Stock never counted";
    bare.vendor = "ACME";
    bare.location = "A12";
    products.push_back(bare);
    add_products(*db, products);
    db->close();
  }
  auto scanner = create_scanner_database(scanner_path);
  std::vector<Scan> scans;
  auto scan = [&](int16_t kind, std::optional<std::string> item, std::optional<double> qty) {
    Scan s;
    s.file_type = kind;
    s.item = std::move(item);
    s.qty = qty;
    return s;
  };
  scans.push_back(scan(0, "P000001", 24));                 // goods received
  scans.push_back(scan(1, "P000002", 3));                  // a sale
  scans.push_back(scan(1, "P000010", 20));                 // more than on hand: cases are broken open
  scans.push_back(scan(2, "P000003", 7));                  // counted twice ...
  scans.push_back(scan(2, "P000003", 5));                  // ... one Compare row of 12
  scans.push_back(scan(2, "NOT-IN-STOCK-LIST", 4));        // counted, unknown to the shop
  scans.push_back(scan(3, "EMPTY-STOCK", 9));              // a stock count replaces the figure
  scans.push_back(scan(0, "UNKNOWN-CODE", 1));             // no such product: stays for the grid
  Scan added = scan(4, "NEW-001", std::nullopt);
  added.description = "A new line of sparkling water bottles";
  added.vendor = "FIZZ";
  added.standard_price = 1.25;
  added.current_cost = 0.6;
  added.location = "C3";
  added.list_price = 1.5;
  scans.push_back(added);
  Scan duplicate = scan(4, "P000004", std::nullopt);      // exists already: gets a note
  duplicate.description = "Duplicate";
  scans.push_back(duplicate);
  Scan edited = scan(5, "P000005", std::nullopt);
  edited.description = "Renamed item five";
  edited.vendor = "ACME";
  edited.standard_price = 9.99;
  edited.location = "D1";
  scans.push_back(edited);
  add_scans(*scanner, scans);
  scanner->close();
}

}  // namespace tallimo::demo
