// The upload run and the full synchronisation against the simulated scanner.
#include "ir_run_fixture.h"

#include "app/data/products_database.h"
#include "jet/dao.h"

namespace tallimo::testing {
namespace {

class UploadTest : public IrShopTest {
 protected:
  static demo::Product item(const std::string& code, double stock, const std::string& description = "Item",
                            const std::string& vendor = "V") {
    demo::Product p = product(code, stock, description);
    p.vendor = vendor;
    return p;
  }
  // The item numbers of the product records on the scanner, in upload order.
  static std::vector<std::string> uploaded() {
    std::vector<std::string> out;
    for (const auto& r : records(5)) out.push_back(r.substr(0, r.find('~')));
    return out;
  }
};

TEST_F(UploadTest, ProductsGoInByteOrderWithTheirIndexAndApostrophesSurviveTheStaging) {
  make_shop({item("b1", 1), item("A", 5, "O'Brien's tea", "Smith's"), item("2A", 3), item("11", 2), item("105", 0),
             item("10", 4), item("B2", 6)},
            {scan(kAddToInventory, "OLD", 1)});
  load(5, {"OLD~OLD~1~1~1~V~L~1"});
  load(6, {"OL~0"});
  last_ = Update_Inventory_Corvia_Labs(session(), true);

  EXPECT_EQ(ir_ui_.instructions, 1);
  EXPECT_EQ(uploaded(), (std::vector<std::string>{"10", "105", "11", "2A", "A", "B2", "b1"}));
  EXPECT_EQ(records(6), (std::vector<std::string>{"10~0", "11~2", "2A~3", "A~4", "B2~5", "b1~6"}));
  EXPECT_EQ(records(5)[4], "A~O'Brien's tea~2.500~1.500~5~Smith's~A12~3");
  // The staging rows stay in Scanner_Data, in the database's own order, with their
  // byte-order key.
  int staged = 0;
  for (auto& row : scanner_data()) {
    ++staged;
    if (row["Item_Number"] == "A") {
      EXPECT_EQ(row["Description"], "O'Brien's tea");
      EXPECT_EQ(row["Vendor_Code"], "Smith's");
      EXPECT_EQ(row["Item_Order"], "41");
      EXPECT_EQ(row["File_Type"], "");
    }
  }
  EXPECT_EQ(staged, 7);
  auto p = payloads();
  EXPECT_EQ(p.front().substr(0, 3), "15");
  EXPECT_TRUE(has(p, "402Receiving"));
  EXPECT_TRUE(has(p, "403Inventory"));
  EXPECT_TRUE(has(p, "403Indexes"));
  EXPECT_TRUE(has(p, "16"));
  EXPECT_TRUE(has(p, "404Rec:0/7"));
  EXPECT_TRUE(has(p, "404Rec:1/7"));
  EXPECT_FALSE(has(p, "404Rec:2/7"));
  EXPECT_TRUE(has(p, "404Rec:0/5"));
  EXPECT_EQ(p.back(), "5");
  // Free memory after the second product: the old index record was still there.
  const long free = 1048576 - static_cast<long>(records(5)[0].size() + 1 + records(5)[1].size() + 1 + 5);
  EXPECT_TRUE(has(ir_ui_.status, "Add to Inventory\r\nRec: 1 / 7\r\nFree: " + std::to_string(free)))
      << ::testing::PrintToString(ir_ui_.status);
  EXPECT_TRUE(has(ir_ui_.status, "Uploading Indexes\r\nRec: 1 / 5"));
  EXPECT_EQ(ir_ui_.status.back(), "Processing - Complete");
  EXPECT_FALSE(session().ir_port_open()) << "an upload closes the port";
  EXPECT_TRUE(last_.completed);
}

TEST_F(UploadTest, TextsGoToTheScannerInItsCharacterSetInItsByteOrder) {
  // "ÉTÉ" (C9 54 C9) sorts after "Z1" and before "é1" (E9 31) on the scanner.
  make_shop({item("\xC3\xA9" "1", 1), item("\xC3\x89T\xC3\x89", 2, "Caf\xC3\xA9 cr\xC3\xA8me \xE6\x97\xA5", "\xE2\x82\xAC"),
             item("Z1", 3)},
            {});
  last_ = Update_Inventory_Corvia_Labs(session(), true);
  EXPECT_EQ(uploaded(), (std::vector<std::string>{"Z1", "\xC9T\xC9", "\xE9" "1"}));
  EXPECT_EQ(records(5)[1].substr(0, 23), "\xC9T\xC9~Caf\xE9 cr\xE8me ?~2.500~");
  EXPECT_NE(records(5)[1].find("~\x80~"), std::string::npos) << "the vendor";
  EXPECT_EQ(records(6), (std::vector<std::string>{"Z1~0", "\xC9T~1", "\xE9" "1~2"}));
  EXPECT_TRUE(last_.completed);
}

TEST_F(UploadTest, FreeMemoryJustBelowTheLimitStopsAfterThatRecordAndExactlyTheLimitGoesOn) {
  make_shop({item("A1", 1), item("A2", 2), item("B1", 3), item("B2", 4)}, {});
  last_ = Update_Inventory_Corvia_Labs(session(), false);
  ASSERT_EQ(records(5).size(), 4u);
  std::vector<long> cost;
  for (const auto& r : records(5)) cost.push_back(static_cast<long>(r.size()) + 1);

  // After the second product exactly 75000 bytes are free, after the third one less.
  sim_->with_scanner([&](r50sim::Scanner& s) {
    s.set_records(5, {});
    s.set_records(6, {});
    s.set_memory_total(75000 + cost[0] + cost[1]);
    s.set_sync_mode(true);
  });
  ir_ui_.boxes.clear();
  sim_->clear_events();
  last_ = Update_Inventory_Corvia_Labs(session(), false);
  EXPECT_EQ(ir_ui_.instructions, 0) << "no instructions box without Ask";
  EXPECT_EQ(uploaded(), (std::vector<std::string>{"A1", "A2", "B1"}));
  EXPECT_EQ(ir_ui_.boxes, (std::vector<std::string>{kLowMemoryText}));
  EXPECT_EQ(ir_ui_.titles.back(), "Tallimo");
  // The index of what was written still goes up, and the run completes.
  EXPECT_EQ(records(6), (std::vector<std::string>{"A1~0", "A2~1", "B1~2"}));
  EXPECT_EQ(ir_ui_.status.back(), "Processing - Complete");
  EXPECT_TRUE(last_.low_memory);
}

TEST_F(UploadTest, AWriteThatFailsIsReportedAsAFailedWriteNotAsLowMemory) {
  make_shop({item("A1", 1), item("A2", 2), item("A3", 3)}, {});
  ir_ui_.on_events = [] {
    if (records(5).size() == 1) sim_->update([](r50sim::Options& o) { o.mute = true; });
  };
  last_ = Update_Inventory_Corvia_Labs(session(), false);
  // The mute scanner may have stored the unanswered writes; nothing after them went.
  auto sent = uploaded();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.front(), "A1");
  EXPECT_FALSE(has(sent, "A3"));
  EXPECT_TRUE(records(6).empty()) << "no index after a failed write";
  ASSERT_EQ(ir_ui_.boxes.size(), 1u);
  EXPECT_EQ(ir_ui_.boxes[0], "Product 2 of 3 (A2) could not be written to the scanner.\r\n"
                             "The upload stopped; the scanner holds the products before it.");
  EXPECT_EQ(ir_ui_.status.back(), "Processing - Aborted");
  EXPECT_TRUE(last_.write_failed);
  EXPECT_FALSE(last_.low_memory);
  EXPECT_FALSE(session().ir_port_open());
}

TEST_F(UploadTest, AbortEndsTheProductsAfterTheRecordInHandAndSendsOneIndexEntry) {
  make_shop({item("A1", 1), item("B1", 2), item("C1", 3), item("D1", 4)}, {});
  ir_ui_.on_events = [this] {
    if (records(5).size() == 2) session().set_abort(true);
  };
  last_ = Update_Inventory_Corvia_Labs(session(), false);
  EXPECT_EQ(uploaded(), (std::vector<std::string>{"A1", "B1"}));
  EXPECT_EQ(records(6), (std::vector<std::string>{"A1~0"}));
  EXPECT_EQ(ir_ui_.status.back(), "Processing - Aborted");
  EXPECT_FALSE(has(payloads(), "5"));
  EXPECT_FALSE(session().ir_port_open());
}

TEST_F(UploadTest, CancelClosesThePortAndSendsNothing) {
  make_shop({item("A1", 1)}, {});
  ir_ui_.cancel = true;
  last_ = Update_Inventory_Corvia_Labs(session(), true);
  EXPECT_TRUE(payloads().empty());
  EXPECT_FALSE(session().ir_port_open());
}

TEST_F(UploadTest, ASynchronisationReadsPostsAndSendsTheNewStockThenClosesThePort) {
  make_shop({item("1001", 10), item("2002", 5)}, {scan(kAddToInventory, "OLD", 1)});
  ASSERT_TRUE(Open_Scanner_Data_File(session()));
  load(0, {"1001~2~APPLES", "1001~3~APPLES"});
  load(1, {"2002~1~PEARS"});
  last_ = Synchronize_Infrared(session(), true);

  // Posted: 10 + 5 and 5 - 1; then the list went back with those stocks.
  EXPECT_EQ(stock("1001"), "15");
  EXPECT_EQ(stock("2002"), "4");
  EXPECT_EQ(records(5), (std::vector<std::string>{"1001~Item~2.500~1.500~15~V~A12~3",
                                                  "2002~Item~2.500~1.500~4~V~A12~3"}));
  for (int f = 0; f < 5; ++f) EXPECT_TRUE(records(f).empty());
  // One instructions box, synchronisation mode ended once at the very end.
  EXPECT_EQ(ir_ui_.instructions, 1);
  auto p = payloads();
  EXPECT_EQ(std::count(p.begin(), p.end(), "5"), 1);
  EXPECT_EQ(p.back(), "5");
  EXPECT_TRUE(has(ir_ui_.status, "Processing - Complete"));
  EXPECT_FALSE(has(ir_ui_.status, "Read from Scanner - Complete"));
  EXPECT_FALSE(session().ir_port_open());
  EXPECT_TRUE(last_.posted);
  EXPECT_EQ(last_.files_read, 6);
}

TEST(UploadHelpers, HexKeysAndIndexPrefixes) {
  EXPECT_EQ(String_To_Hex("b1"), "6231");
  EXPECT_EQ(String_To_Hex("B2"), "4232");
  EXPECT_EQ(String_To_Hex(""), "");
  EXPECT_EQ(String_To_Hex("\xC3\xA9"), "E9");     // é, one byte in the single-byte set
  EXPECT_EQ(String_To_Hex("\xE2\x82\xAC"), "80");  // €, code page 1252's own
  EXPECT_EQ(String_To_Hex("\xE6\x97\xA5"), "3F");  // beyond it
  EXPECT_EQ(String_To_Hex(std::string("\x01", 1)), "01");
  EXPECT_LT(String_To_Hex("B2"), String_To_Hex("b1"));
  EXPECT_EQ(index_prefix("105"), "10");
  EXPECT_EQ(index_prefix("A"), "A");
  EXPECT_EQ(index_prefix("\xC3\xA9tude"), "\xC3\xA9t");
  EXPECT_EQ(ir_line_speed(0), 115200);
  EXPECT_EQ(ir_line_speed(1), 38400);
  EXPECT_EQ(ir_line_speed(2), 19200);
  EXPECT_EQ(ir_line_speed(3), 0);
  EXPECT_EQ(ir_line_speed(-1), 0);
}

}  // namespace
}  // namespace tallimo::testing
