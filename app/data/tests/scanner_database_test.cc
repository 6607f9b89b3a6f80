// POS_Scanner.MDB: created on first start, brought up to date, held open.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/data/scanner_database.h"
#include "jet/dao.h"
#include "jet/check.h"
#include "jet/database.h"
#include "app/tests/shop_fixture.h"

namespace tallimo::testing {
namespace {

class ScannerDatabaseTest : public ShopTest {
 protected:
  std::string header(const std::string& table) {
    std::string out = run("mdb-export '" + scanner_path() + "' " + table);
    return out.substr(0, out.find('\n'));
  }
};

TEST_F(ScannerDatabaseTest, FirstStartCreatesBothTablesEmptyAndHoldsTheFileOpen) {
  ASSERT_FALSE(std::filesystem::exists(scanner_path()));
  ASSERT_TRUE(Open_Scanner_Data_File(session()));
  ASSERT_NE(Scanner_Database(session()), nullptr);
  EXPECT_TRUE(Scanner_Database(session())->is_open());
  EXPECT_EQ(header("Scanner_Data"),
            "Scanner_Data_ID,Qty,Item_Number,Item_Order,Description,Vendor_Code,Standard_Price,Current_Cost,Location,"
            "List_Price,File_Type,Notes");
  EXPECT_EQ(header("Compare"),
            "Scanner_Qty,Orvex_Qty,Item_Number,Description,Vendor_Code,Standard_Price,Current_Cost,Location,List_Price");
  EXPECT_TRUE(scanner_data().empty());
  // The key is a counter: rows added get 1, 2, ...
  auto rs = Scanner_Database(session())->open_recordset("Scanner_Data");
  rs->add_new();
  rs->set_field("Item_Number", jet::Value(std::string("X")));
  rs->update();
  rs->close();
  EXPECT_EQ(scanner_data()[0]["Scanner_Data_ID"], "1");
  EXPECT_TRUE(reported_routines().empty());
}

TEST_F(ScannerDatabaseTest, AnOlderFileGainsItemOrderAndKeepsItsRows) {
  {
    auto db = jet::dao::Database::create(scanner_path());
    db->execute("CREATE TABLE [Scanner_Data] ([Scanner_Data_ID] Counter Constraint PrimaryKey Primary Key, "
                "[Qty] double, [Item_Number] text (255), [Description] text (255), [File_Type] Integer, "
                "[Notes] text(255))");
    db->execute(compare_table_sql());
    db->execute("INSERT INTO Scanner_Data (Qty, Item_Number, Description, File_Type) VALUES (3, 'OLD-1', 'kept', 0)");
    db->close();
  }
  ASSERT_TRUE(Open_Scanner_Data_File(session()));
  Close_Scanner_Data_File(session());
  auto rows = scanner_data();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].count("Item_Order"), 1u);
  EXPECT_EQ(rows[0]["Item_Order"], "");
  EXPECT_EQ(rows[0]["Item_Number"], "OLD-1");
  EXPECT_EQ(rows[0]["Description"], "kept");
  EXPECT_TRUE(reported_routines().empty());

  // A current file: the ALTER fails quietly and nothing changes.
  const auto before = header("Scanner_Data");
  ASSERT_TRUE(Open_Scanner_Data_File(session()));
  Close_Scanner_Data_File(session());
  EXPECT_EQ(header("Scanner_Data"), before);
  EXPECT_TRUE(reported_routines().empty());
}

TEST_F(ScannerDatabaseTest, AFileThatIsNotADatabaseIsReportedOnce) {
  { std::ofstream(scanner_path()) << "not a database"; }
  EXPECT_FALSE(Open_Scanner_Data_File(session()));
  EXPECT_EQ(Scanner_Database(session()), nullptr);
  EXPECT_EQ(reported_routines(), std::vector<std::string>{"Open_Scanner_Data_File"});
}

TEST_F(ScannerDatabaseTest, ThePathLiesInTheApplicationFolder) {
  EXPECT_EQ(Scanner_Database_Path(session()), dir_ + "/POS_Scanner.MDB");
}

TEST_F(ScannerDatabaseTest, TheComparisonMenuFollowsTheRowsOfCompare) {
  ASSERT_TRUE(Open_Scanner_Data_File(session()));
  ui_.set_comparison_menu_enabled(true);
  Update_Comparision_Menu(session());
  EXPECT_FALSE(ui_.comparison_menu_enabled());
  Scanner_Database(session())->execute("INSERT INTO Compare (Scanner_Qty, Item_Number) VALUES (1, 'A')");
  Update_Comparision_Menu(session());
  EXPECT_TRUE(ui_.comparison_menu_enabled());
  Close_Scanner_Data_File(session());
  std::filesystem::remove(scanner_path());
  Update_Comparision_Menu(session());
  EXPECT_EQ(reported_routines(), std::vector<std::string>{"Update_Comparision_Menu"});
}

// Uploads empty Scanner_Data and fill it again: once more than half of the file
// is free pages, the next start (or upload) gives the space back, keeping every
// row; a file held open elsewhere is left alone.
TEST_F(ScannerDatabaseTest, AMostlyFreeFileIsCompactedAtStartAndKeepsItsRows) {
  ASSERT_TRUE(Open_Scanner_Data_File(session()));
  jet::dao::Database& db = *Scanner_Database(session());
  db.execute("BEGIN TRANSACTION");
  for (int i = 0; i < 3000; ++i)
    db.execute("INSERT INTO Scanner_Data (Qty, Item_Number, Description, File_Type) VALUES (1, 'I" +
               std::to_string(i) + "', '" + std::string(120, 'd') + "', 0)");
  db.execute("DELETE FROM Scanner_Data WHERE Item_Number <> 'I7'");
  db.execute("COMMIT");
  Close_Scanner_Data_File(session());
  const auto before = std::filesystem::file_size(scanner_path());

  {
    // Another handle on the file: compaction waits for a later start.
    auto other = jet::dao::Database::open(scanner_path());
    EXPECT_FALSE(compact_scanner_database_when_mostly_free(session()));
    other->close();
  }
  EXPECT_EQ(std::filesystem::file_size(scanner_path()), before);

  ASSERT_TRUE(Open_Scanner_Data_File(session()));
  const auto after = std::filesystem::file_size(scanner_path());
  EXPECT_LT(after * 4, before) << before << " -> " << after;
  ASSERT_NE(Scanner_Database(session()), nullptr);
  EXPECT_TRUE(Scanner_Database(session())->is_open());
  auto rows = scanner_data();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0]["Item_Number"], "I7");
  // Nothing left to give back: the next start leaves the file alone.
  EXPECT_FALSE(compact_scanner_database_when_mostly_free(session()));
  EXPECT_TRUE(reported_routines().empty());
  auto engine = jet::Database::open(scanner_path());
  const jet::CheckReport report = jet::check_database(*engine);
  EXPECT_TRUE(report.ok()) << (report.problems.empty() ? "" : report.problems[0]);
}

}  // namespace
}  // namespace tallimo::testing
