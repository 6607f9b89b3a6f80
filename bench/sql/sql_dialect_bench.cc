// Two figures of the SQL layer, each beside a peer measured in the same run:
//
// 1. Staging an upload: 100,000 statements of the form the scanner upload
//    writes,
//      INSERT INTO Scanner_Data (Item_Number,Item_Order,Description,Qty,
//        Standard_Price,Vendor_Code,Current_Cost,Location,List_Price)
//        VALUES ('0079190001','30303739313930303031','BOLT 12',7,45.12,'V17',...)
//    executed through SQL between BEGIN TRANSACTION and COMMIT (goal: under
//    1.5 s), beside the same rows stored with Table::insert in one
//    transaction.
// 2. Grouping: COUNT/SUM with GROUP BY over a 100,000-product PRODUCT1 with
//    4 indexes (goal: under 0.1 s), beside mdb-export reading the same table.
// PRODUCT1 is the engine benchmarks' table (bench/jet/bench_products.h).
//
//   jet_sql_dialect_bench [FOLDER]     (default: the system's temporary folder)
//
// Times are processor seconds (see Clock).
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_products.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/transaction.h"

namespace {

// Figures are processor time of this process (and, for the peer program,
// of its child): the machine these run on is shared, and wall time there
// measures the neighbours as much as the work.
struct Clock {
  using time_point = double;
  static double now() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
  }
};
double seconds_since(double t) { return Clock::now() - t; }

double children_seconds() {
  rusage u;
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

const char* const kScannerData =
    "CREATE TABLE [Scanner_Data] ([Scanner_Data_ID] Counter Constraint PrimaryKey Primary Key, [Qty] double, "
    "[Item_Number] text (255), [Item_Order] text (255), [Description] text (255), [Vendor_Code] text(255), "
    "[Standard_Price] currency, [Current_Cost] currency, [Location] text(255), [List_Price] currency, "
    "[File_Type] Integer, [Notes] text(255) )";

std::string quoted(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out + "'";
}

std::string hex(const std::string& s) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

std::string money(const jet::Value& v) {
  if (jet::is_null(v)) return "0";
  int64_t t = std::get<jet::Currency>(v).ten_thousandths;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%lld.%04lld", static_cast<long long>(t / 10000),
                static_cast<long long>(t % 10000 < 0 ? -(t % 10000) : t % 10000));
  std::string s = buf;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s;
}

std::string text_of(const jet::Value& v) { return jet::is_null(v) ? std::string() : std::get<std::string>(v); }

// The staging statements for every product, as the upload builds them.
std::vector<std::string> staging_statements(jet::Database& products) {
  jet::Table& t = products.table("PRODUCT1");
  const auto& d = t.def();
  int code = d.find_column("Product Code"), desc = d.find_column("Description One"),
      qty = d.find_column("Inventory Qty"), std_price = d.find_column("Standard Price"),
      vendor = d.find_column("Vendor Code"), cost = d.find_column("Current Cost"), loc = d.find_column("Location"),
      list = d.find_column("List Price");
  std::vector<std::string> out;
  for (auto c = t.scan(); c.next();) {
    const jet::Row& r = c.row();
    std::string q = jet::is_null(r[qty]) ? "0" : std::to_string(static_cast<long long>(std::get<double>(r[qty])));
    out.push_back("INSERT INTO Scanner_Data (Item_Number,Item_Order,Description,Qty,Standard_Price,"
                  "Vendor_Code,Current_Cost,Location,List_Price) VALUES (" +
                  quoted(text_of(r[code])) + "," + quoted(hex(text_of(r[code]))) + "," + quoted(text_of(r[desc])) +
                  "," + q + "," + money(r[std_price]) + "," + quoted(text_of(r[vendor])) + "," + money(r[cost]) + "," +
                  quoted(text_of(r[loc])) + "," + money(r[list]) + ")");
  }
  return out;
}

int run(const std::filesystem::path& folder) {
  std::string products_path = bench::build_products(folder, "sql_dialect_bench_products.mdb");
  jet::OpenOptions po;
  po.password = bench::kProductsPassword;
  auto products = jet::Database::open(products_path, po);
  std::vector<std::string> statements = staging_statements(*products);

  // 1. Staging through SQL in one transaction.
  std::string scanner_path = (folder / "sql_dialect_bench_scanner.mdb").string();
  std::filesystem::remove(scanner_path);
  double sql_staging;
  {
    auto db = jet::dao::Database::create(scanner_path, jet::dao::kLangGeneral);
    db->execute(kScannerData);
    auto t0 = Clock::now();
    db->execute("BEGIN TRANSACTION");
    for (const std::string& s : statements) db->execute(s);
    db->execute("COMMIT TRANSACTION");
    sql_staging = seconds_since(t0);
    auto rs = db->open_recordset("SELECT COUNT(*) FROM Scanner_Data");
    if (rs->field(0) != jet::Value(static_cast<int32_t>(statements.size()))) {
      std::fprintf(stderr, "check failed: Scanner_Data does not hold %zu rows\n", statements.size());
      return 1;
    }
  }
  // The peer: the same rows through the table API, one transaction.
  double plain_staging;
  {
    std::filesystem::remove(scanner_path);
    auto dao = jet::dao::Database::create(scanner_path, jet::dao::kLangGeneral);
    dao->execute(kScannerData);
    jet::Table& sd = dao->engine().table("Scanner_Data");
    jet::Table& p = products->table("PRODUCT1");
    const auto& d = p.def();
    int code = d.find_column("Product Code"), desc = d.find_column("Description One"),
        qty = d.find_column("Inventory Qty"), std_price = d.find_column("Standard Price"),
        vendor = d.find_column("Vendor Code"), cost = d.find_column("Current Cost"), loc = d.find_column("Location"),
        list = d.find_column("List Price");
    std::vector<jet::Row> rows;
    for (auto c = p.scan(); c.next();) {
      const jet::Row& r = c.row();
      jet::Row out(sd.columns().size());
      out[1] = r[qty];
      out[2] = r[code];
      out[3] = hex(text_of(r[code]));
      out[4] = r[desc];
      out[5] = r[vendor];
      out[6] = r[std_price];
      out[7] = r[cost];
      out[8] = r[loc];
      out[9] = r[list];
      rows.push_back(std::move(out));
    }
    auto t0 = Clock::now();
    jet::Transaction tx(dao->engine());
    for (const jet::Row& r : rows) sd.insert(r);
    tx.commit();
    plain_staging = seconds_since(t0);
  }
  std::filesystem::remove(scanner_path);

  // 2. Grouping, best of three runs each.
  products.reset();
  auto dao = jet::dao::Database::open(products_path,
                                      jet::dao::OpenOptions{.connect = std::string(";pwd=") + bench::kProductsPassword});
  const char* const kQueries[] = {
      "SELECT [Vendor Code], COUNT(*), SUM([Standard Price]) FROM PRODUCT1 GROUP BY [Vendor Code]",
      "SELECT Department, COUNT(*), SUM([Inventory Qty]), MAX([List Price]) FROM PRODUCT1 GROUP BY Department "
      "ORDER BY COUNT(*) DESC",
  };
  double grouping[2] = {1e9, 1e9};
  std::size_t groups[2] = {0, 0};
  for (int q = 0; q < 2; ++q) {
    for (int k = 0; k < 3; ++k) {
      auto t0 = Clock::now();
      auto rs = dao->open_recordset(kQueries[q]);
      std::size_t n = 0;
      while (!rs->eof()) {
        ++n;
        rs->move_next();
      }
      grouping[q] = std::min(grouping[q], seconds_since(t0));
      groups[q] = n;
    }
  }
  dao.reset();
  double export_time = 1e9;
  const std::string cmd = "mdb-export '" + products_path + "' PRODUCT1 > /dev/null 2>&1";
  bool have_export = true;
  for (int k = 0; k < 3 && have_export; ++k) {
    double t0 = children_seconds();
    if (std::system(cmd.c_str()) != 0) have_export = false;
    export_time = std::min(export_time, children_seconds() - t0);
  }

  std::printf("staging %zu INSERT statements through SQL, one transaction: %.3f s (%.1f us each)  goal < 1.5 s\n",
              statements.size(), sql_staging, sql_staging / statements.size() * 1e6);
  std::printf("the same rows through Table::insert, one transaction     : %.3f s\n", plain_staging);
  std::printf("ratio SQL / Table::insert                                : %.2f\n", sql_staging / plain_staging);
  for (int q = 0; q < 2; ++q) {
    std::printf("%s\n  %zu groups over %d products: %.4f s  goal < 0.1 s\n", kQueries[q], groups[q],
                bench::kProducts, grouping[q]);
  }
  if (have_export) {
    std::printf("mdb-export PRODUCT1 (the same table)                     : %.4f s\n", export_time);
    std::printf("ratio GROUP BY / mdb-export                              : %.2f and %.2f\n", grouping[0] / export_time,
                grouping[1] / export_time);
  } else {
    std::printf("mdb-export is not installed: no peer figure for the grouping\n");
  }
  std::filesystem::remove(products_path);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path());
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "jet_sql_dialect_bench: %s\n", e.what());
    return 1;
  }
}
