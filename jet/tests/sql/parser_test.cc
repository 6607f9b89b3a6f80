// The parser reads the program's statement forms as Jet does, and rejects
// malformed statements with an error naming the statement and the position.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "jet/error.h"
#include "sql/parser.h"
#include "sql_test_util.h"

namespace {

using jet::ColumnType;
using jet::Error;
using jet::ErrorCategory;
using jet::sql::ExprKind;
using jet::sql::parse_statement;
using jet::sql::StatementKind;
using sqltest::kCrLf;

TEST(SqlParser, TableDefinitionsReadJetTypeNamesWithAndWithoutBlanks) {
  std::string sql = "CREATE TABLE [Scanner_Data] (" + std::string("[Scanner_Data_ID]") +
                    " Counter Constraint PrimaryKey Primary Key, " + "[Qty] double, " + "[Item_Number] text (255), " +
                    "[Item_Order] text (255), " + "[Description] text (255), " + "[Vendor_Code] text(255), " +
                    "[Standard_Price] currency, " + "[Current_Cost] currency, " + "[Location] text(255), " +
                    "[List_Price] currency, " + "[File_Type] Integer, " + "[Notes] text(255) " + ")";
  auto st = parse_statement(sql);
  ASSERT_EQ(st.kind, StatementKind::kCreateTable);
  const auto& c = *st.create;
  EXPECT_EQ(c.name, "Scanner_Data");
  ASSERT_EQ(c.columns.size(), 12u);
  EXPECT_TRUE(c.columns[0].type.counter);
  EXPECT_TRUE(c.columns[0].primary_key);
  EXPECT_EQ(c.columns[0].constraint_name, "PrimaryKey");
  EXPECT_EQ(c.columns[1].type.type, ColumnType::kDouble);
  EXPECT_EQ(c.columns[2].type.type, ColumnType::kText);
  EXPECT_EQ(c.columns[2].type.size, 255u);
  EXPECT_EQ(c.columns[5].type.size, 255u);  // text(255)
  EXPECT_EQ(c.columns[6].type.type, ColumnType::kCurrency);
  EXPECT_EQ(c.columns[10].type.type, ColumnType::kInteger);  // Integer is the 16-bit type
  EXPECT_FALSE(c.columns[11].primary_key);

  auto alter = parse_statement("ALTER TABLE Scanner_Data ADD COLUMN Item_Order TEXT(255);");
  ASSERT_EQ(alter.kind, StatementKind::kAlterTable);
  EXPECT_EQ(alter.alter->table, "Scanner_Data");
  EXPECT_EQ(alter.alter->add_column.name, "Item_Order");
  EXPECT_EQ(alter.alter->add_column.type.size, 255u);

  auto types = parse_statement("create table t (a long, b LONG, c byte, d bit, e datetime, f memo, g single, "
                               "h decimal(10, 2), i text, j money, k autoincrement, l smallint)");
  const auto& cols = types.create->columns;
  EXPECT_EQ(cols[0].type.type, ColumnType::kLong);
  EXPECT_EQ(cols[2].type.type, ColumnType::kByte);
  EXPECT_EQ(cols[3].type.type, ColumnType::kBoolean);
  EXPECT_EQ(cols[4].type.type, ColumnType::kDateTime);
  EXPECT_EQ(cols[5].type.type, ColumnType::kMemo);
  EXPECT_EQ(cols[6].type.type, ColumnType::kSingle);
  EXPECT_EQ(cols[7].type.size, 10u);
  EXPECT_EQ(cols[7].type.scale, 2);
  EXPECT_EQ(cols[8].type.size, 255u);
  EXPECT_EQ(cols[9].type.type, ColumnType::kCurrency);
  EXPECT_TRUE(cols[10].type.counter);
  EXPECT_EQ(cols[11].type.type, ColumnType::kInteger);
}

TEST(SqlParser, CrossFileInsertTakesInAfterTheColumnList) {
  std::string sql =
      "INSERT INTO VFTable ( ITEMNUMBER, [DESC], QTY, COST, LIST, PRICE, LOCATION, VENDOR )" + kCrLf +
      "IN 'C:\\shop\\Palm Support Files\\ItemList.MDB'" + kCrLf +
      "SELECT PRODUCT1.[Product Code], PRODUCT1.[Description One] & PRODUCT1.[Description Two], "
      "PRODUCT1.[Inventory Qty], PRODUCT1.[Current Cost], PRODUCT1.[List Price], PRODUCT1.[Standard Price], "
      "PRODUCT1.Location, PRODUCT1.[Vendor Code]" +
      kCrLf + "FROM PRODUCT1" + kCrLf;
  auto st = parse_statement(sql);
  ASSERT_EQ(st.kind, StatementKind::kInsert);
  EXPECT_EQ(st.insert->target.name, "VFTable");
  EXPECT_EQ(st.insert->target.in_path, "C:\\shop\\Palm Support Files\\ItemList.MDB");
  ASSERT_EQ(st.insert->columns.size(), 8u);
  EXPECT_EQ(st.insert->columns[1], "DESC");
  ASSERT_TRUE(st.insert->select);
  const auto& items = st.insert->select->items;
  ASSERT_EQ(items.size(), 8u);
  EXPECT_EQ(items[1].expr->kind, ExprKind::kBinary);
  EXPECT_EQ(items[1].expr->op, jet::sql::BinaryOp::kConcat);
  EXPECT_EQ(items[6].expr->qualifier, "PRODUCT1");
  EXPECT_EQ(items[6].expr->name, "Location");
}

TEST(SqlParser, JoinedUpdateAndColumnDeleteNameTheirTables) {
  auto up = parse_statement(
      "UPDATE Comparison INNER JOIN Not_Scanned ON Comparison.Item_Number = Not_Scanned.Item_Number SET "
      "Not_Scanned.Description = 'Compare-Delete'");
  ASSERT_EQ(up.kind, StatementKind::kUpdate);
  EXPECT_EQ(up.update->tables.first.name, "Comparison");
  ASSERT_EQ(up.update->tables.joins.size(), 1u);
  EXPECT_EQ(up.update->tables.joins[0].kind, jet::sql::JoinKind::kInner);
  EXPECT_EQ(up.update->assignments[0].column->qualifier, "Not_Scanned");

  auto del = parse_statement("DELETE Not_Scanned.Description" + kCrLf + "FROM Not_Scanned" + kCrLf +
                             "Where Not_Scanned.Description = 'Compare-Delete'");
  ASSERT_EQ(del.kind, StatementKind::kDelete);
  EXPECT_EQ(del.del->target_table, "Not_Scanned");
  EXPECT_TRUE(del.del->where);

  auto all = parse_statement("Delete * " + kCrLf + "from Compare" + kCrLf);
  EXPECT_EQ(all.del->target_table, "");
  EXPECT_EQ(all.del->from.first.name, "Compare");
}

TEST(SqlParser, LiteralsBracketsAndSpacingFollowJet) {
  auto st = parse_statement("Select *" + kCrLf + "From [Scanner_Data]" + kCrLf + "Where (" + kCrLf +
                            "      ((Scanner_Data_ID) = 12)" + kCrLf + ")" + kCrLf);
  EXPECT_EQ(st.select->from.first.name, "Scanner_Data");
  ASSERT_TRUE(st.select->where);
  EXPECT_EQ(st.select->where->op, jet::sql::BinaryOp::kEq);

  auto quotes = parse_statement("select 'O''Brien' AS a, \"say \"\"hi\"\"\" as b, [Product Code] from [my table]");
  EXPECT_EQ(std::get<std::string>(quotes.select->items[0].expr->value), "O'Brien");
  EXPECT_EQ(std::get<std::string>(quotes.select->items[1].expr->value), "say \"hi\"");
  EXPECT_EQ(quotes.select->items[2].expr->name, "Product Code");
  EXPECT_EQ(quotes.select->from.first.name, "my table");

  auto nulls = parse_statement("SELECT a FROM t WHERE NOT a IS NULL AND (b IS NOT NULL OR c <> 1.5) ORDER BY a DESC, b");
  EXPECT_EQ(nulls.select->order_by.size(), 2u);
  EXPECT_TRUE(nulls.select->order_by[0].descending);
  EXPECT_FALSE(nulls.select->order_by[1].descending);
}

TEST(SqlParser, SplitsScriptsAtSemicolonsOutsideLiteralsAndBrackets) {
  auto parts = jet::sql::split_statements("select 'a;b' from t;\n  insert into [x;y] values (\"c;\");\n\n;  ");
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0], "select 'a;b' from t");
  EXPECT_EQ(parts[1], "\n  insert into [x;y] values (\"c;\")");
}

struct Malformed {
  const char* sql;
  const char* kind;      // statement kind named in the message ("" = none)
  const char* position;  // "line L, column C" named in the message
};

TEST(SqlParser, MalformedStatementsNameTheStatementAndThePosition) {
  const Malformed cases[] = {
      {"", "", "line 1, column 1"},
      {"Selec * From t", "", "line 1, column 1"},
      {"Select * Frm t", "SELECT", "line 1, column 10"},
      {"Select *\r\nFrom\r\nWhere x = 1", "SELECT", "line 3, column 1"},
      {"Select * From t Where", "SELECT", "line 1, column 22"},
      {"Select * From t Where (a = 1", "SELECT", "line 1, column 29"},
      {"Select * From t Where a = 'open", "SELECT", "line 1, column 27"},
      {"Select * From [t Where a = 1", "SELECT", "line 1, column 15"},
      {"Select * From [] Where a = 1", "SELECT", "line 1, column 15"},
      {"Select * From t Order a", "SELECT", "line 1, column 23"},
      {"Select a,, b From t", "SELECT", "line 1, column 10"},
      {"Select * From t Where a = = 1", "SELECT", "line 1, column 27"},
      {"Select * From t extra words", "SELECT", "line 1, column 23"},
      {"Select * From t Where a ~ 1", "SELECT", "line 1, column 25"},
      {"INSERT INTO t (a, b) VALUES (1)", "INSERT", "line 1, column 31"},
      {"INSERT INTO t VALUES 1, 2", "INSERT", "line 1, column 22"},
      {"INSERT t VALUES (1)", "INSERT", "line 1, column 8"},
      {"INSERT INTO t (a) IN SELECT a FROM u", "INSERT", "line 1, column 22"},
      {"UPDATE t a = 1", "UPDATE", "line 1, column 12"},
      {"UPDATE t SET 1 = a", "UPDATE", "line 1, column 14"},
      {"UPDATE a INNER JOIN b SET a.x = 1", "UPDATE", "line 1, column 23"},
      {"DELETE * t", "DELETE", "line 1, column 10"},
      {"DELETE * FROM", "DELETE", "line 1, column 14"},
      {"CREATE TABLE t ()", "CREATE TABLE", "line 1, column 17"},
      {"CREATE TABLE t (a text (0))", "CREATE TABLE", "line 1, column 25"},
      {"CREATE TABLE t (a text (256))", "CREATE TABLE", "line 1, column 25"},
      {"CREATE TABLE t (a widget)", "CREATE TABLE", "line 1, column 19"},
      {"CREATE TABLE t (a text, b counter Constraint PrimaryKey Primary)", "CREATE TABLE", "line 1, column 64"},
      {"CREATE TABLE (a text)", "CREATE TABLE", "line 1, column 14"},
      {"ALTER TABLE t ADD COLUMN", "ALTER TABLE", "line 1, column 25"},
      {"ALTER TABLE t COLUMN x text", "ALTER TABLE", "line 1, column 15"},
      {"Select * From t Where a = 1; Select 1 From t", "SELECT", "line 1, column 30"},
      {"Select * From t Where a = 12abc", "SELECT", "line 1, column 29"},
      {"Select * From t Where a = \x01", "SELECT", "line 1, column 27"},
  };
  for (const Malformed& m : cases) {
    SCOPED_TRACE(m.sql);
    try {
      parse_statement(m.sql);
      ADD_FAILURE() << "parsed";
    } catch (const Error& e) {
      EXPECT_EQ(e.category(), ErrorCategory::kSyntax) << e.what();
      std::string msg = e.what();
      EXPECT_NE(msg.find(m.position), std::string::npos) << msg;
      if (*m.kind) {
        EXPECT_NE(msg.find(std::string("in ") + m.kind + " statement"), std::string::npos) << msg;
      }
      if (*m.sql) {
        EXPECT_NE(msg.find("in: "), std::string::npos) << msg;
      }
    }
  }
}

TEST(SqlParser, UnsupportedConstructsSayWhatIsNotSupported) {
  const char* cases[] = {"Select a From t Union Select a From u", "Select * From t Where a In (Select b From u)",
                         "CREATE INDEX i ON t (a)", "ALTER TABLE t DROP COLUMN a"};
  for (const char* sql : cases) {
    SCOPED_TRACE(sql);
    try {
      parse_statement(sql);
      ADD_FAILURE() << "parsed";
    } catch (const Error& e) {
      EXPECT_EQ(e.category(), ErrorCategory::kUnsupported) << e.what();
      EXPECT_NE(std::string(e.what()).find("not supported"), std::string::npos);
    }
  }
}

TEST(SqlParser, DeepNestingIsAnErrorNotACrash) {
  std::string deep = "Select * From t Where " + std::string(5000, '(') + "a" + std::string(5000, ')');
  EXPECT_THROW(parse_statement(deep), Error);
  std::string nots = "Select * From t Where ";
  for (int i = 0; i < 5000; ++i) nots += "NOT ";
  nots += "a";
  EXPECT_THROW(parse_statement(nots), Error);
  std::string negs = "Select * From t Where a = " + std::string(5000, '-') + "1";
  EXPECT_THROW(parse_statement(negs), Error);
}

}  // namespace

// The remembering parser (one INSERT shape kept between statements) gives
// exactly the tree, and exactly the error, of a full parse: statement after
// statement of one shape, with other shapes, other literals, negative numbers,
// Null, dates, quotes, spacing and faults in between.
void expect_same_expr(const jet::sql::Expr& a, const jet::sql::Expr& b, const std::string& sql) {
  EXPECT_EQ(a.kind, b.kind) << sql;
  EXPECT_EQ(a.pos, b.pos) << sql;
  EXPECT_EQ(a.value, b.value) << sql;
  EXPECT_EQ(a.number_text, b.number_text) << sql;
  EXPECT_EQ(a.name, b.name) << sql;
  ASSERT_EQ(a.args.size(), b.args.size()) << sql;
  for (std::size_t i = 0; i < a.args.size(); ++i) expect_same_expr(*a.args[i], *b.args[i], sql);
}

// Parses `sql` with `remembering` and in full; expects the same error or the
// same statement. Returns whether it parsed.
bool parse_both_ways(jet::sql::StatementParser& remembering, const std::string& sql) {
  std::string full_error, remembered_error;
  jet::sql::Statement full, fast;
  try {
    full = parse_statement(sql);
  } catch (const Error& e) {
    full_error = e.what();
  }
  try {
    fast = remembering.parse(sql);
  } catch (const Error& e) {
    remembered_error = e.what();
  }
  EXPECT_EQ(remembered_error, full_error) << sql;
  if (!full_error.empty() || !remembered_error.empty()) return false;
  EXPECT_EQ(fast.kind, full.kind) << sql;
  EXPECT_EQ(fast.text, sql);
  if (full.kind != StatementKind::kInsert || fast.kind != StatementKind::kInsert) return true;
  EXPECT_EQ(fast.insert->target.name, full.insert->target.name) << sql;
  EXPECT_EQ(fast.insert->columns, full.insert->columns) << sql;
  EXPECT_EQ(fast.insert->select != nullptr, full.insert->select != nullptr) << sql;
  EXPECT_EQ(fast.insert->values.size(), full.insert->values.size()) << sql;
  for (std::size_t i = 0; i < full.insert->values.size() && i < fast.insert->values.size(); ++i) {
    expect_same_expr(*fast.insert->values[i], *full.insert->values[i], sql);
  }
  return true;
}

TEST(SqlParser, RememberedInsertShapeParsesAsTheFullParse) {
  const std::string head = "INSERT INTO Scanner_Data (Item_Number,Qty,Standard_Price,Description) VALUES (";
  const std::vector<std::string> statements = {
      head + "'A1',2,3.25,'first')",
      head + "'A2',-2,0.0001,'it''s \"quoted\"')",  // a negative number, doubled quotes
      head + "'A3',12.5,   7 , 'spaced' );",        // blanks and a trailing ';'
      head + "Null,1E3,#2026-01-31#,'')",           // Null, an exponent, a date
      head + "'A4',2147483648,99999999999999999999,'big')",
      head + "'A5',1,2)",                      // one value short: the error of the full parse
      head + "'A6',1,2,'x' & 'y')",            // not a plain literal: parsed in full
      head + "'A7',1,2,'unclosed)",            // a lexer fault after the head
      head + "'A8',1,2,'x',5)",                // one value too many
      head + "'A9',1,2,'x') extra",            // words after the list
      head + "'B1',1,2,#2026-13-45#)",         // not a date
      head + "'B2',1,2,1e999)",                // out of range
      "insert into Scanner_Data (Item_Number,Qty,Standard_Price,Description) VALUES ('C1',1,2,'lower case')",
      "INSERT INTO Other VALUES (1, 'no column list')",
      "INSERT INTO Other VALUES (2, 'same shape again')",
      "UPDATE Other SET a = 1",
      head + "'D1',- 4,5,'after another shape')",
      "INSERT INTO Other SELECT * FROM Third",
      head + "'D2',4,5,'last')",
  };
  jet::sql::StatementParser remembering;
  int parsed = 0;
  for (const std::string& sql : statements) parsed += parse_both_ways(remembering, sql);
  EXPECT_EQ(parsed, 13);
  // Read through the remembered shape: A2, A3, the Null one and A4 (after
  // A1), "same shape again" (after the first INSERT INTO Other), D2 (after
  // D1, past the SELECT form). The faults, the lower-case head and the other
  // shapes were parsed in full.
  EXPECT_EQ(remembering.shortcuts(), 6u);
}

// The same over generated statements of the staging's shape, each value list
// then damaged at random (a character inserted, removed or replaced with one
// that matters to the lexer or the parser).
TEST(SqlParser, RememberedInsertShapeMatchesTheFullParseOnDamagedValueLists) {
  const std::string head = "INSERT INTO Scanner_Data (Item_Number,Qty,Standard_Price,Description) VALUES (";
  const std::string kinds = "'\",()-+#;.eE0123456789aN [] ";
  std::mt19937 rng(20261207);
  const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  const auto value = [&]() -> std::string {
    switch (pick(6)) {
      case 0: return "'it''s " + std::to_string(pick(1000)) + "'";
      case 1: return std::to_string(pick(100000)) + "." + std::to_string(pick(10000));
      case 2: return "-" + std::to_string(pick(100));
      case 3: return "#2026-" + std::to_string(1 + pick(12)) + "-" + std::to_string(1 + pick(28)) + "#";
      case 4: return "Null";
      default: return "\"A" + std::to_string(pick(99)) + "\"";
    }
  };
  jet::sql::StatementParser remembering;
  int parsed = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string values;
    for (int v = 0; v < 4; ++v) values += (v ? "," : "") + value();
    values += ")";
    if (round % 3 != 0) {
      const std::size_t at = pick(values.size() + 1);
      const char c = kinds[pick(kinds.size())];
      switch (pick(3)) {
        case 0: values.insert(values.begin() + static_cast<std::ptrdiff_t>(at), c); break;
        case 1: if (at < values.size()) values.erase(at, 1); break;
        default: if (at < values.size()) values[at] = c; break;
      }
    }
    parsed += parse_both_ways(remembering, head + values);
  }
  EXPECT_GT(parsed, 1000);
  EXPECT_GT(remembering.shortcuts(), 1000u);
}
