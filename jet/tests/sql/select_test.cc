// SELECT on a products table written by another Jet writer: Jet's comparison
// rules, Null, ORDER BY in the General sort order, index use, joins, errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>

#include "jet/database.h"
#include "jet/error.h"
#include "sql/executor.h"
#include "sql_test_util.h"

namespace {

using jet::Error;
using jet::ErrorCategory;
using jet::Row;
using jet::Value;
using sqltest::kCrLf;

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

class SqlSelect : public ::testing::Test {
 protected:
  void SetUp() override {
    jet::OpenOptions o;
    o.password = sqltest::kProductsPassword;
    db_ = jet::Database::open(sqltest::fixture("products_small.mdb"), o);
    exec_ = std::make_unique<jet::sql::Executor>(*db_);
    jet::Table& t = db_->table("PRODUCT1");
    all_ = t.read_all();
    code_ = t.def().find_column("Product Code");
    desc1_ = t.def().find_column("Description One");
    desc2_ = t.def().find_column("Description Two");
    vendor_ = t.def().find_column("Vendor Code");
    bulk_ = t.def().find_column("Bulk Product Code");
    location_ = t.def().find_column("Location");
  }
  jet::sql::ResultSet run(const std::string& sql) { return exec_->execute(sql).result; }
  static std::string text(const Value& v) { return jet::is_null(v) ? "<Null>" : std::get<std::string>(v); }

  std::unique_ptr<jet::Database> db_;
  std::unique_ptr<jet::sql::Executor> exec_;
  std::vector<Row> all_;
  int code_, desc1_, desc2_, vendor_, bulk_, location_;
};

TEST_F(SqlSelect, ProductLookupSeeksThePrimaryKeyAndIgnoresLetterCase) {
  // The look-up the posting rules issue, with the program's line breaks.
  const std::string& code = std::get<std::string>(all_[0][code_]);  // "b00000"
  auto rs = run("Select *" + kCrLf + "From Product1" + kCrLf + "Where [Product Code] = \"" + code + "\"");
  EXPECT_EQ(rs.plan, "seek PRODUCT1.PrimaryKey");
  ASSERT_EQ(rs.rows.size(), 1u);
  EXPECT_EQ(rs.rows[0], all_[0]);
  ASSERT_EQ(rs.row_ids.size(), 1u);

  // Jet compares text without regard to case, through the index or not.
  std::string upper = code;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  auto seek = run("Select * " + kCrLf + "From PRODUCT1" + kCrLf + "Where  [Product Code]  = \"" + upper + "\"");
  ASSERT_EQ(seek.rows.size(), 1u);
  EXPECT_EQ(seek.rows[0][code_], all_[0][code_]);
  auto scan = run("Select [Product Code] From PRODUCT1 Where [Product Code] & '' = '" + upper + "'");
  EXPECT_EQ(scan.plan, "scan PRODUCT1");
  ASSERT_EQ(scan.rows.size(), 1u);

  auto none = run("Select * From Product1 Where [Product Code] = \"no such code\"");
  EXPECT_TRUE(none.rows.empty());
}

TEST_F(SqlSelect, TextEqualityMatchesTheCaseFreeFilterOnEveryVendor) {
  std::map<std::string, std::size_t> expected;
  for (const Row& r : all_) {
    if (!jet::is_null(r[vendor_])) ++expected[lower(std::get<std::string>(r[vendor_]))];
  }
  ASSERT_GT(expected.size(), 2u);
  for (const auto& [vendor, count] : expected) {
    std::string quoted;
    for (char c : vendor) {
      quoted.push_back(c);
      if (c == '\'') quoted.push_back('\'');
    }
    auto rs = run("SELECT [Product Code] FROM PRODUCT1 WHERE [Vendor Code] = '" + quoted + "'");
    EXPECT_EQ(rs.rows.size(), count) << vendor;
    EXPECT_EQ(rs.plan, "seek PRODUCT1.Vendor Code");
  }
}

TEST_F(SqlSelect, NullIsNeitherEqualNorUnequalAndJoinsAsEmptyText) {
  std::size_t nulls = 0;
  for (const Row& r : all_) nulls += jet::is_null(r[desc2_]);
  ASSERT_GT(nulls, 0u);
  ASSERT_LT(nulls, all_.size());
  EXPECT_EQ(run("Select * From PRODUCT1 Where [Description Two] Is Null").rows.size(), nulls);
  EXPECT_EQ(run("Select * From PRODUCT1 Where Not [Description Two] Is Null").rows.size(), all_.size() - nulls);
  EXPECT_EQ(run("Select * From PRODUCT1 Where [Description Two] = Null").rows.size(), 0u);
  EXPECT_EQ(run("Select * From PRODUCT1 Where [Description Two] <> 'zzz'").rows.size(), all_.size() - nulls);
  EXPECT_EQ(run("Select * From PRODUCT1 Where Not ([Description Two] = 'zzz')").rows.size(), all_.size() - nulls);
  // Null OR true is true; Null AND false is false.
  EXPECT_EQ(run("Select * From PRODUCT1 Where [Description Two] = 'zzz' Or 1 = 1").rows.size(), all_.size());

  auto joined = run("SELECT PRODUCT1.[Description One] & PRODUCT1.[Description Two] AS D, "
                    "[Description Two] + 'x' AS P FROM PRODUCT1");
  ASSERT_EQ(joined.rows.size(), all_.size());
  for (std::size_t i = 0; i < all_.size(); ++i) {
    std::string expected = text(all_[i][desc1_]);
    if (!jet::is_null(all_[i][desc2_])) expected += text(all_[i][desc2_]);
    EXPECT_EQ(text(joined.rows[i][0]), expected);
    EXPECT_EQ(jet::is_null(joined.rows[i][1]), jet::is_null(all_[i][desc2_]));  // + propagates Null
  }
}

TEST_F(SqlSelect, OrderByTextFollowsTheIndexOrderAccessWrote) {
  // The file's own index on [Description One] is in the General sort order;
  // ORDER BY must give the same sequence of (case-folded) values.
  jet::Table& t = db_->table("PRODUCT1");
  std::vector<std::string> from_index;
  Row row;
  for (jet::RowId id : t.scan_index("Description One")) {
    t.read_row(id, row);
    from_index.push_back(lower(text(row[desc1_])));
  }
  auto rs = run("Select [Description One] From PRODUCT1 Order By [Description One]");
  ASSERT_EQ(rs.rows.size(), from_index.size());
  std::vector<std::string> from_sql;
  for (const Row& r : rs.rows) from_sql.push_back(lower(text(r[0])));
  EXPECT_EQ(from_sql, from_index);

  auto desc = run("Select [Description One] From PRODUCT1 Order By [Description One] DESC");
  std::vector<std::string> reversed;
  for (const Row& r : desc.rows) reversed.push_back(lower(text(r[0])));
  std::reverse(reversed.begin(), reversed.end());
  EXPECT_EQ(reversed, from_index);
}

TEST_F(SqlSelect, OrderByPutsNullFirstAndNumbersInValueOrder) {
  auto rs = run("Select [Inventory Qty], [Product Code] From PRODUCT1 Order By [Inventory Qty], [Product Code] DESC");
  ASSERT_EQ(rs.rows.size(), all_.size());
  bool seen_value = false;
  double last = -1e300;
  for (const Row& r : rs.rows) {
    if (jet::is_null(r[0])) {
      EXPECT_FALSE(seen_value) << "Null after a value";
      continue;
    }
    seen_value = true;
    double d = std::get<double>(r[0]);
    EXPECT_GE(d, last);
    last = d;
  }
}

TEST_F(SqlSelect, JoinsSeekAnIndexedColumnAndHashAnyOther) {
  // Products with a bulk product, joined to it through the primary key.
  std::map<std::string, std::size_t> by_code;
  for (std::size_t i = 0; i < all_.size(); ++i) by_code[lower(text(all_[i][code_]))] = i;
  std::size_t expected = 0;
  for (const Row& r : all_) {
    if (!jet::is_null(r[bulk_]) && by_code.count(lower(text(r[bulk_])))) ++expected;
  }
  auto rs = run("SELECT a.[Product Code], b.[Product Code] AS Bulk FROM PRODUCT1 AS a INNER JOIN PRODUCT1 b "
                "ON a.[Bulk Product Code] = b.[Product Code]");
  EXPECT_EQ(rs.plan, "scan PRODUCT1; seek PRODUCT1.PrimaryKey");
  EXPECT_EQ(rs.rows.size(), expected);
  EXPECT_EQ(rs.base_table, nullptr);  // a join is not updatable

  // Same location: no index on Location, so the joined table is hashed once.
  std::map<std::string, std::size_t> per_location;
  for (const Row& r : all_) {
    if (!jet::is_null(r[location_])) ++per_location[lower(text(r[location_]))];
  }
  std::size_t pairs = 0;
  for (const auto& [loc, n] : per_location) pairs += n * n;
  auto hashed = run("SELECT a.Location FROM PRODUCT1 a INNER JOIN PRODUCT1 b ON a.Location = b.Location");
  EXPECT_EQ(hashed.plan, "scan PRODUCT1; hash PRODUCT1.Location");
  EXPECT_EQ(hashed.rows.size(), pairs);

  // LEFT JOIN keeps products without a bulk product, with Null on the right.
  auto left = run("SELECT a.[Product Code], b.[Product Code] FROM PRODUCT1 a LEFT JOIN PRODUCT1 b "
                  "ON a.[Bulk Product Code] = b.[Product Code]");
  EXPECT_EQ(left.rows.size(), all_.size());
}

TEST_F(SqlSelect, ColumnNamesAliasesAndStars) {
  auto rs = run("SELECT PRODUCT1.[Product Code] AS Item_Number, PRODUCT1.Location, 0 AS Scanner_Qty,  "
                "PRODUCT1.[List Price] as List_Price, [Inventory Qty] * 2 FROM PRODUCT1");
  ASSERT_EQ(rs.columns.size(), 5u);
  EXPECT_EQ(rs.columns[0].name, "Item_Number");
  EXPECT_EQ(rs.columns[1].name, "Location");
  EXPECT_EQ(rs.columns[2].name, "Scanner_Qty");
  EXPECT_EQ(rs.columns[3].name, "List_Price");
  EXPECT_EQ(rs.columns[4].name, "Expr1000");
  EXPECT_EQ(std::get<int32_t>(rs.rows[0][2]), 0);
  auto star = run("SELECT a.*, b.[Product Code] FROM PRODUCT1 a, PRODUCT1 b WHERE a.[Product Code] = b.[Product Code]");
  EXPECT_EQ(star.columns.size(), db_->table("PRODUCT1").columns().size() + 1);
  EXPECT_EQ(star.columns[0].name, "a.Product Code");
  EXPECT_EQ(star.rows.size(), all_.size());
}

TEST_F(SqlSelect, ErrorsNameTheTableColumnValueOrFile) {
  auto expect_error = [&](const std::string& sql, ErrorCategory cat, const std::string& needle) {
    SCOPED_TRACE(sql);
    try {
      exec_->execute(sql);
      ADD_FAILURE() << "ran";
    } catch (const Error& e) {
      EXPECT_EQ(e.category(), cat) << e.what();
      EXPECT_NE(std::string(e.what()).find(needle), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("SELECT statement"), std::string::npos) << e.what();
    }
  };
  expect_error("Select * From Product2", ErrorCategory::kNotFound, "Product2");
  expect_error("Select [Product Kode] From Product1", ErrorCategory::kNotFound, "Product Kode");
  expect_error("Select * From Product1 Where Product1.Nope = 1", ErrorCategory::kNotFound, "Nope");
  expect_error("Select * From Product1 Where Other.Location = 1", ErrorCategory::kNotFound, "Other");
  expect_error("Select * From Product1 Where [Vendor Code] = 5", ErrorCategory::kConstraint, "type mismatch");
  expect_error("Select [Inventory Qty] / 0 From Product1", ErrorCategory::kInvalidArgument, "division by zero");
  expect_error("Select * From t In '/nonexistent/dir/other.mdb'", ErrorCategory::kNotFound, "/nonexistent/dir/other.mdb");
  expect_error("Select Location From Product1 a, Product1 b", ErrorCategory::kInvalidArgument, "Location");
}

TEST_F(SqlSelect, LikeInBetweenAndArithmetic) {
  std::size_t items = 0;
  for (const Row& r : all_) items += lower(text(r[desc1_])).rfind("item 1", 0) == 0;
  EXPECT_EQ(run("Select * From PRODUCT1 Where [Description One] Like 'ITEM 1*'").rows.size(), items);
  auto in = run("Select * From PRODUCT1 Where [Product Code] In ('000037', '000074', 'none')");
  EXPECT_EQ(in.rows.size(), 2u);
  int dep = db_->table("PRODUCT1").def().find_column("Department");
  std::size_t in_range = 0;
  for (const Row& r : all_) {
    int32_t d = std::get<int32_t>(r[dep]);
    in_range += d >= 10 && d <= 12;
  }
  ASSERT_GT(in_range, 0u);
  auto between = run("Select [Department] From PRODUCT1 Where [Department] Between 10 And 12");
  EXPECT_EQ(between.rows.size(), in_range);
  auto money = run("Select [Standard Price] - [Current Cost] From PRODUCT1 Where [Product Code] = '000037'");
  ASSERT_EQ(money.rows.size(), 1u);
  EXPECT_EQ(std::get<jet::Currency>(money.rows[0][0]).ten_thousandths, 1124800 - 674880);
}

}  // namespace
