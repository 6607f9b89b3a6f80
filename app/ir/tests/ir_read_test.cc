// The read run against the simulated scanner: what reaches Scanner_Data, what the
// scanner shows and keeps, the instructions box, Abort, files that cannot be read
// whole, late and garbled replies.
#include "ir_run_fixture.h"

#include "jet/dao.h"

namespace tallimo::testing {
namespace {

class ReadTest : public IrShopTest {
 protected:
  void SetUp() override {
    IrShopTest::SetUp();
    make_shop({product("1001", 10)}, {scan(kAddToInventory, "OLD", 1)});
    ASSERT_TRUE(Open_Scanner_Data_File(session()));
  }
  std::vector<std::string> display_lines_4() const {
    std::vector<std::string> out;
    for (const auto& p : payloads())
      if (p.rfind("404", 0) == 0 && p.find_first_not_of(' ', 3) != std::string::npos) out.push_back(p.substr(3));
    return out;
  }
};

TEST_F(ReadTest, ScansMergePerItemAndKindFilesAreDeletedAndTheProductListStays) {
  std::vector<std::string> subtract;
  for (int k = 1; k <= 25; ++k) subtract.push_back("S" + std::to_string(k) + "~1~ITEM");
  load(0, {"1001~2~APPLES", "1001~3~GREEN APPLES", "2002~1.25~PEARS"});
  load(1, subtract);
  load(3, {"1001~7~APPLES"});
  load(5, {"1001~APPLES~2.500~1.200~12~ACME~A1~3"});

  last_ = Synchronize_Infrared(session(), false);

  EXPECT_EQ(ir_ui_.instructions, 1);
  EXPECT_EQ(ir_ui_.boxes.front(), Scanner_Instructions());
  auto rows = scan_rows();
  // Earlier rows went: a read replaces the scan list.
  EXPECT_FALSE(has(rows, "0 OLD 1"));
  EXPECT_TRUE(has(rows, "0 1001 5"));
  EXPECT_TRUE(has(rows, "0 2002 1.25"));
  EXPECT_TRUE(has(rows, "3 1001 7"));
  EXPECT_TRUE(has(rows, "5 1001 12"));
  EXPECT_EQ(rows.size(), 3u + 25u + 1u);
  // The latest scan's other fields win.
  for (auto& row : scanner_data()) {
    if (row["Item_Number"] == "1001" && row["File_Type"] == "0") {
      EXPECT_EQ(row["Description"], "GREEN APPLES");
    }
    if (row["File_Type"] == "5") {
      EXPECT_EQ(row["Vendor_Code"], "ACME");
      EXPECT_EQ(row["Location"], "A1");
    }
  }
  for (int f = 0; f < 5; ++f) EXPECT_TRUE(records(f).empty()) << "file " << f;
  EXPECT_EQ(records(5).size(), 1u);

  // Scanner display: every file shows "Sending" and its caption; Rec:1, then every tenth.
  auto p = payloads();
  EXPECT_TRUE(has(p, "402Sending"));
  EXPECT_TRUE(has(p, "403Compare Inventory"));
  EXPECT_EQ(display_lines_4(), (std::vector<std::string>{"Rec:1/3", "Rec:1/25", "Rec:10/25", "Rec:20/25",
                                                         "Rec:1/1", "Rec:1/1"}));
  // Every file is deleted but the product list; synchronisation mode ends once.
  for (const char* d : {"10", "11", "12", "13", "14"}) EXPECT_TRUE(has(p, d)) << d;
  EXPECT_FALSE(has(p, "15"));
  EXPECT_EQ(std::count(p.begin(), p.end(), "5"), 1);
  EXPECT_EQ(p.back(), "5");

  // Status lines: the file, every record, the end.
  EXPECT_TRUE(has(ir_ui_.status, "Reading \r\nSubtract Inventory"));
  for (int k = 1; k <= 25; ++k) EXPECT_TRUE(has(ir_ui_.status, "Subtract Inventory\r\nRec: " + std::to_string(k) + " / 25"));
  EXPECT_EQ(ir_ui_.status.back(), "Read from Scanner - Complete");
  EXPECT_TRUE(last_.completed);
  EXPECT_EQ(last_.records_read, 3 + 25 + 1 + 1);

  // A plain read leaves the port open: the next run opens nothing.
  EXPECT_TRUE(session().ir_port_open());
  sim_->clear_events();
  ir_ui_.boxes.clear();
  resume_sync();
  last_ = Synchronize_Infrared(session(), false);
  EXPECT_EQ(sim_->count(r50sim::Event::kProbe), 0);
  EXPECT_EQ(ir_ui_.boxes, (std::vector<std::string>{Scanner_Instructions()}));
}

TEST_F(ReadTest, ItemNumbersWithQuotesMergeSafelyAndEmptyItemNumbersAreSkipped) {
  load(0, {"A\"1~2~QUOTED", "A\"1~3~QUOTED", "X\" OR \"\"=\"~1~TRICK", "~4~NO ITEM", "a\"1~1~LOWER"});
  last_ = Synchronize_Infrared(session(), false);
  auto rows = scan_rows();
  // Jet compares text without regard to case, as the lookup does.
  EXPECT_TRUE(has(rows, "0 a\"1 6")) << ::testing::PrintToString(rows);
  EXPECT_TRUE(has(rows, "0 X\" OR \"\"=\" 1"));
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_TRUE(ir_ui_.boxes.size() == 1) << "no error: " << ::testing::PrintToString(ir_ui_.boxes);
}

TEST_F(ReadTest, TextsFromTheScannersCharacterSetAreStoredAsTheirCharacters) {
  // Code page 1252 bytes: \xC9 "É", \xE9 "é", \x80 "€".
  load(0, {"\xC9T\xC9~2~Caf\xE9 \x80", "\xC9T\xC9~1~Caf\xE9 \x80"});
  last_ = Synchronize_Infrared(session(), false);
  auto rows = scanner_data();
  ASSERT_EQ(rows.size(), 1u) << "one item, merged";
  EXPECT_EQ(rows[0]["Item_Number"], "\xC3\x89T\xC3\x89");
  EXPECT_EQ(rows[0]["Qty"], "3");
  EXPECT_EQ(rows[0]["Description"], "Caf\xC3\xA9 \xE2\x82\xAC");
  EXPECT_TRUE(records(0).empty());
}

TEST_F(ReadTest, CancelInTheInstructionsBoxReadsNothing) {
  load(0, {"1001~2~APPLES"});
  ir_ui_.cancel = true;
  last_ = Synchronize_Infrared(session(), false);
  EXPECT_EQ(scan_rows(), (std::vector<std::string>{"0 OLD 1"}));
  EXPECT_EQ(records(0).size(), 1u);
  EXPECT_TRUE(payloads().empty());
  EXPECT_EQ(ir_ui_.status.back(), "Waiting User Command");
}

TEST_F(ReadTest, AbortStopsAtTheNextRecordAndLeavesThatFileWholeOnTheScanner) {
  load(0, {"1001~2~APPLES"});
  std::vector<std::string> many;
  for (int k = 1; k <= 30; ++k) many.push_back("S" + std::to_string(k) + "~1~ITEM");
  load(1, many);
  ir_ui_.on_events = [this] {
    if (has(ir_ui_.status, "Subtract Inventory\r\nRec: 5 / 30")) session().set_abort(true);
  };
  last_ = Synchronize_Infrared(session(), false);
  EXPECT_EQ(scan_rows(), (std::vector<std::string>{"0 1001 2"}));
  EXPECT_TRUE(records(0).empty());
  EXPECT_EQ(records(1).size(), 30u) << "the file being read stays on the scanner";
  EXPECT_FALSE(has(ir_ui_.status, "Subtract Inventory\r\nRec: 6 / 30"));
  EXPECT_FALSE(has(payloads(), "5")) << "an aborted read does not end synchronisation mode";
  auto& s = ir_ui_.status;
  ASSERT_GE(s.size(), 2u);
  EXPECT_EQ(s[s.size() - 2], "Read from Scanner - Aborted");
  EXPECT_EQ(s.back(), "Waiting User Command");
}

TEST_F(ReadTest, AFileWithARecordThatCannotBeReadStaysOnTheScannerAndNothingOfItIsStored) {
  load(0, {"1001~2~APPLES", "1002~two~BROKEN", "1003~1~PLUMS"});
  load(1, {"2002~1~PEARS"});
  last_ = Synchronize_Infrared(session(), false);
  EXPECT_EQ(scan_rows(), (std::vector<std::string>{"1 2002 1"}));
  EXPECT_EQ(records(0).size(), 3u);
  EXPECT_TRUE(records(1).empty());
  EXPECT_TRUE(has(ir_ui_.boxes, "Record 2 of Add to Inventory could not be read.\r\n"
                                "The records of Add to Inventory stay on the scanner; read the scanner again."));
  EXPECT_EQ(last_.files_spared, 1);
  EXPECT_FALSE(last_.completed);
}

TEST_F(ReadTest, LateAndGarbledRepliesNeverBecomeRecords) {
  std::vector<std::string> scans;
  for (int k = 1; k <= 40; ++k) scans.push_back("I" + std::to_string(k % 8) + "~1~ITEM");
  load(0, scans);
  // Every 7th reply garbled, and two replies that come after their command gave up.
  sim_->update([](r50sim::Options& o) { o.garble_every = 7; });
  sim_->push_fault({r50sim::FaultKind::kDelay, 700});
  last_ = Synchronize_Infrared(session(), false);
  auto rows = scan_rows();
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::string>{"0 I0 5", "0 I1 5", "0 I2 5", "0 I3 5", "0 I4 5", "0 I5 5", "0 I6 5",
                                            "0 I7 5"}));
  EXPECT_TRUE(records(0).empty());
  EXPECT_GT(sim_->count(r50sim::Event::kResync), 0);
}

TEST_F(ReadTest, ABaudRateIndexOfThreeOpensAt9600AndAFailedOpenSaysSo) {
  Close_Ir_Port(session());
  session().settings().Baud_Rate = 3;
  Open_Ir_Port(session());
  ASSERT_TRUE(session().ir_port_open());
  EXPECT_EQ(sim_->port_speed(), 9600);
  EXPECT_EQ(sim_->transceiver_speed(), 9600);
  Close_Ir_Port(session());
  session().settings().Baud_Rate = 0;

  session().settings().Com_Port = 6;  // COM7: nothing there
  setenv("CORVIA_COM7", "/nonexistent/tty", 1);
  ir_ui_.status.clear();
  last_ = Synchronize_Infrared(session(), false);
  EXPECT_FALSE(session().ir_port_open());
  EXPECT_EQ(ir_ui_.boxes, (std::vector<std::string>{"Unable to Open Comm Port 7"}));
  EXPECT_EQ(ir_ui_.status.back(), "Unable to Open Comm Port 7");
  EXPECT_EQ(ir_ui_.instructions, 0);
}

}  // namespace
}  // namespace tallimo::testing
