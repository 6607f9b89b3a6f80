// The posting run: order of kinds, Compare, abort, closing message, status
// lines, check boxes and the comparison menu.
#include <gtest/gtest.h>

#include "jet/dao.h"
#include "app/posting/posting.h"
#include "app/posting/posting_options.h"
#include "app/settings.h"
#include "app/tests/shop_fixture.h"

namespace tallimo::testing {
namespace {

class ProcessPostTest : public ShopTest {
 protected:
  // The kinds in the order their "Processing " status lines appeared.
  std::vector<std::string> kinds_started() const {
    std::vector<std::string> out;
    for (const auto& s : ui_.status) {
      if (s.rfind("Processing \r\n", 0) == 0) out.push_back(s.substr(13));
    }
    return out;
  }
};

TEST_F(ProcessPostTest, KindsPostInTheFixedOrderAndCompareSeesTheOtherKindsFirst) {
  auto fresh = scan(kAddNewItem, "NEW", std::nullopt);
  fresh.description = "New product";
  auto edit = scan(kEditProducts, "OLD", std::nullopt);
  edit.description = "Edited";
  // Table order is the reverse of the posting order.
  make_shop({product("OLD", 10)}, {scan(kCompareInventory, "NEW", 2), scan(kCompareInventory, "OLD", 9),
                                   scan(kReplaceInventory, "OLD", 7), scan(kSubtractInventory, "OLD", 1),
                                   scan(kAddToInventory, "NEW", 5), edit, fresh});
  post();
  EXPECT_EQ(kinds_started(), (std::vector<std::string>{"Add New Item", "Edit Products", "Add to Inventory",
                                                       "Subtract Inventory", "Replace Inventory", "Compare Inventory"}));
  EXPECT_EQ(stock("NEW"), "5");  // inserted before its quantity was added
  EXPECT_EQ(stock("OLD"), "7");  // subtracted, then replaced
  auto c = compare();
  EXPECT_EQ(c["NEW"]["Orvex_Qty"], "5.0000");
  EXPECT_EQ(c["NEW"]["Description"], "New product");
  EXPECT_EQ(c["OLD"]["Orvex_Qty"], "7.0000");
  EXPECT_EQ(c["OLD"]["Description"], "Edited");
  EXPECT_TRUE(scanner_data().empty());
  EXPECT_TRUE(ui_.boxes.empty()) << "no message when every record was posted";
  EXPECT_EQ(ui_.status.back(), "Processing - Complete");
  // The per-record status line.
  EXPECT_NE(std::find(ui_.status.begin(), ui_.status.end(), "Compare Inventory\r\nRec: 2 / 2"), ui_.status.end());
}

TEST_F(ProcessPostTest, CompareRowsMergePerItemAndDescribeUnknownItemsFromTheScan) {
  auto unknown = scan(kCompareInventory, "NOT-STOCKED", 4);
  unknown.description = "Scanned description";
  unknown.vendor = "SCANV";
  unknown.location = "Z9";
  unknown.standard_price = 1.25;
  auto empty_stock = product("EMPTY", std::nullopt);
  make_shop({product("COUNTED", 11), empty_stock},
            {scan(kCompareInventory, "COUNTED", 2), scan(kCompareInventory, "COUNTED", 3),
             scan(kCompareInventory, "COUNTED", std::nullopt), unknown, scan(kCompareInventory, "EMPTY", 1)});
  post();
  auto c = compare();
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c["COUNTED"]["Scanner_Qty"], "5.0000");
  EXPECT_EQ(c["COUNTED"]["Orvex_Qty"], "11.0000");
  EXPECT_EQ(c["COUNTED"]["Location"], "A12");
  EXPECT_EQ(c["COUNTED"]["Vendor_Code"], "ACME");
  EXPECT_EQ(c["COUNTED"]["Standard_Price"], "2.5000");
  EXPECT_EQ(c["NOT-STOCKED"]["Orvex_Qty"], "0.0000");
  EXPECT_EQ(c["NOT-STOCKED"]["Description"], "Scanned description");
  EXPECT_EQ(c["NOT-STOCKED"]["Vendor_Code"], "SCANV");
  EXPECT_EQ(c["NOT-STOCKED"]["Location"], "Z9");
  EXPECT_EQ(c["NOT-STOCKED"]["Standard_Price"], "1.2500");
  EXPECT_EQ(c["NOT-STOCKED"]["List_Price"], "0.0000");
  EXPECT_EQ(c["EMPTY"]["Orvex_Qty"], "0.0000");
  EXPECT_EQ(stock("COUNTED"), "11") << "a count does not change the stock";
  EXPECT_TRUE(scanner_data().empty());
}

TEST_F(ProcessPostTest, CompareHoldsTheLatestRunOnly) {
  make_shop({product("A", 1), product("B", 2)}, {scan(kCompareInventory, "A", 1)});
  post();
  EXPECT_EQ(compare().count("A"), 1u);
  EXPECT_TRUE(ui_.comparison_menu_enabled());
  add_scans({scan(kCompareInventory, "B", 1)});
  post();
  auto c = compare();
  EXPECT_EQ(c.size(), 1u);
  EXPECT_EQ(c.count("B"), 1u);
  add_scans({scan(kAddToInventory, "B", 1)});
  post();
  EXPECT_TRUE(compare().empty());
  EXPECT_FALSE(ui_.comparison_menu_enabled());
}

TEST_F(ProcessPostTest, AbortDuringAddNewItemSkipsTheLaterKinds) {
  auto n1 = scan(kAddNewItem, "N1", std::nullopt);
  auto n2 = scan(kAddNewItem, "N2", std::nullopt);
  auto n3 = scan(kAddNewItem, "N3", std::nullopt);
  make_shop({product("A", 1)}, {n1, n2, n3, scan(kAddToInventory, "A", 1), scan(kEditProducts, "A", 1)});
  // Events run after each committed group; with a group per record the user
  // presses "&Abort" while the first record's events run.
  session().posting_options().records_per_commit = 1;
  ui_.on_events = [this] { session().set_abort(true); };
  post();
  auto p = product1();
  EXPECT_EQ(p.count("N1"), 1u) << "the record in hand is finished";
  EXPECT_EQ(p.count("N2"), 0u);
  EXPECT_EQ(stock("A"), "1");
  EXPECT_EQ(scanner_data().size(), 4u);
  EXPECT_EQ(kinds_started(), std::vector<std::string>{"Add New Item"});
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0], "Not all the Items Scanned were able to be processed. \r\n");
  EXPECT_EQ(ui_.titles[0], "Tallimo");
  EXPECT_EQ(ui_.status.back(), "Processing - Complete");
}

TEST_F(ProcessPostTest, TheClosingMessageAsksForTheAdvancedScreenWhenSynchronizeIsEnabled) {
  make_shop({product("A", 1)}, {scan(kAddToInventory, "MISSING", 1)});
  ui_.set_command_button_enabled(0, true);  // posting started outside a locked command
  Process_Post(session());
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.boxes[0],
            "Not all the Items Scanned were able to be processed. \r\nPress the advanced button to View the list");
  EXPECT_EQ(ui_.status.back(), "Processing - Complete");
  EXPECT_EQ(ui_.grid_refreshes, 1);
}

TEST_F(ProcessPostTest, WithNoKindTickedNothingIsPostedButCompareIsStillEmptied) {
  make_shop({product("A", 1)}, {scan(kCompareInventory, "A", 3)});
  post();
  ASSERT_EQ(compare().size(), 1u);
  add_scans({scan(kAddToInventory, "A", 1)});

  ui_.set_process_items_all_state(CheckState::kUnchecked);
  Chk_Process_Items_All_Click(session());
  EXPECT_FALSE(ui_.command_button_enabled(2)) << "\"&Process/Post\" is disabled";
  ui_.boxes.clear();
  post();
  EXPECT_TRUE(compare().empty());
  EXPECT_EQ(stock("A"), "1");
  EXPECT_EQ(scanner_data().size(), 1u);
  ASSERT_EQ(ui_.boxes.size(), 1u);
  EXPECT_EQ(ui_.status.back(), "Processing - Complete");
}

TEST_F(ProcessPostTest, TheAllBoxTicksAndLocksTheKindBoxes) {
  ui_.set_process_items_all_state(CheckState::kChecked);
  Chk_Process_Items_All_Click(session());
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(ui_.process_item_state(k), CheckState::kChecked);
    EXPECT_FALSE(ui_.process_item_enabled(k));
  }
  EXPECT_TRUE(ui_.command_button_enabled(2));
  ui_.set_process_items_all_state(CheckState::kUnchecked);
  Chk_Process_Items_All_Click(session());
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(ui_.process_item_state(k), CheckState::kUnchecked);
    EXPECT_TRUE(ui_.process_item_enabled(k));
  }
  EXPECT_FALSE(ui_.command_button_enabled(2));
  ui_.set_process_item_state(3, CheckState::kGreyed);  // greyed does not select
  Chk_Process_Items_Click(session(), 3);
  EXPECT_FALSE(ui_.command_button_enabled(2));
  ui_.set_process_item_state(3, CheckState::kChecked);
  Chk_Process_Items_Click(session(), 3);
  EXPECT_TRUE(ui_.command_button_enabled(2));
}

TEST_F(ProcessPostTest, OnlyTickedKindsArePosted) {
  make_shop({product("A", 1)}, {scan(kAddToInventory, "A", 1), scan(kReplaceInventory, "A", 9)});
  for (int k = 0; k < 6; ++k) ui_.set_process_item_state(k, k == kAddToInventory ? CheckState::kChecked : CheckState::kUnchecked);
  ui_.set_process_items_all_state(CheckState::kUnchecked);
  post();
  EXPECT_EQ(stock("A"), "2");
  EXPECT_EQ(scanner_data().size(), 1u);
  EXPECT_EQ(kinds_started(), std::vector<std::string>{"Add to Inventory"});
}

TEST_F(ProcessPostTest, AutoPrintOpensTheReportOnlyWhenCompareHasRows) {
  session().settings().Auto_Print = true;
  make_shop({product("A", 1)}, {scan(kAddToInventory, "A", 1)});
  post();
  EXPECT_EQ(ui_.comparison_clicks, 0);
  EXPECT_FALSE(ui_.comparison_menu_enabled());
  add_scans({scan(kCompareInventory, "A", 1)});
  post();
  EXPECT_EQ(ui_.comparison_clicks, 1);
  EXPECT_TRUE(ui_.comparison_menu_enabled());
}

TEST_F(ProcessPostTest, GroupedCommitsGiveTheSameResultAsOneRecordPerCommit) {
  auto catalogue = demo::generated_catalogue(300, 11);
  auto scans = demo::generated_scans(400, 300, 12);
  make_shop(catalogue, scans);
  session().posting_options().records_per_commit = 1;
  post();
  auto one_by_one = product1();
  auto compare_one = compare();
  auto left_one = scanner_data().size();
  TearDown();
  SetUp();
  make_shop(catalogue, scans);
  session().posting_options().records_per_commit = 1000;
  post();
  EXPECT_EQ(product1(), one_by_one);
  EXPECT_EQ(compare(), compare_one);
  EXPECT_EQ(scanner_data().size(), left_one);
  EXPECT_EQ(session().last_posting_summary().records_posted + static_cast<long>(left_one), 400);
}

TEST_F(ProcessPostTest, AMissingProductsDatabaseThatStaysMissingEndsTheProgram) {
  make_shop({product("A", 1)}, {scan(kAddToInventory, "A", 1)});
  session().settings().Orvex_Location = dir_ + "/nowhere.mdb";
  post();
  EXPECT_TRUE(session().program_ended());
  EXPECT_EQ(scanner_data().size(), 1u);
  EXPECT_TRUE(std::find(ui_.status.begin(), ui_.status.end(), "Processing - Complete") == ui_.status.end());
}

}  // namespace
}  // namespace tallimo::testing
