// DAO- and ADO-style access: recordset movement, counts, finds, edits, and
// the connection strings the program uses.
#include <gtest/gtest.h>

#include "jet/ado.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/error.h"
#include "sql_test_util.h"

namespace {

using jet::Error;
using jet::ErrorCategory;
using jet::Value;
using jet::dao::Database;
using jet::dao::Recordset;
using sqltest::kCrLf;

std::unique_ptr<Database> open_products(bool read_only = true) {
  jet::dao::OpenOptions o;
  o.read_only = read_only;
  o.connect = ";pwd=" + sqltest::kProductsPassword;
  return Database::open(sqltest::fixture("products_small.mdb"), o);
}

TEST(DaoRecordset, BofEofAndRecordCountAfterMoveLast) {
  auto db = open_products();
  auto empty = db->open_recordset("Select * " + kCrLf + "From PRODUCT1" + kCrLf + "Where  [Product Code]  = \"none\"");
  EXPECT_TRUE(empty->bof());
  EXPECT_TRUE(empty->eof());
  EXPECT_EQ(empty->record_count(), 0);
  EXPECT_THROW(empty->move_next(), Error);
  EXPECT_THROW(empty->move_last(), Error);
  EXPECT_THROW(empty->field("Location"), Error);

  auto rs = db->open_recordset("Select * From Product1 Where [Department] = 7");
  EXPECT_FALSE(rs->bof());
  EXPECT_FALSE(rs->eof());
  EXPECT_EQ(rs->record_count(), 1);  // a query's count grows as it is read
  rs->move_last();
  EXPECT_EQ(rs->record_count(), 25);  // the fixture has 25 products per department
  rs->move_first();
  int n = 0;
  while (!rs->eof()) {
    ++n;
    rs->move_next();
  }
  EXPECT_EQ(n, 25);
  EXPECT_THROW(rs->move_next(), Error);
  EXPECT_THROW(rs->field("Location"), Error);
  rs->move_previous();
  EXPECT_FALSE(rs->eof());
  rs->move_first();
  rs->move_previous();
  EXPECT_TRUE(rs->bof());

  auto table = db->open_recordset("PRODUCT1");  // a table recordset counts every row at once
  EXPECT_EQ(table->record_count(), 500);
  EXPECT_TRUE(table->updatable());
}

TEST(DaoRecordset, FieldsByNameKeepNullApartFromEmptyAndZero) {
  auto db = open_products();
  auto rs = db->open_recordset("Select * From PRODUCT1 Where [Product Code] = '000037'");
  EXPECT_EQ(std::get<std::string>(rs->field("product code")), "000037");
  EXPECT_TRUE(jet::is_null(rs->field("Description Two")));
  EXPECT_EQ(std::get<double>(rs->field("Inventory Qty")), 143.0);
  EXPECT_EQ(std::get<jet::Currency>(rs->field("Standard Price")).ten_thousandths, 1124800);
  try {
    rs->field("Desc");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.category(), ErrorCategory::kNotFound);
    EXPECT_NE(std::string(e.what()).find("'Desc'"), std::string::npos);
  }
}

TEST(DaoRecordset, FindFirstHitAndMiss) {
  auto db = open_products();
  auto rs = db->open_recordset("Select * From PRODUCT1");
  EXPECT_TRUE(rs->find_first("[Department] = 7"));
  EXPECT_FALSE(rs->no_match());
  EXPECT_EQ(std::get<int32_t>(rs->field("Department")), 7);
  std::string here = std::get<std::string>(rs->field("Product Code"));
  EXPECT_FALSE(rs->find_first("[Department] = 100000"));
  EXPECT_TRUE(rs->no_match());
  EXPECT_EQ(std::get<std::string>(rs->field("Product Code")), here);  // a miss does not move
  EXPECT_TRUE(rs->find_first("[Vendor Code] = 'acme' And [Department] > 12"));
  EXPECT_GT(std::get<int32_t>(rs->field("Department")), 12);
  EXPECT_THROW(rs->find_first("[No Such] = 1"), Error);
  EXPECT_THROW(rs->find_first("Department = "), Error);
}

TEST(DaoRecordset, ChangesNeedEditOrAddNewAndAnUpdatableSource) {
  sqltest::ScratchDir dir;
  jet::dao::OpenOptions writable;
  writable.connect = ";pwd=" + sqltest::kProductsPassword;
  auto db = Database::open(dir.copy_fixture("products_small.mdb"), writable);
  auto rs = db->open_recordset("Select * From PRODUCT1 Where [Product Code] = '000037'");
  EXPECT_THROW(rs->set_field("Location", "B1"), Error);  // no edit()
  EXPECT_THROW(rs->update(), Error);
  auto join = db->open_recordset("SELECT a.Location FROM PRODUCT1 a, PRODUCT1 b WHERE a.[Product Code] = b.[Product Code]");
  EXPECT_FALSE(join->updatable());
  EXPECT_THROW(join->edit(), Error);
  EXPECT_THROW(join->add_new(), Error);
  rs->edit();
  try {
    rs->set_field("Department", "not a number");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.category(), ErrorCategory::kConstraint);
    EXPECT_NE(std::string(e.what()).find("not a number"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("Department"), std::string::npos) << e.what();
  }
  rs->set_field("Location", "B1");
  EXPECT_EQ(std::get<std::string>(rs->field("Location")), "B1");  // the edit copy
  rs->cancel_update();
  EXPECT_EQ(std::get<std::string>(rs->field("Location")), "A1");
  EXPECT_THROW(db->execute("Select * From PRODUCT1"), Error);  // rows need a recordset

  // Recordsets outlive a closed database only as far as their copied rows.
  auto open_rs = db->open_recordset("Select * From PRODUCT1 Where [Product Code] = '000074'");
  db->close();
  EXPECT_THROW(open_rs->edit(), Error);
  EXPECT_THROW(open_rs->requery(), Error);

  auto read_only = open_products(true);
  auto ro = read_only->open_recordset("PRODUCT1");
  EXPECT_THROW(ro->edit(), Error);
  EXPECT_THROW(read_only->execute("DELETE * FROM PRODUCT1"), Error);
}

TEST(DaoDatabase, ConnectStringsAndMissingFiles) {
  jet::dao::OpenOptions o;
  o.read_only = true;
  o.connect = "Access 2000;";
  auto plain = Database::open(sqltest::fixture("V2000_no-password.mdb"), o);
  EXPECT_TRUE(plain->is_open());
  o.connect = "";
  try {
    Database::open(sqltest::fixture("products_small.mdb"), o);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.category(), ErrorCategory::kPassword);
  }
  try {
    Database::open("/nonexistent/folder/products.mdb", o);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.category(), ErrorCategory::kNotFound);
    EXPECT_NE(std::string(e.what()).find("/nonexistent/folder/products.mdb"), std::string::npos);
  }
}

TEST(AdoConnection, ReadsTheRowsOfASelect) {
  jet::ado::Connection c;
  c.set_connection_string("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + sqltest::fixture("products_small.mdb") +
                          ";Jet OLEDB:Database Password=" + sqltest::kProductsPassword + ";");
  c.open("", "");
  auto rs = c.execute("SELECT * FROM PRODUCT1 WHERE [Department] >= 18");
  int n = 0;
  EXPECT_FALSE(rs->bof());
  while (!rs->eof()) {
    EXPECT_GE(std::get<int32_t>(rs->field("Department")), 18);
    ++n;
    rs->move_next();
  }
  EXPECT_EQ(n, 50);
  rs->close();
  auto none = c.execute("SELECT * FROM PRODUCT1 WHERE [Department] > 100000");
  EXPECT_TRUE(none->bof());
  EXPECT_TRUE(none->eof());
  c.close();
  EXPECT_FALSE(c.is_open());

  jet::ado::Connection bad;
  bad.set_connection_string("Provider=Microsoft.ACE.OLEDB.12.0;Data Source=x.mdb;");
  EXPECT_THROW(bad.open(), Error);
  bad.set_connection_string("Provider=Microsoft.Jet.OLEDB.4.0;");
  EXPECT_THROW(bad.open(), Error);
  bad.set_connection_string("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/nonexistent/ItemList.MDB;");
  try {
    bad.open();
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.category(), ErrorCategory::kNotFound);
    EXPECT_NE(std::string(e.what()).find("/nonexistent/ItemList.MDB"), std::string::npos);
  }
}

// ---- recordset changes (need the engine's write path) -------------------

class DaoWrites : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.path("POS_Scanner.MDB").string();
    db_ = Database::create(path_, jet::dao::kLangGeneral, jet::dao::kVersion40);
    db_->execute("CREATE TABLE [Scanner_Data] ([Scanner_Data_ID] Counter Constraint PrimaryKey Primary Key, "
                 "[Qty] double, [Item_Number] text (255), [Item_Order] text (255), [Description] text (255), "
                 "[Vendor_Code] text(255), [Standard_Price] currency, [Current_Cost] currency, [Location] text(255), "
                 "[List_Price] currency, [File_Type] Integer, [Notes] text(255) )");
  }
  void add(const std::string& item, int kind, double qty) {
    auto rs = db_->open_recordset("Scanner_Data");
    rs->add_new();
    rs->set_field("Qty", qty);
    rs->set_field("Item_Number", item);
    rs->set_field("File_Type", static_cast<int32_t>(kind));
    rs->update();
    rs->close();
  }
  sqltest::ScratchDir dir_;
  std::string path_;
  std::unique_ptr<Database> db_;
};

TEST_F(DaoWrites, AddNewThenUpdateAssignsTheCounter) {
  auto rs = db_->open_recordset("Select * From Scanner_Data");
  EXPECT_TRUE(rs->bof() && rs->eof());
  for (int i = 0; i < 3; ++i) {
    rs->add_new();
    EXPECT_TRUE(jet::is_null(rs->field("Scanner_Data_ID")));
    rs->set_field("Item_Number", "A" + std::to_string(i));
    rs->update();
    rs->move_to_last_modified();
    EXPECT_EQ(std::get<int32_t>(rs->field("Scanner_Data_ID")), i + 1);
  }
  auto again = db_->open_recordset("Select * From Scanner_Data Order By Scanner_Data_ID DESC");
  again->move_last();
  EXPECT_EQ(again->record_count(), 3);
  again->move_first();
  EXPECT_EQ(std::get<int32_t>(again->field("Scanner_Data_ID")), 3);
  EXPECT_TRUE(jet::is_null(again->field("Qty")));  // never set: Null, not 0
}

TEST_F(DaoWrites, EditOfARowAWhereSelectedAndDeleteThenMoveNext) {
  add("X1", 0, 1);
  add("X2", 0, 2);
  add("X1", 1, 3);
  auto rs = db_->open_recordset("Select * " + kCrLf + "From Scanner_Data" + kCrLf + "Where (" +
                                "   (Scanner_Data.Item_Number = \"x1\")" + kCrLf + " AND  (Scanner_Data.File_Type = 1)" +
                                kCrLf + ")" + kCrLf);
  ASSERT_FALSE(rs->eof());
  rs->edit();
  rs->set_field("Qty", std::get<double>(rs->field("Qty")) + 4);
  rs->update();
  EXPECT_EQ(std::get<double>(rs->field("Qty")), 7.0);
  auto check = db_->open_recordset("Select Qty From Scanner_Data Where Scanner_Data_ID = 3");
  EXPECT_EQ(std::get<double>(check->field("Qty")), 7.0);

  auto all = db_->open_recordset("Select * From Scanner_Data");
  all->delete_current();
  EXPECT_THROW(all->field("Qty"), Error);
  all->move_next();
  EXPECT_EQ(std::get<std::string>(all->field("Item_Number")), "X2");
  all->move_last();
  EXPECT_EQ(all->record_count(), 2);
  auto count = db_->open_recordset("Scanner_Data");
  EXPECT_EQ(count->record_count(), 2);
}

TEST_F(DaoWrites, RequerySeesWhatAnotherHandleChanged) {
  add("R1", 5, 1);
  auto grid = Database::open(path_, {});
  auto rs = grid->open_recordset("Select * " + kCrLf + "From Scanner_Data" + kCrLf + "Where File_Type = 5");
  rs->move_last();
  EXPECT_EQ(rs->record_count(), 1);
  add("R2", 5, 1);
  db_->execute("UPDATE Scanner_Data SET Notes = 'changed' WHERE Item_Number = 'R1'");
  rs->requery();
  rs->move_last();
  EXPECT_EQ(rs->record_count(), 2);
  ASSERT_TRUE(rs->find_first("Item_Number = 'R1'"));
  EXPECT_EQ(std::get<std::string>(rs->field("Notes")), "changed");
}

TEST_F(DaoWrites, NullStaysApartFromEmptyTextAndZero) {
  db_->execute("INSERT INTO Scanner_Data (Item_Number, Notes, Qty) VALUES ('N1', Null, Null)");
  db_->execute("INSERT INTO Scanner_Data (Item_Number, Notes, Qty) VALUES ('E1', '', 0)");
  auto count = [&](const std::string& where) {
    auto rs = db_->open_recordset("Select * From Scanner_Data Where " + where);
    if (rs->eof()) return 0;
    rs->move_last();
    return static_cast<int>(rs->record_count());
  };
  EXPECT_EQ(count("Notes Is Null"), 1);
  EXPECT_EQ(count("Notes = ''"), 1);
  EXPECT_EQ(count("Qty = 0"), 1);
  EXPECT_EQ(count("Qty Is Null"), 1);
  auto rs = db_->open_recordset("Select Item_Number, Notes, Qty From Scanner_Data Order By Item_Number");
  EXPECT_EQ(std::get<std::string>(rs->field("Notes")), "");  // E1
  EXPECT_EQ(std::get<double>(rs->field("Qty")), 0.0);
  rs->move_next();
  EXPECT_TRUE(jet::is_null(rs->field("Notes")));  // N1
  EXPECT_TRUE(jet::is_null(rs->field("Qty")));
}

TEST_F(DaoWrites, DuplicateKeysAndTypeMismatchesAreRefusedWithTheirValues) {
  db_->execute("CREATE TABLE K (Code text(18) Constraint PrimaryKey Primary Key, N Integer)");
  db_->execute("INSERT INTO K (Code, N) VALUES ('A', 1)");
  try {
    db_->execute("INSERT INTO K (Code, N) VALUES ('a', 2)");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.category(), ErrorCategory::kConstraint) << e.what();
    EXPECT_NE(std::string(e.what()).find("PrimaryKey"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("'a'"), std::string::npos) << e.what();
  }
  try {
    db_->execute("INSERT INTO K (Code, N) VALUES ('B', 70000)");
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.category(), ErrorCategory::kOverflow) << e.what();
    EXPECT_NE(std::string(e.what()).find("70000"), std::string::npos) << e.what();
  }
  auto rs = db_->open_recordset("K");
  EXPECT_EQ(rs->record_count(), 1);  // the refused statements left nothing behind

  // A statement that fails on its second row changes no row at all.
  db_->execute("INSERT INTO K (Code, N) VALUES ('B', 2)");
  EXPECT_THROW(db_->execute("UPDATE K SET Code = 'Z', N = 9"), Error);
  auto after = db_->open_recordset("Select * From K Order By Code");
  EXPECT_EQ(std::get<std::string>(after->field("Code")), "A");
  EXPECT_EQ(std::get<int16_t>(after->field("N")), 1);
  after->move_next();
  EXPECT_EQ(std::get<std::string>(after->field("Code")), "B");
  EXPECT_EQ(std::get<int16_t>(after->field("N")), 2);
  // And an UPDATE on the key column finds its row through the index.
  db_->execute("UPDATE K SET N = 5 WHERE Code = 'b'");
  EXPECT_EQ(db_->records_affected(), 1u);
}

}  // namespace
