// Aggregates, GROUP BY and HAVING over the products table, checked against
// the same figures worked out from the table's rows; Jet's Null rules and
// result types; the queries Jet refuses.
#include <gtest/gtest.h>

#include <map>

#include "jet/database.h"
#include "jet/error.h"
#include "sql/executor.h"
#include "sql/values.h"
#include "sql_test_util.h"

namespace {

using jet::Currency;
using jet::Error;
using jet::Row;
using jet::Value;

class Aggregates : public ::testing::Test {
 protected:
  void SetUp() override {
    jet::OpenOptions o;
    o.password = sqltest::kProductsPassword;
    db_ = jet::Database::open(sqltest::fixture("products_small.mdb"), o);
    exec_ = std::make_unique<jet::sql::Executor>(*db_);
    jet::Table& t = db_->table("PRODUCT1");
    all_ = t.read_all();
    vendor_ = t.def().find_column("Vendor Code");
    price_ = t.def().find_column("Standard Price");
    qty_ = t.def().find_column("Inventory Qty");
    desc2_ = t.def().find_column("Description Two");
    code_ = t.def().find_column("Product Code");
    dept_ = t.def().find_column("Department");
  }
  jet::sql::ResultSet run(const std::string& sql) { return exec_->execute(sql).result; }
  std::string error_of(const std::string& sql) {
    try {
      run(sql);
    } catch (const Error& e) {
      return e.what();
    }
    return "(no error)";
  }
  // Vendor code's General-order key: the grouping Jet does (letter case aside).
  static std::string key(const Value& v) { return jet::sql::sort_key(v); }

  std::unique_ptr<jet::Database> db_;
  std::unique_ptr<jet::sql::Executor> exec_;
  std::vector<Row> all_;
  int vendor_, price_, qty_, desc2_, code_, dept_;
};

TEST_F(Aggregates, WholeTableFiguresAndTheirTypes) {
  int32_t nonnull_desc2 = 0;
  int64_t price_sum = 0;
  double qty_sum = 0;
  Value min_code, max_code;
  for (const Row& r : all_) {
    nonnull_desc2 += !jet::is_null(r[desc2_]);
    if (!jet::is_null(r[price_])) price_sum += std::get<Currency>(r[price_]).ten_thousandths;
    if (!jet::is_null(r[qty_])) qty_sum += std::get<double>(r[qty_]);
    if (jet::is_null(min_code) || jet::sql::compare_values(r[code_], min_code) < 0) min_code = r[code_];
    if (jet::is_null(max_code) || jet::sql::compare_values(r[code_], max_code) > 0) max_code = r[code_];
  }
  ASSERT_GT(nonnull_desc2, 0);
  ASSERT_LT(nonnull_desc2, static_cast<int32_t>(all_.size()));  // the fixture has Nulls there
  auto rs = run("SELECT COUNT(*), COUNT([Description Two]), SUM([Standard Price]), SUM([Inventory Qty]), "
                "MIN([Product Code]), MAX([Product Code]), AVG([Standard Price]) FROM PRODUCT1");
  ASSERT_EQ(rs.rows.size(), 1u);
  const Row& r = rs.rows[0];
  EXPECT_EQ(r[0], Value(static_cast<int32_t>(all_.size())));
  EXPECT_EQ(r[1], Value(nonnull_desc2));  // COUNT(expr) leaves out Nulls
  EXPECT_EQ(r[2], Value(Currency{price_sum}));  // SUM of Currency is Currency, exact
  EXPECT_EQ(rs.columns[2].type, jet::ColumnType::kCurrency);
  EXPECT_NEAR(std::get<double>(r[3]), qty_sum, 1e-6);
  EXPECT_EQ(r[4], min_code);
  EXPECT_EQ(r[5], max_code);
  EXPECT_EQ(rs.columns[0].type, jet::ColumnType::kLong);
  ASSERT_TRUE(std::holds_alternative<Currency>(r[6]));  // AVG of Currency is Currency
  EXPECT_NEAR(static_cast<double>(std::get<Currency>(r[6]).ten_thousandths),
              static_cast<double>(price_sum) / static_cast<double>(all_.size()), 1.0);
}

TEST_F(Aggregates, NoRowsGiveZeroCountAndNullSums) {
  auto rs = run("SELECT COUNT(*), COUNT([Vendor Code]), SUM([Standard Price]), AVG([Inventory Qty]), "
                "MIN([Product Code]) FROM PRODUCT1 WHERE [Product Code] = 'no such code'");
  ASSERT_EQ(rs.rows.size(), 1u);
  EXPECT_EQ(rs.rows[0][0], Value(int32_t{0}));
  EXPECT_EQ(rs.rows[0][1], Value(int32_t{0}));
  EXPECT_TRUE(jet::is_null(rs.rows[0][2]));
  EXPECT_TRUE(jet::is_null(rs.rows[0][3]));
  EXPECT_TRUE(jet::is_null(rs.rows[0][4]));
  EXPECT_EQ(rs.columns[2].type, jet::ColumnType::kCurrency);  // the type without a row to show it
  // With GROUP BY, no rows means no groups.
  EXPECT_TRUE(run("SELECT [Vendor Code], COUNT(*) FROM PRODUCT1 WHERE [Product Code] = 'none' GROUP BY "
                  "[Vendor Code]")
                  .rows.empty());
}

TEST_F(Aggregates, GroupByHavingAndOrderByAnAggregate) {
  struct Figures {
    Value vendor;
    int32_t rows = 0;
    int64_t price = 0;
  };
  std::map<std::string, Figures> expected;
  for (const Row& r : all_) {
    Figures& f = expected[key(r[vendor_])];
    if (f.rows == 0) f.vendor = r[vendor_];
    ++f.rows;
    if (!jet::is_null(r[price_])) f.price += std::get<Currency>(r[price_]).ten_thousandths;
  }
  ASSERT_GT(expected.size(), 2u);
  auto rs = run("SELECT [Vendor Code], COUNT(*) AS N, SUM([Standard Price]) AS Total FROM PRODUCT1 "
                "GROUP BY [Vendor Code]");
  ASSERT_EQ(rs.rows.size(), expected.size());
  auto it = expected.begin();
  for (const Row& r : rs.rows) {  // groups come in the order of their values, Null first
    EXPECT_EQ(key(r[0]), it->first);
    EXPECT_EQ(r[1], Value(it->second.rows));
    EXPECT_EQ(r[2], Value(Currency{it->second.price}));
    ++it;
  }
  // HAVING on a count, ORDER BY the count descending.
  int32_t threshold = 0;
  for (const auto& [k, f] : expected) threshold = std::max(threshold, f.rows);
  threshold /= 2;
  std::vector<int32_t> wanted;
  for (const auto& [k, f] : expected) {
    if (f.rows > threshold) wanted.push_back(f.rows);
  }
  std::sort(wanted.rbegin(), wanted.rend());
  rs = run("SELECT [Vendor Code], COUNT(*) FROM PRODUCT1 GROUP BY [Vendor Code] HAVING COUNT(*) > " +
           std::to_string(threshold) + " ORDER BY COUNT(*) DESC");
  ASSERT_EQ(rs.rows.size(), wanted.size());
  for (std::size_t i = 0; i < wanted.size(); ++i) EXPECT_EQ(rs.rows[i][1], Value(wanted[i]));
  // An expression over a grouped column and aggregates together.
  rs = run("SELECT UCase([Vendor Code]) & ':' & CStr(COUNT(*)) FROM PRODUCT1 GROUP BY [Vendor Code] "
           "HAVING [Vendor Code] Is Not Null");
  EXPECT_EQ(rs.rows.size(), expected.size() - expected.count(key(Value{})));
}

TEST_F(Aggregates, GroupingOnTwoColumnsAndOnAnExpression) {
  std::map<std::pair<std::string, std::string>, int32_t> by_two;
  std::map<bool, int32_t> by_price;
  for (const Row& r : all_) {
    ++by_two[{key(r[vendor_]), key(r[dept_])}];
    bool dear = !jet::is_null(r[price_]) && std::get<Currency>(r[price_]).ten_thousandths > 100000;
    if (!jet::is_null(r[price_])) ++by_price[dear];
  }
  auto rs = run("SELECT [Vendor Code], Department, COUNT(*) FROM PRODUCT1 GROUP BY [Vendor Code], Department");
  EXPECT_EQ(rs.rows.size(), by_two.size());
  rs = run("SELECT [Standard Price] > 10, COUNT(*) FROM PRODUCT1 WHERE [Standard Price] Is Not Null "
           "GROUP BY [Standard Price] > 10");
  ASSERT_EQ(rs.rows.size(), by_price.size());
  for (const Row& r : rs.rows) EXPECT_EQ(r[1], Value(by_price[std::get<bool>(r[0])]));
}

TEST_F(Aggregates, QueriesJetRefuses) {
  EXPECT_NE(error_of("SELECT [Vendor Code], COUNT(*) FROM PRODUCT1").find("does not include the specified expression "
                                                                          "'Vendor Code'"),
            std::string::npos);
  EXPECT_NE(error_of("SELECT * FROM PRODUCT1 GROUP BY [Vendor Code]").find("Cannot group on fields selected with '*'"),
            std::string::npos);
  EXPECT_NE(error_of("SELECT COUNT(*) FROM PRODUCT1 WHERE COUNT(*) > 1").find("aggregate function in WHERE"),
            std::string::npos);
  EXPECT_NE(error_of("SELECT SUM(COUNT(*)) FROM PRODUCT1").find("Cannot have aggregate function in expression"),
            std::string::npos);
  EXPECT_NE(error_of("SELECT COUNT(DISTINCT [Vendor Code]) FROM PRODUCT1").find("no DISTINCT inside"),
            std::string::npos);
  EXPECT_NE(error_of("SELECT SUM([Product Code]) FROM PRODUCT1").find("type mismatch"), std::string::npos);
  EXPECT_NE(error_of("SELECT [Product Code] FROM PRODUCT1 GROUP BY [Vendor Code]").find("'Product Code'"),
            std::string::npos);
}

}  // namespace
