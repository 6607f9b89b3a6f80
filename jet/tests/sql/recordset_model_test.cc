// What a table model needs of recordsets and workspaces: counts, positions,
// bookmarks across requery, column types, write-back, safe lifetime, and
// workspaces that keep their open files apart.
#include <gtest/gtest.h>

#include <functional>

#include "jet/dao.h"
#include "jet/error.h"
#include "sql_test_util.h"

namespace {

using jet::ColumnType;
using jet::dao::Database;
using jet::dao::Workspace;

void expect_error(jet::ErrorCategory category, const std::string& words, const std::function<void()>& f) {
  try {
    f();
    ADD_FAILURE() << "no error; expected one saying: " << words;
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.category(), category) << e.what();
    EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
  }
}

class RecordsetModel : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.path("grid.mdb").string();
    db_ = workspace_.create_database(path_);
    db_->execute("CREATE TABLE Items (ID COUNTER PRIMARY KEY, Code TEXT(18), Qty DOUBLE, Price CURRENCY)");
    for (int i = 0; i < 30; ++i) {
      db_->execute("INSERT INTO Items (Code, Qty, Price) VALUES ('C" + std::to_string(i) + "', " + std::to_string(i) +
                   ", " + std::to_string(i) + ".25)");
    }
  }

  static int32_t id_at(jet::dao::Recordset& rs, int64_t position) {
    rs.set_absolute_position(position);
    return std::get<int32_t>(rs.field("ID"));
  }

  sqltest::ScratchDir dir_;
  Workspace workspace_;
  std::string path_;
  std::unique_ptr<Database> db_;
};

TEST_F(RecordsetModel, PositionsCountsAndColumnTypes) {
  auto rs = db_->open_recordset("Items");
  EXPECT_EQ(rs->row_count(), 30);
  EXPECT_EQ(rs->absolute_position(), 0);
  EXPECT_EQ(std::get<std::string>(rs->field("Code")), "C0");
  // Out of order, as a grid scrolls.
  rs->set_absolute_position(29);
  EXPECT_EQ(std::get<std::string>(rs->field("Code")), "C29");
  EXPECT_EQ(rs->absolute_position(), 29);
  rs->set_absolute_position(7);
  EXPECT_EQ(std::get<jet::Currency>(rs->field("Price")).ten_thousandths, 72500);
  expect_error(jet::ErrorCategory::kInvalidArgument, "position 30", [&] { rs->set_absolute_position(30); });
  expect_error(jet::ErrorCategory::kInvalidArgument, "position -1", [&] { rs->set_absolute_position(-1); });
  EXPECT_EQ(rs->absolute_position(), 7) << "a refused move keeps the current record";

  ASSERT_EQ(rs->field_count(), 4u);
  auto id = rs->field_info(0), code = rs->field_info(1), price = rs->field_info(3);
  EXPECT_EQ(id.type, ColumnType::kLong);
  EXPECT_TRUE(id.auto_number);
  EXPECT_FALSE(id.updatable);
  EXPECT_EQ(code.name, "Code");
  EXPECT_EQ(code.type, ColumnType::kText);
  EXPECT_EQ(code.size, 18);
  EXPECT_TRUE(code.updatable);
  EXPECT_EQ(price.type, ColumnType::kCurrency);
  expect_error(jet::ErrorCategory::kNotFound, "field number 4", [&] { rs->field_info(4); });

  // Deleting through the recordset closes the gap in the positions.
  rs->set_absolute_position(3);
  rs->delete_current();
  EXPECT_EQ(rs->absolute_position(), -1);
  EXPECT_EQ(rs->row_count(), 29);
  EXPECT_EQ(std::get<std::string>((rs->set_absolute_position(3), rs->field("Code"))), "C4");
  EXPECT_EQ(rs->absolute_position(), 3);
  rs->set_absolute_position(28);
  EXPECT_EQ(std::get<std::string>(rs->field("Code")), "C29");

  // A SELECT recordset has positions as well.
  auto sel = db_->open_recordset("SELECT Code, Qty * 2 AS Twice FROM Items WHERE Qty >= 20");
  EXPECT_EQ(sel->row_count(), 10);
  sel->set_absolute_position(9);
  EXPECT_EQ(std::get<double>(sel->field("Twice")), 58.0);
  EXPECT_FALSE(sel->field_info(1).updatable);
}

TEST_F(RecordsetModel, BookmarksSurviveRequeryAndEditsWriteBack) {
  auto grid = db_->open_recordset("Items");
  grid->set_absolute_position(10);
  const jet::dao::Bookmark mark = grid->bookmark();
  const int32_t marked_id = id_at(*grid, 10);

  // Another handle on the same file (as posting beside the grid) deletes
  // rows before the marked one and adds some; a requery sees that.
  auto other = workspace_.open_database(path_);
  other->execute("DELETE FROM Items WHERE Qty < 5");
  other->execute("INSERT INTO Items (Code, Qty) VALUES ('NEW', 100)");
  grid->requery();
  EXPECT_EQ(grid->row_count(), 26);
  grid->move_to_bookmark(mark);
  EXPECT_EQ(std::get<int32_t>(grid->field("ID")), marked_id);
  EXPECT_EQ(grid->absolute_position(), 5);

  // Edit at a position; the other handle reads the stored value at once.
  grid->edit();
  grid->set_field("Qty", 99.5);
  grid->set_field("Price", "1.00005");
  grid->update();
  EXPECT_EQ(std::get<double>(grid->field("Qty")), 99.5);
  auto check = other->open_recordset("SELECT Qty, Price FROM Items WHERE ID = " + std::to_string(marked_id));
  EXPECT_EQ(std::get<double>(check->field("Qty")), 99.5);
  EXPECT_EQ(std::get<jet::Currency>(check->field("Price")).ten_thousandths, 10000);

  // The marked record deleted elsewhere: the bookmark names it as gone, and
  // a row the keyset had not read yet reports the deletion clearly.
  auto fresh = db_->open_recordset("Items");
  other->execute("DELETE FROM Items WHERE ID = " + std::to_string(marked_id));
  grid->requery();
  expect_error(jet::ErrorCategory::kNotFound, "not in the recordset", [&] { grid->move_to_bookmark(mark); });
  fresh->set_absolute_position(5);
  expect_error(jet::ErrorCategory::kNotFound, "deleted through another handle", [&] { fresh->field("Qty"); });

  auto sel = db_->open_recordset("SELECT a.Code FROM Items AS a INNER JOIN Items AS b ON a.ID = b.ID");
  expect_error(jet::ErrorCategory::kInvalidArgument, "no bookmarks", [&] { sel->bookmark(); });
}

TEST_F(RecordsetModel, UseAfterTheDatabaseClosedIsAClearError) {
  auto rs = db_->open_recordset("Items");
  auto sel = db_->open_recordset("SELECT * FROM Items WHERE Qty > 3");
  rs->set_absolute_position(2);
  db_->close();
  expect_error(jet::ErrorCategory::kInvalidArgument, "is closed", [&] { rs->field("Code"); });
  expect_error(jet::ErrorCategory::kInvalidArgument, "is closed", [&] { rs->set_absolute_position(20); });
  expect_error(jet::ErrorCategory::kInvalidArgument, "is closed", [&] { sel->move_next(); });
  expect_error(jet::ErrorCategory::kInvalidArgument, "is closed", [&] { rs->requery(); });
  EXPECT_FALSE(rs->updatable());

  // Destroyed rather than closed: the same, and nothing dangles.
  auto again = workspace_.open_database(path_);
  auto kept = again->open_recordset("Items");
  again.reset();
  expect_error(jet::ErrorCategory::kInvalidArgument, "grid.mdb is closed", [&] { kept->row_count(); });
  expect_error(jet::ErrorCategory::kInvalidArgument, "is closed", [&] { kept->edit(); });
}

TEST(Workspaces, HandlesShareWithinAWorkspaceAndNeverAcross) {
  sqltest::ScratchDir dir;
  Workspace shop_a, shop_b;
  const std::string a_path = dir.path("a.mdb").string(), b_path = dir.path("b.mdb").string();
  auto a = shop_a.create_database(a_path);
  auto b = shop_b.create_database(b_path);
  a->execute("CREATE TABLE T (N LONG)");
  b->execute("CREATE TABLE T (N LONG)");
  EXPECT_EQ(shop_a.open_file_count(), 1u);
  EXPECT_EQ(shop_b.open_file_count(), 1u);

  // Two handles of one workspace on one file see each other's writes and
  // share the file's one writer.
  auto a_grid = shop_a.open_database(a_path);
  a->execute("INSERT INTO T (N) VALUES (1)");
  EXPECT_EQ(a_grid->open_recordset("T")->row_count(), 1);
  EXPECT_EQ(&a->engine(), &a_grid->engine());
  EXPECT_EQ(shop_a.open_file_count(), 1u);

  // The other shop's workspace does not hand out shop A's database.
  b->execute("INSERT INTO T (N) VALUES (2)");
  b->execute("INSERT INTO T (N) VALUES (3)");
  EXPECT_EQ(a->open_recordset("T")->row_count(), 1);
  EXPECT_EQ(b->open_recordset("T")->row_count(), 2);
  try {
    auto b_on_a = shop_b.open_database(a_path);
    EXPECT_NE(&b_on_a->engine(), &a->engine());
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.category(), jet::ErrorCategory::kLocked) << e.what();  // the file's writer is shop A's
  }

  a.reset();
  a_grid.reset();
  EXPECT_EQ(shop_a.open_file_count(), 0u);
  EXPECT_EQ(shop_b.open_file_count(), 1u);
}

}  // namespace
