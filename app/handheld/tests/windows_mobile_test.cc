// The Windows Mobile transfer end to end: a device folder, the real converter, a shop.
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "app/data/products_database.h"
#include "app/data/scanner_database.h"
#include "jet/dao.h"
#include "app/handheld/forms_control.h"
#include "app/handheld/handheld_runs.h"
#include "app/handheld/templates.h"
#include "app/handheld/tests/handheld_support.h"
#include "app/settings.h"

namespace tallimo::testing {
namespace {

namespace fs = std::filesystem;

class WindowsMobileTest : public HandheldShopTest {
 protected:
  void SetUp() override {
    HandheldShopTest::SetUp();
    make_shop({product("A1", 10, "Apples"), product("B2", 5, "Bananas"), product("C3", 8, "Cherries")}, {});
    ASSERT_TRUE(Open_Scanner_Data_File(session()));
    control_.set_device_folder(device_);
  }
  void sync(bool full) { handheld::Synchronize_Windows_Mobile(session(), full, &control_); }
  std::vector<std::string> kinds_and_items() {
    std::vector<std::string> out;
    for (const ExportRow& r : scanner_data()) out.push_back(r.at("File_Type") + ":" + r.at("Item_Number"));
    return out;
  }

  handheld::VexFormsControl control_;
};

TEST_F(WindowsMobileTest, ReadCopiesEveryTableAndSendsTheItemListBackUnchanged) {
  standard_device();
  sync(false);
  EXPECT_TRUE(ui_.boxes.empty()) << ui_.boxes.front();
  // Six tables in fetch order; the item list only its edited row, without quantity.
  EXPECT_EQ(kinds_and_items(), (std::vector<std::string>{"4:N9", "5:A1", "0:A1", "0:B2", "1:B2", "2:C3"}));
  std::vector<ExportRow> rows = scanner_data();
  EXPECT_EQ(rows[0].at("Description"), "New thing");
  EXPECT_EQ(rows[0].at("Qty"), "3");
  EXPECT_EQ(rows[0].at("Location"), "Aisle 9");
  EXPECT_EQ(rows[1].at("Description"), "Apples renamed");
  EXPECT_EQ(rows[1].at("Qty"), "") << "the item list carries no quantity";
  EXPECT_EQ(rows[2].at("Description"), "") << "quantity tables carry item and quantity only";
  EXPECT_EQ(stock("A1"), "10") << "a read posts nothing";

  // The handheld: transaction tables emptied, the item list back with its two rows,
  // and the desktop's ordered table.
  for (const char* table : {"ADDNEW", "ADDTO", "SUBTRACT", "REPLACE", "COMPARE", "ORDERED"}) {
    EXPECT_TRUE(device_table(table).rows.empty()) << table;
  }
  EXPECT_EQ(items(device_table("ITEMLIST")), (std::vector<std::string>{"A1", "B2"}));
  EXPECT_EQ(template_rows("ItemList.MDB").size(), 2u) << "a read keeps the item list";
  EXPECT_TRUE(template_rows("AddTo.MDB").empty());
  // One file per table on the device, whatever case it had.
  int addto = 0;
  for (const auto& e : fs::directory_iterator(device_tables())) {
    std::string name = e.path().filename().string();
    addto += name == "EQTL70100_ADDTO.PDB" || name == "eqtl70100_addto.pdb";
  }
  EXPECT_EQ(addto, 1);

  // A second read finds nothing new: the item list's edited row is known already.
  sync(false);
  EXPECT_EQ(scanner_data().size(), 6u) << "nothing counted twice";
}

TEST_F(WindowsMobileTest, FullSynchronisationPostsOnceAndSendsTheProductList) {
  standard_device();
  sync(true);
  EXPECT_TRUE(ui_.boxes.empty() || ui_.boxes.back().find("ERROR") == std::string::npos);
  EXPECT_EQ(stock("A1"), "12");
  EXPECT_EQ(stock("B2"), "5") << "added 1, subtracted 1";
  EXPECT_EQ(product1().count("N9"), 1u) << "the new item was inserted";
  EXPECT_EQ(compare().count("C3"), 1u);
  EXPECT_TRUE(scanner_data().empty()) << "every record posted";
  // The product list: one row per PRODUCT1 record, descriptions joined.
  handheld::PdbTable list = device_table("ITEMLIST");
  std::vector<std::string> codes = items(list);
  std::sort(codes.begin(), codes.end());
  EXPECT_EQ(codes, (std::vector<std::string>{"A1", "B2", "C3", "N9"}));
  for (const auto& row : list.rows) {
    if (std::get<std::string>(row[0]) == "A1") {
      EXPECT_EQ(std::get<double>(row[2]), 12.0) << "the quantity after posting";
    }
  }
  EXPECT_TRUE(device_table("COMPARE").rows.empty());
}

TEST_F(WindowsMobileTest, FailedFetchEndsTheTransferAtOnce) {
  standard_device();
  fs::remove(device_tables() + "/EQTL70100_ADDNEW.PDB");
  sync(true);
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0], "ERROR #2: Downloading \\my documents\\tallimo\\EQTL70100_ADDNEW.PDB from PDA");
  EXPECT_EQ(ui_.titles[0], "Tallimo");
  EXPECT_TRUE(scanner_data().empty());
  EXPECT_EQ(device_table("ADDTO").rows.size(), 2u) << "the handheld keeps its scans";
  EXPECT_EQ(stock("A1"), "10");
}

TEST_F(WindowsMobileTest, FailedConversionIsReportedAndTheTransferGoesOn) {
  standard_device();
  // A damaged add-to table: its conversion fails, its import copies what the template holds.
  std::ofstream(device_tables() + "/eqtl70100_addto.pdb") << "not a palm database at all";
  sync(false);
  std::string addto = handheld::support_folder(session()) + "AddTo.MDB";
  ASSERT_FALSE(ui_.boxes.empty());
  EXPECT_EQ(ui_.boxes[0], "ERROR 4 converting " + addto + " on PC");
  EXPECT_EQ(kinds_and_items(), (std::vector<std::string>{"4:N9", "5:A1", "1:B2", "2:C3"}));
  EXPECT_TRUE(device_table("SUBTRACT").rows.empty()) << "the later steps ran";
}

TEST_F(WindowsMobileTest, DatabaseErrorInAnImportIsReportedAndEndsTheTransfer) {
  standard_device();
  handheld::Ensure_Templates(session());
  // The add-to template without its VFTable.
  std::string addto = handheld::support_folder(session()) + "AddTo.MDB";
  fs::remove(addto);
  jet::dao::Database::create(addto, jet::dao::kLangGeneral, jet::dao::kVersion40)->execute("CREATE TABLE Other (X long)");
  sync(true);
  EXPECT_EQ(reported_routines().size(), 1u);
  EXPECT_NE(reported_routines().at(0).find("Import_Template"), std::string::npos);
  EXPECT_EQ(kinds_and_items(), (std::vector<std::string>{"4:N9", "5:A1"})) << "stopped at the add-to table";
  EXPECT_EQ(stock("A1"), "10") << "nothing posted";
  EXPECT_EQ(device_table("ADDNEW").rows.size(), 1u) << "nothing sent";

  // Repaired, the next transfer neither loses nor doubles the first two tables.
  fs::remove(addto);
  sync(true);
  EXPECT_EQ(stock("A1"), "12");
  EXPECT_EQ(product1().count("N9"), 1u);
  EXPECT_TRUE(scanner_data().empty());
}

TEST_F(WindowsMobileTest, ProductListStatementFailureIsReportedAndEndsTheTransfer) {
  standard_device();
  // A products database without PRODUCT1: posting and the product list both fail.
  fs::remove(products_path());
  jet::dao::Database::create(products_path(), std::string(jet::dao::kLangGeneral) + ";pwd=" + kOrvexPassword,
                             jet::dao::kVersion40)
      ->close();
  sync(true);
  std::vector<std::string> routines = reported_routines();
  ASSERT_FALSE(routines.empty());
  EXPECT_NE(routines.back().find("Build_Item_List"), std::string::npos) << routines.back();
  EXPECT_EQ(device_table("ADDNEW").rows.size(), 1u) << "nothing was sent after the failure";
  EXPECT_EQ(scanner_data().size(), 6u) << "the fetched scans wait in Scanner_Data";
}

TEST_F(WindowsMobileTest, DispatchGoesByTheExactScannerSetting) {
  standard_device();
  control_.set_device_folder("/nonexistent");
  session().settings().Scanner = "windows mobile scanner";
  bool full = false;
  handheld::Synchronize_Handheld(session(), full);
  EXPECT_TRUE(ui_.boxes.empty()) << "another spelling does nothing";
  session().settings().Scanner = kScannerWindowsMobile;
  handheld::Synchronize_Handheld(session(), full);  // a control of its own, over the default device folder
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0].rfind("ERROR #1: Downloading", 0), 0u) << ui_.boxes[0];
}

}  // namespace
}  // namespace tallimo::testing
