// Two shops side by side in one process: each session keeps its own settings,
// databases, user interface, abort flag, posting figures and error log.
#include "app/session.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "app/data/products_database.h"
#include "app/data/scanner_database.h"
#include "app/error_log.h"
#include "app/posting/posting.h"
#include "app/tests/shop_fixture.h"
#include "jet/dao.h"

namespace tallimo::testing {
namespace {

class TwoShopsTest : public ShopTest {
 protected:
  void SetUp() override {
    ShopTest::SetUp();
    other_dir_ = dir_ + "/other";
    std::filesystem::create_directories(other_dir_);
    other_ = std::make_unique<Session>(other_ui_, other_dir_);
    other_->settings().Orvex_Location = other_dir_ + "/products.mdb";
  }
  void TearDown() override {
    other_.reset();
    ShopTest::TearDown();
  }
  void make_other_shop(const std::vector<demo::Product>& products, const std::vector<demo::Scan>& scans) {
    auto db = demo::create_products_database(other_dir_ + "/products.mdb");
    demo::add_products(*db, products);
    db->close();
    auto scanner = demo::create_scanner_database(Scanner_Database_Path(*other_));
    demo::add_scans(*scanner, scans);
    scanner->close();
  }
  std::string other_stock(const std::string& code) {
    for (auto& row : mdb_export(other_dir_ + "/products.mdb", "PRODUCT1")) {
      if (row["Product Code"] == code) return row["Inventory Qty"];
    }
    return "<missing>";
  }

  std::string other_dir_;
  RecordingUi other_ui_;
  std::unique_ptr<Session> other_;
};

TEST_F(TwoShopsTest, EachSessionHasItsOwnFolderSettingsAndDatabases) {
  make_shop({product("A", 1)}, {scan(kAddToInventory, "A", 2)});
  make_other_shop({product("A", 10)}, {scan(kAddToInventory, "A", 5)});
  EXPECT_NE(Scanner_Database_Path(session()), Scanner_Database_Path(*other_));

  ASSERT_TRUE(Open_Scanner_Data_File(session()));
  ASSERT_TRUE(Open_Scanner_Data_File(*other_));
  EXPECT_NE(Scanner_Database(session()), Scanner_Database(*other_));
  ASSERT_TRUE(Open_Orvex_DataBase(*other_));
  EXPECT_EQ(Orvex_Database(session()), nullptr) << "opening one shop's products opens nothing in the other";
  Close_Orvex_DataBase(*other_);

  session().settings().Auto_Print = true;
  EXPECT_FALSE(other_->settings().Auto_Print);
  session().posting_options().records_per_commit = 1;
  EXPECT_EQ(other_->posting_options().records_per_commit, PostingOptions{}.records_per_commit);
  session().scanner_record().Item_Number = "mine";
  EXPECT_EQ(other_->scanner_record().Item_Number, "");

  post();
  EXPECT_EQ(stock("A"), "3");
  EXPECT_EQ(other_stock("A"), "10") << "posting one shop leaves the other's stock alone";
  EXPECT_EQ(session().last_posting_summary().records_posted, 1);
  EXPECT_EQ(other_->last_posting_summary().records_at_start, 0);
  EXPECT_TRUE(other_ui_.status.empty());
}

TEST_F(TwoShopsTest, AbortAndErrorsStayInTheirSession) {
  make_shop({product("A", 1)}, {scan(kAddToInventory, "A", 2)});
  make_other_shop({product("B", 10)}, {scan(kAddToInventory, "B", 5)});

  other_->set_abort(true);
  post();
  EXPECT_EQ(stock("A"), "3") << "the other shop's abort does not stop this one";
  EXPECT_TRUE(other_->abort_requested());

  Error_Routine(*other_, "disk on fire", "Process_Post");
  EXPECT_EQ(other_ui_.boxes.size(), 1u);
  EXPECT_TRUE(ui_.boxes.empty());
  EXPECT_TRUE(reported_routines().empty()) << "the error is logged in the other shop's folder only";
  EXPECT_TRUE(std::filesystem::exists(other_dir_ + "/" + kErrorLogName));
}

TEST_F(TwoShopsTest, ARunInOneShopMayRunWhileTheOtherYields) {
  // A posting run of the other shop started from inside this shop's run (as a
  // second window would while the first lets events run): each run is its
  // session's active run, and both end with their own records posted.
  make_shop({product("A", 1)}, {scan(kAddToInventory, "A", 2), scan(kAddToInventory, "A", 3)});
  make_other_shop({product("A", 10)}, {scan(kSubtractInventory, "A", 4)});
  session().posting_options().records_per_commit = 1;  // events after each record
  bool nested = false;
  ui_.on_events = [&] {
    if (nested) return;
    nested = true;
    EXPECT_NE(session().active_run(), nullptr);
    EXPECT_EQ(other_->active_run(), nullptr);
    other_->set_abort(false);
    Process_Post(*other_);
    EXPECT_EQ(other_->active_run(), nullptr);
  };
  post();
  ASSERT_TRUE(nested);
  EXPECT_EQ(stock("A"), "6");
  EXPECT_EQ(other_stock("A"), "6");
  EXPECT_TRUE(other_->last_posting_summary().completed);
  EXPECT_EQ(other_->last_posting_summary().records_posted, 1);
  EXPECT_EQ(session().last_posting_summary().records_posted, 2);
  EXPECT_EQ(session().active_run(), nullptr);
}

TEST_F(TwoShopsTest, EndingTheProgramEndsOnlyThatSession) {
  session().settings().Orvex_Location = dir_ + "/nowhere.mdb";
  EXPECT_FALSE(Open_Orvex_DataBase(session()));
  EXPECT_TRUE(session().program_ended());
  EXPECT_FALSE(other_->program_ended());
}

}  // namespace
}  // namespace tallimo::testing
