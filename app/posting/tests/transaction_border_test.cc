// Posting never lets the user interface run while a commit group is open: a
// window that processes events, shows a message or refreshes its grid meanwhile
// sees committed files, and an edit made then (a grid edit through another
// handle) is its own change, never part of the run's group.
#include <gtest/gtest.h>

#include <stdexcept>

#include "app/posting/posting.h"
#include "app/posting/posting_run.h"
#include "app/tests/shop_fixture.h"
#include "jet/dao.h"

namespace tallimo::testing {
namespace {

class TransactionBorderTest : public ShopTest {
 protected:
  // Fails the test when the session's run has a transaction open.
  void expect_no_open_group(const char* where) {
    ++yields_;
    PostingRun* run = session().active_run();
    EXPECT_FALSE(run != nullptr && run->pending()) << "the user interface ran inside a commit group: " << where;
  }
  // Sets Qty of the first Scanner_Data row of `kind` through a handle of its own.
  void edit_qty_elsewhere(int16_t kind, double qty) {
    auto db = jet::dao::Database::open(scanner_path());
    auto rs = db->open_recordset("Select * From Scanner_Data Where File_Type = " + std::to_string(kind));
    ASSERT_FALSE(rs->eof());
    rs->edit();
    rs->set_field("Qty", jet::Value(qty));
    rs->update();
    rs->close();
    db->close();
  }
  int yields_ = 0;
};

TEST_F(TransactionBorderTest, EventsMessagesAndTheGridRunOnlyBetweenGroups) {
  // Large groups, and errors in the middle of them: the error boxes wait for
  // the group's end.
  session().posting_options().records_per_commit = 3;
  session().posting_options().seconds_per_commit = 1e9;
  make_shop({product("A", 1), product("B", 2)},
            {scan(kAddToInventory, "A", 1), scan(kAddToInventory, std::nullopt, 1), scan(kAddToInventory, "A", 1),
             scan(kAddToInventory, "A", 1), scan(kAddToInventory, "A", 1), scan(kSubtractInventory, "B", 1),
             scan(kCompareInventory, "B", 4), scan(kAddToInventory, "MISSING", 1)});
  ui_.on_yield = [this] { expect_no_open_group("a yielding call"); };
  session().settings().Auto_Print = true;
  post();
  EXPECT_EQ(stock("A"), "5");
  EXPECT_EQ(stock("B"), "1");
  EXPECT_EQ(reported_routines(), std::vector<std::string>{"Process_Post_Individual_Item"});
  // The error box, the closing message, events after each group, the grid,
  // and the report dialog.
  EXPECT_GE(yields_, 5);
  EXPECT_EQ(ui_.comparison_clicks, 1);
}

TEST_F(TransactionBorderTest, AnEditWhileTheRunYieldsIsNeitherLostNorRolledBackWithTheRun) {
  // The window edits the Replace record's quantity while the run lets events
  // run, then fails (its event handler throws): the run rolls back what it
  // has not committed, and the edit stays.
  make_shop({product("A", 1), product("B", 2)},
            {scan(kAddToInventory, "A", 1), scan(kAddToInventory, "A", 1), scan(kAddToInventory, "A", 1),
             scan(kReplaceInventory, "B", 5)});
  session().posting_options().records_per_commit = 2;
  session().posting_options().seconds_per_commit = 1e9;
  bool edited = false;
  ui_.on_events = [&] {
    if (edited) return;
    edited = true;
    edit_qty_elsewhere(kReplaceInventory, 7);
    throw std::runtime_error("the window failed while handling events");
  };
  post();
  ASSERT_TRUE(edited);
  EXPECT_EQ(reported_routines(), std::vector<std::string>{"Process_Post_Individual_Item"});
  EXPECT_EQ(stock("B"), "7") << "the edited quantity was posted";
  // The records committed before the events ran stay posted; the third Add
  // record stays for the next run.
  EXPECT_EQ(stock("A"), "3");
  ASSERT_EQ(scanner_data().size(), 1u);
  EXPECT_EQ(scanner_data()[0]["File_Type"], "0");
}

TEST_F(TransactionBorderTest, AnEditWhileTheRunYieldsKeepsItsValueWhenTheRecordStays) {
  // The edited record is of a kind this run does not post: it keeps the edit.
  make_shop({product("A", 1)}, {scan(kAddToInventory, "A", 1), scan(kAddToInventory, "A", 1),
                                scan(kReplaceInventory, "A", 5)});
  ui_.set_process_items_all_state(CheckState::kUnchecked);
  for (int k = 0; k < kKindCount; ++k) {
    ui_.set_process_item_state(k, k == kAddToInventory ? CheckState::kChecked : CheckState::kUnchecked);
  }
  session().posting_options().records_per_commit = 1;
  bool edited = false;
  ui_.on_events = [&] {
    if (!edited) edit_qty_elsewhere(kReplaceInventory, 9);
    edited = true;
  };
  post();
  EXPECT_EQ(stock("A"), "3");
  ASSERT_EQ(scanner_data().size(), 1u);
  EXPECT_EQ(scanner_data()[0]["Qty"], "9");
}

}  // namespace
}  // namespace tallimo::testing
