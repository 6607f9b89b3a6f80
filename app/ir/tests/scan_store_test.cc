// Holding a file's scans until the scanner has deleted it: every way a read can be
// cut between its commits ends with each scan counted once.
#include <gtest/gtest.h>

#include "app/data/scanner_database.h"
#include "app/ir/scan_store.h"
#include "app/posting/posting.h"
#include "app/tests/shop_fixture.h"
#include "jet/dao.h"

namespace tallimo::testing {
namespace {

ScannerRecord rec(const std::string& item, double qty, const std::string& description = "D") {
  ScannerRecord r;
  r.Item_Number = item;
  r.Qty = qty;
  r.Description = description;
  return r;
}

class ScanStoreTest : public ShopTest {
 protected:
  void SetUp() override {
    ShopTest::SetUp();
    make_shop({}, {scan(kAddToInventory, "OLD", 1)});
    db_ = jet::dao::Database::open(scanner_path());
    store_ = std::make_unique<ir::ScanStore>(*db_);
  }
  void TearDown() override {
    store_.reset();
    if (db_) db_->close();
    ShopTest::TearDown();
  }
  // "kind item qty" of Scanner_Data, sorted.
  std::vector<std::string> rows() { return scanner_rows(*db_); }
  // A fresh handle, as a process started after a crash has.
  void reopen() {
    store_.reset();
    db_->close();
    db_ = jet::dao::Database::open(scanner_path());
    store_ = std::make_unique<ir::ScanStore>(*db_);
  }
  std::unique_ptr<jet::dao::Database> db_;
  std::unique_ptr<ir::ScanStore> store_;
};

TEST_F(ScanStoreTest, AReadEmptiesTheListOnceAndAKilledReadKeepsWhatItCommitted) {
  EXPECT_FALSE(store_->begin_read());
  EXPECT_TRUE(rows().empty());
  store_->hold(0, {rec("A", 2), rec("B", 1), rec("A", 3)});
  EXPECT_TRUE(rows().empty()) << "held rows are not scans yet";
  store_->take_in(0);
  EXPECT_EQ(rows(), (std::vector<std::string>{"0 A 5", "0 B 1"}));
  // Killed here; the next read resumes instead of emptying the list.
  reopen();
  EXPECT_TRUE(store_->begin_read());
  EXPECT_EQ(rows(), (std::vector<std::string>{"0 A 5", "0 B 1"}));
  store_->end_read();
  EXPECT_FALSE(store_->begin_read());
  EXPECT_TRUE(rows().empty());
}

TEST_F(ScanStoreTest, AHeldFileStillOnTheScannerIsReplacedByTheNewRead) {
  store_->begin_read();
  const std::vector<ScannerRecord> file = {rec("A", 2), rec("B", 1)};
  store_->hold(1, file);
  // Killed before the scanner deleted the file: the next read finds it again.
  reopen();
  store_->begin_read();
  ASSERT_TRUE(store_->held(1).has_value());
  EXPECT_EQ(store_->held(1)->records, 2);
  store_->hold(1, file);
  store_->take_in(1);
  EXPECT_EQ(rows(), (std::vector<std::string>{"1 A 2", "1 B 1"}));
  EXPECT_FALSE(store_->held(1).has_value());
}

TEST_F(ScanStoreTest, AHeldFileTheScannerDeletedIsTakenInBeforeNewScans) {
  store_->begin_read();
  store_->hold(2, {rec("A", 2), rec("B", 1)});
  // Killed after the deletion: the scanner's file is now empty, or holds new scans.
  reopen();
  store_->begin_read();
  store_->hold(2, {rec("A", 4)});
  store_->take_in(2);
  EXPECT_EQ(rows(), (std::vector<std::string>{"2 A 6", "2 B 1"}));

  // Same first records but fewer of them than held: deleted, then scanned again.
  store_->hold(3, {rec("C", 1), rec("D", 1)});
  reopen();
  store_->hold(3, {rec("C", 1)});
  store_->take_in(3);
  EXPECT_EQ(rows(), (std::vector<std::string>{"2 A 6", "2 B 1", "3 C 2", "3 D 1"}));
}

TEST_F(ScanStoreTest, TheHeldFileGrownOnTheScannerIsReadWhole) {
  store_->begin_read();
  store_->hold(0, {rec("A", 2)});
  reopen();
  store_->hold(0, {rec("A", 2), rec("A", 5)});
  store_->take_in(0);
  EXPECT_EQ(rows(), (std::vector<std::string>{"0 A 7"}));
}

TEST_F(ScanStoreTest, TheProductListReplacesItsRowsAndHoldsNothing) {
  store_->begin_read();
  ScannerRecord product = rec("P1", 12, "JUICE");
  product.Record_Mode = 1;
  product.Vendor_Code = "ACME";
  store_->replace(5, {product});
  store_->replace(5, {product});
  EXPECT_EQ(rows(), (std::vector<std::string>{"5 P1 12"}));
  EXPECT_FALSE(store_->held(5).has_value());
}

TEST_F(ScanStoreTest, HeldRowsMergeAsJetComparesTextAndTheLatestScanWins) {
  store_->begin_read();
  store_->hold(4, {rec("ab-1", 1, "FIRST"), rec("AB-1", 2, "SECOND"), rec("ab-2", 4)});
  store_->take_in(4);
  EXPECT_EQ(rows(), (std::vector<std::string>{"4 AB-1 3", "4 ab-2 4"}));
}

TEST(ScanStoreSql, TheLookupKeepsItsLayoutAndDoublesQuotes) {
  EXPECT_EQ(ir::scanner_data_lookup_sql("A\"B", 3),
            "Select * \r\nFrom Scanner_Data\r\nWhere (   (Scanner_Data.Item_Number = \"A\"\"B\")\r\n"
            " AND  (Scanner_Data.File_Type = 3)\r\n)\r\n");
}

}  // namespace
}  // namespace tallimo::testing
