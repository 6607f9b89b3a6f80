// The phone scans' store: merged rows as the infrared read merges them, resends
// counted once, undo, and the checks on what a phone sends.
#include <gtest/gtest.h>

#include <cmath>

#include "app/phone/phone_store.h"
#include "app/posting/posting.h"
#include "app/tests/shop_fixture.h"
#include "jet/dao.h"
#include "jet/error.h"

namespace tallimo::testing {
namespace {

class PhoneStoreTest : public ShopTest {
 protected:
  void SetUp() override {
    ShopTest::SetUp();
    make_shop({}, {scan(kAddToInventory, "OLD", 1)});
    db_ = jet::dao::Database::open(scanner_path());
    store_ = std::make_unique<phone::PhoneStore>(*db_);
  }
  void TearDown() override {
    store_.reset();
    if (db_) db_->close();
    ShopTest::TearDown();
  }
  std::vector<std::string> rows() { return scanner_rows(*db_); }
  static phone::PhoneScan s(const std::string& id, const std::string& item, int16_t kind, double qty) {
    phone::PhoneScan out;
    out.id = id;
    out.item = item;
    out.kind = kind;
    out.qty = qty;
    return out;
  }
  std::unique_ptr<jet::dao::Database> db_;
  std::unique_ptr<phone::PhoneStore> store_;
};

TEST_F(PhoneStoreTest, ScansMergeByItemAndKindAndAResendCountsOnce) {
  store_->apply(s("phone-aaa1:1", "A1", 0, 2), "Widget");
  store_->apply(s("phone-bbb2:1", "A1", 0, 3));  // another phone, same item and kind
  store_->apply(s("phone-aaa1:2", "A1", 1, 1.25));
  const auto again = store_->apply(s("phone-aaa1:1", "A1", 0, 2));
  EXPECT_TRUE(again.duplicate);
  EXPECT_DOUBLE_EQ(again.row_qty, 5);
  EXPECT_EQ(rows(), (std::vector<std::string>{"0 A1 5", "0 OLD 1", "1 A1 1.25"}));
  EXPECT_EQ(store_->recorded(), 3);
  // What mdb-export reads: the description taken from the product, the kinds as numbers.
  db_->close();
  db_.reset();
  const auto exported = scanner_data();
  ASSERT_EQ(exported.size(), 3u);
  bool seen = false;
  for (const auto& row : exported) {
    if (row.at("Item_Number") == "A1" && row.at("File_Type") == "0") {
      EXPECT_EQ(row.at("Description"), "Widget");
      seen = true;
    }
  }
  EXPECT_TRUE(seen);
  db_ = jet::dao::Database::open(scanner_path());
  store_ = std::make_unique<phone::PhoneStore>(*db_);
  EXPECT_TRUE(store_->applied("phone-aaa1:1"));
  EXPECT_FALSE(store_->applied("phone-aaa1:3"));
}

TEST_F(PhoneStoreTest, OneCommitForManyScansCountsARepeatedIdOnceAndABadScanStopsAll) {
  const auto results = store_->apply_all(
      {s("phone-aaa1:1", "A1", 0, 1), s("phone-bbb2:1", "A1", 0, 2), s("phone-aaa1:1", "A1", 0, 1)}, {"Widget"});
  ASSERT_EQ(results.size(), 3u);
  EXPECT_FALSE(results[1].duplicate);
  EXPECT_TRUE(results[2].duplicate);
  EXPECT_DOUBLE_EQ(results[2].row_qty, 3);
  EXPECT_THROW(store_->apply_all({s("phone-aaa1:2", "A1", 0, 1), s("phone-aaa1:3", "A1", 9, 1)}, {}), jet::Error);
  EXPECT_EQ(rows(), (std::vector<std::string>{"0 A1 3", "0 OLD 1"}));
  EXPECT_EQ(store_->recorded(), 2);
}

TEST_F(PhoneStoreTest, UndoTakesAScanBackOnceAndRemovesAnEmptiedRow) {
  store_->apply(s("phone-aaa1:1", "B2", 2, 4));
  store_->apply(s("phone-aaa1:2", "B2", 2, 1));
  auto r = store_->undo("phone-aaa1:3", "phone-aaa1:2");
  EXPECT_FALSE(r.duplicate);
  EXPECT_DOUBLE_EQ(r.row_qty, 4);
  EXPECT_TRUE(store_->undo("phone-aaa1:3", "phone-aaa1:2").duplicate);  // resent undo
  EXPECT_TRUE(store_->undo("phone-aaa1:4", "phone-aaa1:2").duplicate);  // second undo of it
  EXPECT_EQ(rows(), (std::vector<std::string>{"0 OLD 1", "2 B2 4"}));
  store_->undo("phone-aaa1:5", "phone-aaa1:1");
  EXPECT_EQ(rows(), (std::vector<std::string>{"0 OLD 1"}));
  // An unknown scan, an undo of an undo, and a scan whose row was posted away.
  try {
    store_->undo("phone-aaa1:6", "phone-aaa1:99");
    FAIL();
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.category(), jet::ErrorCategory::kNotFound);
  }
  EXPECT_THROW(store_->undo("phone-aaa1:7", "phone-aaa1:5"), jet::Error);
  store_->apply(s("phone-aaa1:8", "C3", 0, 1));
  db_->execute("Delete * From Scanner_Data Where Item_Number = \"C3\"");  // posted
  store_->apply(s("phone-aaa1:10", "C3", 0, 2));  // counted again: a new row
  try {
    store_->undo("phone-aaa1:9", "phone-aaa1:8");
    FAIL();
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.category(), jet::ErrorCategory::kConstraint);
  }
  EXPECT_EQ(rows(), (std::vector<std::string>{"0 C3 2", "0 OLD 1"}));
}

TEST_F(PhoneStoreTest, WhatAPhoneSendsIsCheckedBeforeAnythingIsWritten) {
  const std::string long_item(256, 'X');
  const std::vector<phone::PhoneScan> bad = {
      s("short:1", "A", 0, 1),                 // phone id too short
      s("phone-aaa1:", "A", 0, 1),             // no sequence
      s("phone-aaa1:1x", "A", 0, 1),           // sequence not digits
      s("phone aaa1:1", "A", 0, 1),            // blank in the phone id
      s("phone-aaa1:1", "", 0, 1),             // no item
      s("phone-aaa1:1", long_item, 0, 1),      // longer than the column
      s("phone-aaa1:1", "A\tB", 0, 1),         // control character
      s("phone-aaa1:1", "\xff\xfe", 0, 1),     // not UTF-8
      s("phone-aaa1:1", " A", 0, 1),           // blank at the start
      s("phone-aaa1:1", "A", 6, 1),            // unknown kind
      s("phone-aaa1:1", "A", -1, 1),           // unknown kind
      s("phone-aaa1:1", "A", 0, -1),           // negative
      s("phone-aaa1:1", "A", 0, 100000),       // out of range
      s("phone-aaa1:1", "A", 0, 0),            // nothing added
      s("phone-aaa1:1", "A", 0, 1.00001),      // five decimals
      s("phone-aaa1:1", "A", 0, std::nan("")),
  };
  for (const auto& scan : bad) {
    try {
      store_->apply(scan);
      ADD_FAILURE() << "accepted " << scan.id << " " << scan.item << " " << scan.kind << " " << scan.qty;
    } catch (const jet::Error& e) {
      EXPECT_EQ(e.category(), jet::ErrorCategory::kInvalidArgument) << e.what();
    }
  }
  EXPECT_EQ(store_->recorded(), 0);
  EXPECT_EQ(rows(), (std::vector<std::string>{"0 OLD 1"}));
  // Edges that are fine: a 255-character item, a zero count, four decimals, UTF-8.
  store_->apply(s("phone-aaa1:1", std::string(255, 'Y'), 0, 99999));
  store_->apply(s("phone-aaa1:2", "Z", 2, 0));
  store_->apply(s("phone-aaa1:3", "Z", 3, 0.0001));
  store_->apply(s("phone-aaa1:4", "Ünïcode-é", 0, 1));
  EXPECT_EQ(store_->recorded(), 4);
}

}  // namespace
}  // namespace tallimo::testing
