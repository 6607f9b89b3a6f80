// cls_Serial_IR against the simulated scanner: every command, the replies it
// accepts and refuses, and recovery from a reply that was garbled, lost or split.
#include <chrono>

#include "link_fixture.h"

namespace tallimo::testing {
namespace {

TEST_F(LinkTest, CountsReadsWritesDeletesDisplaysAndEndsSynchronisation) {
  sim_->with_scanner([](r50sim::Scanner& s) { s.set_records(0, {"4011~2~RED APPLE", "4012~3.5"}); });
  cls_Serial_IR link(session_);

  link.set_File_Name_Index(0);
  EXPECT_EQ(link.Record_Count(), 2);

  Scanner_Record.Standard_Price = 9;  // reset by a count-record read
  Scanner_Record.Vendor_Code = "OLD";
  link.set_DataBase_Index(0);
  ASSERT_TRUE(link.Read_Record_Set());
  EXPECT_EQ(Scanner_Record.Item_Number, "4011");
  EXPECT_EQ(Scanner_Record.Qty, 2);
  EXPECT_EQ(Scanner_Record.Description, "RED APPLE");
  EXPECT_EQ(Scanner_Record.Standard_Price, 0);
  EXPECT_EQ(Scanner_Record.Vendor_Code, "");

  // Two fields only: the description is left empty.
  link.set_DataBase_Index(1);
  ASSERT_TRUE(link.Read_Record_Set());
  EXPECT_EQ(Scanner_Record.Item_Number, "4012");
  EXPECT_EQ(Scanner_Record.Qty, 3.5);
  EXPECT_EQ(Scanner_Record.Description, "");

  EXPECT_TRUE(link.Delete_File(0));
  EXPECT_EQ(link.File_Name_Index(), 0);
  EXPECT_TRUE(records(0).empty());

  // A product record goes out in write order and comes back in read order.
  Scanner_Record = ScannerRecord{};
  Scanner_Record.Record_Mode = 1;
  Scanner_Record.Item_Number = "B2";
  Scanner_Record.Description = "RED APPLE JUICE 1L";
  Scanner_Record.Vendor_Code = "ACME";
  Scanner_Record.Standard_Price = 2.5;
  Scanner_Record.Current_Cost = 1.2;
  Scanner_Record.Qty = 12;
  Scanner_Record.Location = "";
  Scanner_Record.List_Price = 3;
  link.set_File_Name_Index(5);
  link.set_DataBase_Index(0);
  EXPECT_EQ(link.FreeMemory(), 0);
  link.Write_Record_Set();
  long free_after_one = 0;
  sim_->with_scanner([&](r50sim::Scanner& s) { free_after_one = s.free_memory(); });
  EXPECT_EQ(link.FreeMemory(), free_after_one);
  EXPECT_EQ(records(5), (std::vector<std::string>{"B2~RED APPLE JUICE ~2.500~1.200~12~ACME~~3"}));
  Scanner_Record.Item_Number = "C3";
  link.Write_Record_Set();
  EXPECT_LT(link.FreeMemory(), free_after_one);

  Scanner_Record = ScannerRecord{};
  Scanner_Record.Record_Mode = 1;
  link.set_DataBase_Index(0);
  ASSERT_TRUE(link.Read_Record_Set());
  EXPECT_EQ(Scanner_Record.Item_Number, "B2");
  EXPECT_EQ(Scanner_Record.Description, "RED APPLE JUICE ");
  EXPECT_EQ(Scanner_Record.Standard_Price, 2.5);
  EXPECT_DOUBLE_EQ(Scanner_Record.Current_Cost, 1.2);
  EXPECT_EQ(Scanner_Record.Qty, 12);
  EXPECT_EQ(Scanner_Record.Vendor_Code, "ACME");
  EXPECT_EQ(Scanner_Record.Location, "");
  EXPECT_EQ(Scanner_Record.List_Price, 3);

  // A record that does not exist is refused ("FALSE"), after three attempts.
  link.set_DataBase_Index(7);
  EXPECT_FALSE(link.Read_Record_Set());
  EXPECT_EQ(Scanner_Record.Item_Number, "B2");

  sim_->clear_events();
  link.Clear_Scanner_Display();
  link.Display_Message(2, 0, "Sending");
  link.Set_Diagnostic_Level("1");
  auto sent = frames();
  ASSERT_EQ(sent.size(), 8u);
  std::string clear_line_1 = std::string("\x15" "401") + std::string(16, ' ') + "\xFB";
  EXPECT_EQ(sent[0], clear_line_1);
  sim_->with_scanner([](r50sim::Scanner& s) {
    EXPECT_EQ(s.display_line(1), std::string(16, ' '));
    EXPECT_EQ(s.display_line(2), "Sending");
    EXPECT_EQ(s.display_line(6), std::string(16, ' '));
    EXPECT_EQ(s.diagnostic_level(), "1");
  });

  EXPECT_TRUE(link.Exit_Sync_Mode());
  EXPECT_EQ(frames().back(), std::string("\x03\x35\x6D"));
  sim_->with_scanner([](r50sim::Scanner& s) { EXPECT_FALSE(s.sync_mode()); });
  EXPECT_EQ(resyncs(), 0);
}

TEST_F(LinkTest, ACountReplyIsTrimmedAndCutAtItsCr) {
  cls_Serial_IR link(session_);
  sim_->push_reply("  17\r");
  link.set_File_Name_Index(3);
  EXPECT_EQ(link.Record_Count(), 17);
  EXPECT_EQ(frames(), (std::vector<std::string>{std::string("\x04\x30\x33\x3E")}));
}

TEST_F(LinkTest, TrueInCapitalsDoesNotAcknowledge) {
  sim_->with_scanner([](r50sim::Scanner& s) { s.set_records(1, {"X~1"}); });
  cls_Serial_IR link(session_);
  for (int i = 0; i < 3; ++i) sim_->push_reply("TRUE\r");
  EXPECT_FALSE(link.Delete_File(1));
  EXPECT_EQ(frames().size(), 3u);
  EXPECT_EQ(resyncs(), 3);  // a resynchronisation after every failed attempt, the third included
  EXPECT_EQ(records(1).size(), 1u);
}

TEST_F(LinkTest, ARecordReplyWithFalseInAnyCaseIsRefused) {
  cls_Serial_IR link(session_);
  Scanner_Record.Item_Number = "before";
  for (int i = 0; i < 3; ++i) sim_->push_reply("4011~false~JUICE\r");
  EXPECT_FALSE(link.Read_Record_Set());
  EXPECT_EQ(Scanner_Record.Item_Number, "before");
}

TEST_F(LinkTest, NonNumericRepliesFailAndLeaveTheValuesAlone) {
  cls_Serial_IR link(session_);
  // Count: not a whole number.
  for (int i = 0; i < 3; ++i) sim_->push_reply("1x\r");
  EXPECT_EQ(link.Record_Count(), 0);
  // Free memory: must start with a digit and be a whole number.
  Scanner_Record.Record_Mode = 0;
  Scanner_Record.Item_Number = "A";
  for (const char* reply : {"Memory full\r", "12 KB\r", "99999999999\r"}) sim_->push_reply(reply);
  link.Write_Record_Set();
  EXPECT_EQ(link.FreeMemory(), 0);
  // A record whose quantity is not a number.
  for (int i = 0; i < 3; ++i) sim_->push_reply("4011~two~JUICE\r");
  EXPECT_FALSE(link.Read_Record_Set());
  EXPECT_EQ(Scanner_Record.Item_Number, "A");
  EXPECT_EQ(frames().size(), 9u);
  EXPECT_EQ(resyncs(), 9);
}

TEST_F(LinkTest, AGarbledOrLostReplyIsRetriedAfterResynchronising) {
  sim_->with_scanner([](r50sim::Scanner& s) { s.set_records(4, {"a", "b", "c"}); });
  cls_Serial_IR link(session_);
  link.set_File_Name_Index(4);

  sim_->push_fault({r50sim::FaultKind::kGarble});
  EXPECT_EQ(link.Record_Count(), 3);
  EXPECT_EQ(frames().size(), 2u);
  EXPECT_EQ(resyncs(), 1);

  sim_->clear_events();
  sim_->push_fault({r50sim::FaultKind::kDrop});
  EXPECT_EQ(link.Record_Count(), 3);
  EXPECT_EQ(frames().size(), 2u);
  EXPECT_EQ(resyncs(), 1);

  // A reply that arrives in two chunks is one line.
  sim_->clear_events();
  sim_->push_fault({r50sim::FaultKind::kSplit, 120});
  EXPECT_EQ(link.Record_Count(), 3);
  EXPECT_EQ(frames().size(), 1u);
}

TEST_F(LinkTest, AWriteThatDoesNotFitLeavesFreeMemoryAsItWas) {
  cls_Serial_IR link(session_);
  link.set_File_Name_Index(0);
  Scanner_Record.Record_Mode = 0;
  Scanner_Record.Item_Number = "4011";
  Scanner_Record.Qty = 1;
  sim_->with_scanner([](r50sim::Scanner& s) { s.set_memory_total(10); });
  link.Write_Record_Set();
  EXPECT_EQ(link.FreeMemory(), 3);  // 10 less "4011~1" and its line end
  link.Write_Record_Set();
  EXPECT_EQ(link.FreeMemory(), 3);
  EXPECT_EQ(records(0), (std::vector<std::string>{"4011~1"}));
}

TEST_F(LinkTest, ResetResynchronises) {
  cls_Serial_IR link(session_);
  EXPECT_TRUE(link.Reset());
  EXPECT_EQ(resyncs(), 1);
  EXPECT_TRUE(frames().empty());
}

}  // namespace
}  // namespace tallimo::testing
