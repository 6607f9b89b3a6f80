// The engine's writes follow the value conversions' rules: currency rounds
// half to even, and a value out of its column's range is Jet's overflow
// error with nothing stored - through statements and through recordsets.
#include <gtest/gtest.h>

#include <cmath>

#include "jet/dao.h"
#include "jet/error.h"
#include "sql_test_util.h"

namespace {

using jet::dao::Database;

class ValueRules : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = Database::create(dir_.path("values.mdb").string());
    db_->execute("CREATE TABLE T (ID COUNTER PRIMARY KEY, Amount CURRENCY, Small BYTE, Mid SHORT, Big LONG, "
                 "Ratio REAL, Stamp DATETIME)");
  }

  int64_t stored_amount(const std::string& where) {
    auto rs = db_->open_recordset("SELECT Amount FROM T WHERE " + where);
    EXPECT_FALSE(rs->eof());
    return std::get<jet::Currency>(rs->field("Amount")).ten_thousandths;
  }

  int64_t row_count() {
    auto rs = db_->open_recordset("T");
    return rs->record_count();
  }

  void expect_overflow(const std::string& statement, const std::string& column) {
    int64_t before = row_count();
    try {
      db_->execute(statement);
      ADD_FAILURE() << "no overflow for: " << statement;
    } catch (const jet::Error& e) {
      EXPECT_EQ(e.category(), jet::ErrorCategory::kOverflow) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("Overflow", 0), 0u) << e.what();
      EXPECT_NE(std::string(e.what()).find(column), std::string::npos) << e.what();
    }
    EXPECT_EQ(row_count(), before) << statement;
  }

  sqltest::ScratchDir dir_;
  std::unique_ptr<Database> db_;
};

TEST_F(ValueRules, CurrencyRoundsHalfToEvenInStatementsAndRecordsets) {
  db_->execute("INSERT INTO T (ID, Amount) VALUES (1, '0.00025')");
  db_->execute("INSERT INTO T (ID, Amount) VALUES (2, '0.00035')");
  db_->execute("INSERT INTO T (ID, Amount) VALUES (3, 2.00005)");
  EXPECT_EQ(stored_amount("ID = 1"), 2);
  EXPECT_EQ(stored_amount("ID = 2"), 4);
  EXPECT_EQ(stored_amount("ID = 3"), 20000);  // 20000.499999... as a double product
  auto rs = db_->open_recordset("T");
  rs->add_new();
  rs->set_field("ID", int32_t{4});
  rs->set_field("Amount", "-1.00005");
  rs->update();
  EXPECT_EQ(stored_amount("ID = 4"), -10000);
  // Money times a whole number keeps the amount exact, then rounds once.
  db_->execute("UPDATE T SET Amount = Amount * 3 WHERE ID = 1");
  EXPECT_EQ(stored_amount("ID = 1"), 6);
}

TEST_F(ValueRules, NumberTextIntoCurrencyIsExactAndOtherTextIsAMismatch) {
  db_->execute("INSERT INTO T (ID, Amount) VALUES (1, ' 12.3456 ')");
  db_->execute("INSERT INTO T (ID, Amount) VALUES (2, '-1.5E2')");
  db_->execute("INSERT INTO T (ID, Amount) VALUES (3, '0.1')");
  EXPECT_EQ(stored_amount("ID = 1"), 123456);
  EXPECT_EQ(stored_amount("ID = 2"), -1500000);
  EXPECT_EQ(stored_amount("ID = 3"), 1000);
  for (const char* text : {"abc", "12,5", "1E400", "", "1e"}) {
    try {
      db_->execute(std::string("INSERT INTO T (Amount) VALUES ('") + text + "')");
      ADD_FAILURE() << "'" << text << "' taken as an amount";
    } catch (const jet::Error& e) {
      EXPECT_EQ(e.category(), jet::ErrorCategory::kConstraint) << e.what();
      EXPECT_NE(std::string(e.what()).find("type mismatch"), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(row_count(), 3);
}

TEST_F(ValueRules, OutOfRangeIsAnOverflowAndNothingIsStored) {
  expect_overflow("INSERT INTO T (Amount) VALUES (1E15)", "Amount");
  expect_overflow("INSERT INTO T (Amount) VALUES ('-5000000000000000')", "Amount");
  expect_overflow("INSERT INTO T (Amount) VALUES ('922337203685477.5808')", "Amount");
  expect_overflow("INSERT INTO T (Small) VALUES (255.5)", "Small");
  expect_overflow("INSERT INTO T (Small) VALUES (-1)", "Small");
  expect_overflow("INSERT INTO T (Mid) VALUES (32768)", "Mid");
  expect_overflow("INSERT INTO T (Big) VALUES (2147483647.5)", "Big");
  expect_overflow("INSERT INTO T (Ratio) VALUES (1E39)", "Ratio");
  expect_overflow("INSERT INTO T (Stamp) VALUES (3000000)", "Stamp");

  db_->execute("INSERT INTO T (ID, Amount, Small) VALUES (1, '922337203685477', 255)");
  // A sum past the range is an overflow; the row keeps its amount.
  try {
    db_->execute("UPDATE T SET Amount = Amount + Amount WHERE ID = 1");
    ADD_FAILURE() << "the sum wrapped";
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.category(), jet::ErrorCategory::kOverflow) << e.what();
  }
  EXPECT_EQ(stored_amount("ID = 1"), 9223372036854770000);

  // Through a recordset: the field refuses the value, the stored row stays.
  auto rs = db_->open_recordset("T");
  rs->edit();
  try {
    rs->set_field("Amount", 1e16);
    ADD_FAILURE() << "1e16 taken as a currency";
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.category(), jet::ErrorCategory::kOverflow) << e.what();
  }
  rs->cancel_update();
  EXPECT_EQ(stored_amount("ID = 1"), 9223372036854770000);
  // The edges themselves are stored.
  db_->execute("INSERT INTO T (ID, Amount, Small, Mid) VALUES (2, '-922337203685477.5808', 0, -32768)");
  EXPECT_EQ(stored_amount("ID = 2"), INT64_MIN);
}

}  // namespace
