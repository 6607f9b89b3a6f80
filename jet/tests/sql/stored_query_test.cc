// Access's own SQL: the stored queries of queryTestV2000.mdb keep their
// pieces (tables, output expressions, joins, WHERE, GROUP BY, HAVING, ORDER
// BY) as the text Access wrote, with its nested parentheses, bracketed and
// qualified names and double-quoted texts. Every piece must parse, and the
// queries rebuilt from the pieces give the answers Jet's rules define on
// rows put into the fixture's empty tables.
#include <gtest/gtest.h>

#include "jet/database.h"
#include "jet/error.h"
#include "sql/executor.h"
#include "sql/parser.h"
#include "sql_test_util.h"

namespace {

using jet::Value;

class StoredQueries : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.copy_fixture("queryTestV2000.mdb");
    jet::OpenOptions o;
    o.read_write = true;
    db_ = jet::Database::open(path_, o);
    exec_ = std::make_unique<jet::sql::Executor>(*db_);
  }
  jet::sql::ResultSet run(const std::string& sql) { return exec_->execute(sql).result; }
  static std::string s(const Value& v) { return jet::is_null(v) ? "<Null>" : std::get<std::string>(v); }

  sqltest::ScratchDir dir_;
  std::string path_;
  std::unique_ptr<jet::Database> db_;
  std::unique_ptr<jet::sql::Executor> exec_;
};

TEST_F(StoredQueries, EveryExpressionAccessStoredParses) {
  // Attributes: 6 output column, 7 join condition, 8 WHERE, 9 GROUP BY,
  // 10 HAVING, 11 ORDER BY.
  auto rs = run("SELECT Attribute, Expression FROM MSysQueries WHERE Attribute IN (6, 7, 8, 9, 10, 11) "
                "AND Expression Is Not Null");
  ASSERT_GE(rs.rows.size(), 30u);
  int aggregates = 0;
  for (const jet::Row& r : rs.rows) {
    const std::string text = s(r[1]);
    SCOPED_TRACE(text);
    if (text.size() > 2 && text.compare(text.size() - 2, 2, ".*") == 0) continue;  // an output "Table1.*"
    jet::sql::ExprPtr e;
    ASSERT_NO_THROW(e = jet::sql::parse_criteria(text));
    aggregates += e->kind == jet::sql::ExprKind::kAggregate;
  }
  EXPECT_GE(aggregates, 3);  // Max(Table2.col1), Count([Table2].[col2]), Avg(Table2_1.col2)
}

TEST_F(StoredQueries, RebuiltQueriesGiveJetsAnswers) {
  for (const char* row : {"('1', 'foo', 'a')", "('2', 'buzz', 'b')", "('3', 'blah', 'c')", "('4', 'bazz', 'd')"}) {
    run(std::string("INSERT INTO Table1 (col1, col2, col3) VALUES ") + row);
    run(std::string("INSERT INTO Table2 (col1, col2, col3) VALUES ") + row);
  }
  run("INSERT INTO Table3 (col1, col2, col3) VALUES ('1', 'x', 'foo')");
  run("INSERT INTO Table3 (col1, col2, col3) VALUES ('2', 'y', 'buzz')");

  // DeleteQuery's selection: (((Table1.col1)>"blah")) compares text; no
  // digit sorts after a letter, so nothing is selected.
  EXPECT_TRUE(run("SELECT Table1.col1, Table1.col2, Table1.col3 FROM [Table1] WHERE (((Table1.col1)>\"blah\"))")
                  .rows.empty());
  EXPECT_EQ(run("SELECT Table1.col1 FROM [Table1] WHERE (((Table1.col2)>\"BLAH\"))").rows.size(), 2u);  // foo, buzz

  // SelectQuery: three tables joined, Access's WHERE with Or and In.
  auto rs = run("SELECT DISTINCT Table1.*, Table2.col1, Table2.col2, Table3.col3 "
                "FROM (Table1 INNER JOIN Table3 ON Table1.col1 = Table3.col1) "
                "INNER JOIN Table2 ON Table3.col1 = Table2.col1 "
                "WHERE (((Table2.col2)=\"foo\" Or (Table2.col2) In (\"buzz\",\"bazz\"))) ORDER BY Table2.col1");
  ASSERT_EQ(rs.rows.size(), 2u);
  EXPECT_EQ(s(rs.rows[0][4]), "foo");
  EXPECT_EQ(s(rs.rows[1][4]), "buzz");

  // MakeTableQuery: Max with GROUP BY and the stored HAVING
  // (((Max(Table2.col1))="buzz") AND ((Table2.col2)<>"blah")): no group has
  // "buzz" as its largest col1, so none is kept; with "2" one is.
  // (The stored form joins with RIGHT JOIN, which this engine asks to be
  // written as the LEFT JOIN it equals.)
  rs = run("SELECT Max(Table2.col1) AS MaxOfcol1, Table2.col2, Table3.col2 FROM Table3 LEFT JOIN Table2 ON "
           "Table3.col1 = Table2.col1 GROUP BY Table2.col2, Table3.col2 "
           "HAVING (((Max(Table2.col1))=\"2\") AND ((Table2.col2)<>\"blah\"))");
  ASSERT_EQ(rs.rows.size(), 1u);
  EXPECT_EQ(s(rs.rows[0][0]), "2");
  EXPECT_EQ(s(rs.rows[0][1]), "buzz");
  EXPECT_EQ(rs.columns[0].name, "MaxOfcol1");

  // CrosstabQuery's aggregates over a self-join alias (Table2_1).
  rs = run("SELECT Count([Table2].[col2]) AS CountOfcol2, [Table1].[col1], Max(Table2_1.col2) AS MaxOfcol2 "
           "FROM ([Table1] INNER JOIN [Table2] ON [Table1].[col1]=[Table2].[col1]) INNER JOIN [Table2] AS Table2_1 "
           "ON [Table2].[col1]=Table2_1.col1 WHERE ((([Table1].[col1])>\"1\")) GROUP BY [Table1].[col1] "
           "HAVING Max(Table2_1.col2) > \"bazz\" ORDER BY [Table1].[col1]");
  ASSERT_EQ(rs.rows.size(), 2u);  // groups "2" (buzz) and "3" (blah); "4" (bazz) is not above "bazz"
  EXPECT_EQ(rs.rows[0][0], Value(int32_t{1}));
  EXPECT_EQ(s(rs.rows[0][1]), "2");
  EXPECT_EQ(s(rs.rows[1][2]), "blah");
}

}  // namespace
