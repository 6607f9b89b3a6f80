// The report database builder, checked through the independent reader
// mdb-export and the engine's consistency check.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/session.h"
#include "app/data/products_database.h"
#include "report_test_support.h"
#include "app/reports/report_database.h"

namespace tallimo::testing {
namespace {

namespace fs = std::filesystem;

using Items = std::vector<std::string>;

std::vector<std::string> mdb_files(const std::string& dir) {
  std::vector<std::string> out;
  for (auto& e : fs::directory_iterator(dir)) {
    std::string name = e.path().filename().string();
    if (name.size() > 4 && name.substr(name.size() - 4) == ".mdb" && name != "products.mdb") out.push_back(name);
  }
  return out;
}

class ReportDatabaseTest : public ReportShopTest {};

TEST_F(ReportDatabaseTest, SeparatesCountedUnknownAndUncountedItemsAndNamesTheFileByTheClock) {
  demo::Product marked = product("B2", 3, "Compare-Delete");  // a real product's own description
  make_report_shop({product("A1", 5), marked, product("C3", 7), product("D\"4", 1), product("E5", 2)},
                   {{"A1", 4, 5}, {"X9", 2}, {"Q\"1", 1}, {"D\"4", 1, 1}, {"e5", 6, 2}});
  const std::time_t before = std::time(nullptr);
  const std::string path = Create_Comparison_Reports(session());
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(fs::exists(path));

  // The application folder, then MMDDYYYYHHMMSS of the request's time.
  const std::string name = fs::path(path).filename().string();
  ASSERT_EQ(name.size(), 18u) << name;
  EXPECT_EQ(fs::path(path).parent_path(), fs::path(session().application_folder()).parent_path());
  const std::time_t after = std::time(nullptr);
  EXPECT_TRUE(name == report_date_stamp(before) + ".mdb" || name == report_date_stamp(after) + ".mdb") << name;

  // Item numbers match as Jet compares text: "e5" is the product "E5".
  EXPECT_EQ(items(path, "Comparison"), (Items{"A1", "D\"4", "e5"}));
  EXPECT_EQ(items(path, "Not_In_Inventory"), (Items{"Q\"1", "X9"}));
  EXPECT_EQ(items(path, "Not_Scanned"), (Items{"B2", "C3"}));

  // Rows keep every field; uncounted products carry Scanner_Qty 0.
  auto missing = mdb_export(path, "Not_In_Inventory");
  ASSERT_EQ(missing.size(), 2u);
  for (auto& row : missing) {
    EXPECT_EQ(row["Vendor_Code"], "ACME");
    EXPECT_EQ(row["Location"], "A12");
    EXPECT_EQ(row["Current_Cost"], "1.5000");
  }
  for (auto& row : mdb_export(path, "Not_Scanned")) {
    EXPECT_EQ(row["Scanner_Qty"], "0.0000") << row["Item_Number"];
    if (row["Item_Number"] == "B2") {
      EXPECT_EQ(row["Description"], "Compare-Delete");
    }
  }
  EXPECT_EQ(status_ui_.steps,
            (std::vector<std::string>{"Creating Report 0/5", "Getting Data from Master Database 1/5",
                                      "Getting Data from Scanner Database 2/5",
                                      "Building Item Not In Inventory Report 3/5",
                                      "Building Item Not Scanned Report 4/5", "Done 5/5"}));
  EXPECT_TRUE(status_ui_.boxes.empty());
  EXPECT_EQ(Orvex_Database(session()), nullptr) << "the products database is closed after the copy";
  EXPECT_NE(run(std::string(JETSQL) + " --check '" + path + "' 2>&1").find("0 problems"), std::string::npos);

  delete_report_database(path);
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(ReportDatabaseTest, EmptyCompareListsEveryProductAsNotScanned) {
  make_report_shop({product("A1", 5), product("B2", 0)}, {});
  const std::string path = Create_Comparison_Reports(session());
  ASSERT_FALSE(path.empty());
  EXPECT_TRUE(items(path, "Comparison").empty());
  EXPECT_TRUE(items(path, "Not_In_Inventory").empty());
  EXPECT_EQ(items(path, "Not_Scanned"), (Items{"A1", "B2"}));
}

TEST_F(ReportDatabaseTest, RequestsWithinOneSecondGetFilesOfTheirOwn) {
  make_report_shop({product("A1", 5)}, {{"A1", 1, 5}});
  const std::string first = Create_Comparison_Reports(session());
  const std::string second = Create_Comparison_Reports(session());
  const std::string third = Create_Comparison_Reports(session());
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
  EXPECT_NE(second, third);
  EXPECT_NE(first, third);
  for (auto& p : {first, second, third}) EXPECT_EQ(items(p, "Comparison"), (Items{"A1"})) << p;

  // The name stays the stamp, with a number when the stamp is taken.
  const std::time_t when = 1765031405;  // a fixed moment
  const std::string dir = session().application_folder();
  const std::string plain = free_report_database_path(dir, when);
  EXPECT_EQ(plain, dir + report_date_stamp(when) + ".mdb");
  std::ofstream(plain) << "x";
  EXPECT_EQ(free_report_database_path(dir, when), dir + report_date_stamp(when) + "_2.mdb");
}

TEST_F(ReportDatabaseTest, DateStampReadsMonthDayYearHourMinuteSecond) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 6;
  t.tm_hour = 14;
  t.tm_min = 30;
  t.tm_sec = 5;
  t.tm_isdst = -1;
  EXPECT_EQ(report_date_stamp(std::mktime(&t)), "12062026143005");
  t.tm_mon = 0, t.tm_mday = 2, t.tm_hour = 0, t.tm_min = 0, t.tm_sec = 9;
  EXPECT_EQ(report_date_stamp(std::mktime(&t)), "01022026000009");
}

TEST_F(ReportDatabaseTest, AMissingProductsDatabaseIsReportedAndTheBuildGoesOn) {
  make_report_shop({product("A1", 5)}, {{"A1", 4, 5}, {"Z1", 1}});
  session().settings().Orvex_Location = dir_ + "/gone.mdb";
  const std::string path = Create_Comparison_Reports(session());
  ASSERT_FALSE(path.empty());
  // Without products nothing is known, so every counted item is unknown.
  EXPECT_EQ(items(path, "Not_In_Inventory"), (Items{"A1", "Z1"}));
  EXPECT_TRUE(items(path, "Not_Scanned").empty());
  auto routines = reported_routines();
  EXPECT_NE(std::find(routines.begin(), routines.end(), "Get_Copy_of_Master_Table"), routines.end());
  EXPECT_EQ(status_ui_.steps.back(), "Done 5/5");
}

TEST_F(ReportDatabaseTest, AFileThatCannotBeMadeEndsTheBuildWithAnEmptyPathAndLeavesNothing) {
  make_report_shop({product("A1", 5)}, {{"A1", 4, 5}});
  const std::string blocked = dir_ + "/not-a-folder";
  std::ofstream(blocked) << "a file where the folder should be";
  session().set_application_folder(blocked);
  EXPECT_EQ(Create_Comparison_Reports(session()), "");
  // Both the file's step and the build report, in that order.
  ASSERT_EQ(status_ui_.boxes.size(), 2u);
  EXPECT_NE(status_ui_.boxes[0].find("Create_Report_Database"), std::string::npos);
  EXPECT_NE(status_ui_.boxes[1].find("Create_Comparison_Reports"), std::string::npos);
  session().set_application_folder(dir_);
  EXPECT_TRUE(mdb_files(dir_).empty());
}

}  // namespace
}  // namespace tallimo::testing
