// Frames and field formats of the scanner protocol, byte for byte.
#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "app/ir/cls_serial_ir.h"
#include "app/ir/ir_runs.h"
#include "app/session.h"

namespace tallimo {
namespace {

std::string bytes(std::initializer_list<int> list) {
  std::string out;
  for (int b : list) out.push_back(static_cast<char>(b));
  return out;
}

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override { Scanner_Record = ScannerRecord{}; }
  ConsoleUserInterface ui_{true};
  Session session_{ui_};
  ScannerRecord& Scanner_Record = session_.scanner_record();
  cls_Serial_IR link_{session_};
};

TEST_F(FrameTest, CountAndExitFrames) {
  link_.set_File_Name_Index(3);
  EXPECT_EQ(link_.Build_Frame('0'), bytes({0x04, 0x30, 0x33, 0x3E}));
  EXPECT_EQ(link_.Build_Frame('5'), bytes({0x03, 0x35, 0x6D}));
  link_.set_File_Name_Index(5);
  EXPECT_EQ(link_.Build_Frame('1'), bytes({0x04, '1', '5', (0xA5 - 0x04 - '1' - '5') & 0xFF}));
}

TEST_F(FrameTest, ReadRecordFrameCarriesALengthByteOneShortOfItsLength) {
  link_.set_File_Name_Index(0);
  link_.set_DataBase_Index(12);
  EXPECT_EQ(link_.Build_Frame('2'), bytes({0x06, 0x32, 0x30, 0x31, 0x32, 0x7E, 0x5C}));
}

TEST_F(FrameTest, WriteFramesFollowTheRecordMode) {
  link_.set_File_Name_Index(5);
  link_.set_DataBase_Index(0);
  Scanner_Record.Record_Mode = 1;
  Scanner_Record.Item_Number = "4011";
  Scanner_Record.Description = "RED APPLE JUICE 1L";
  Scanner_Record.Vendor_Code = "";
  Scanner_Record.Standard_Price = 2.5;
  Scanner_Record.Current_Cost = 1.25;
  Scanner_Record.Qty = 3;
  Scanner_Record.Location = "A 1";
  Scanner_Record.List_Price = 2.0004;
  std::string frame = link_.Build_Frame('3');
  std::string payload = "350 4011 RED~APPLE~JUICE~ ~ 2.500 1.250 3 A~1 2";
  ASSERT_EQ(frame.size(), payload.size() + 2);
  EXPECT_EQ(static_cast<unsigned char>(frame[0]), payload.size() + 2);
  EXPECT_EQ(frame.substr(1, payload.size()), payload);
  unsigned sum = 0;
  for (unsigned char c : frame) sum += c;
  EXPECT_EQ(sum % 256, 0xA5u);

  Scanner_Record.Record_Mode = 2;
  Scanner_Record.Item_Number = "2A";
  Scanner_Record.Qty = 3;
  link_.set_File_Name_Index(6);
  EXPECT_EQ(link_.Build_Frame('3').substr(1, 8), "360 2A 3");

  Scanner_Record.Record_Mode = 7;  // no fields
  EXPECT_EQ(link_.Build_Frame('3').substr(1, 4), "360 ");
  EXPECT_EQ(link_.Build_Frame('3').size(), 6u);
}

TEST_F(FrameTest, ThingsThatCannotBeFramedAreRefused) {
  link_.set_File_Name_Index(-1);
  EXPECT_EQ(link_.Build_Frame('0'), "");
  link_.set_File_Name_Index(0);
  link_.set_DataBase_Index(-5);
  EXPECT_EQ(link_.Build_Frame('2'), "");
  link_.set_DataBase_Index(0);
  Scanner_Record.Record_Mode = 0;
  Scanner_Record.Qty = std::numeric_limits<double>::infinity();
  EXPECT_EQ(link_.Build_Frame('3'), "");
  Scanner_Record.Qty = 1e300;  // 300 digits: longer than a frame can carry
  EXPECT_EQ(link_.Build_Frame('3'), "");
}

TEST_F(FrameTest, TextsGoOutInTheScannersCharacterSetAndAreCutBySixteenCharacters) {
  link_.set_File_Name_Index(5);
  link_.set_DataBase_Index(0);
  Scanner_Record.Record_Mode = 1;
  Scanner_Record.Item_Number = "\xC3\x89T\xC3\x89";                                   // ÉTÉ
  Scanner_Record.Description = "Cr\xC3\xA8me br\xC3\xBBl\xC3\xA9" "e \xC3\xA0 la carte";  // 23 characters
  Scanner_Record.Vendor_Code = "\xE2\x82\xAC\xE6\x97\xA5";                           // €日
  Scanner_Record.Location = "Stra\xC3\x9F" "e";                                          // Straße
  std::string frame = link_.Build_Frame('3');
  const std::string payload = "350 \xC9T\xC9 Cr\xE8me~br\xFBl\xE9\x65~\xE0~l \x80? 0 0 0 Stra\xDF\x65 0";
  ASSERT_EQ(frame.size(), payload.size() + 2);
  EXPECT_EQ(frame.substr(1, payload.size()), payload);
  unsigned sum = 0;
  for (unsigned char c : frame) sum += c;
  EXPECT_EQ(sum % 256, 0xA5u);

  EXPECT_EQ(String_To_Hex("\xC3\xA9\xE2\x82\xAC\xE6\x97\xA5"), "E9803F");
}

TEST(ScannerTextTest, UnicodeToCodePage1252AndBack) {
  EXPECT_EQ(ir::encode_scanner_text("plain ASCII ~!"), "plain ASCII ~!");
  // Latin-1 letters keep their number; the code page's own characters in 0x80..0x9F.
  EXPECT_EQ(ir::encode_scanner_text("\xC3\xA9t\xC3\xA9 \xC3\xBF"), "\xE9t\xE9 \xFF");
  EXPECT_EQ(ir::encode_scanner_text("\xE2\x82\xAC \xE2\x80\x93 \xC5\x93 \xC5\xB8 \xE2\x84\xA2"),
            "\x80 \x96 \x9C \x9F \x99");
  // Characters the code page lacks, and malformed UTF-8, become "?" one for one.
  EXPECT_EQ(ir::encode_scanner_text("\xE6\x97\xA5\xF0\x9F\x98\x80x"), "??x");
  EXPECT_EQ(ir::encode_scanner_text("a\xC3"), "a?");                  // cut short
  EXPECT_EQ(ir::encode_scanner_text("\x80z"), "?z");                  // stray continuation
  EXPECT_EQ(ir::encode_scanner_text("\xE0\x80\xAF"), "???");        // overlong "/"
  EXPECT_EQ(ir::encode_scanner_text("\xC2\x80"), "?");               // U+0080 is not in the code page
  EXPECT_EQ(ir::decode_scanner_text("\xC9T\xC9 \x80\x92"), "\xC3\x89T\xC3\x89 \xE2\x82\xAC\xE2\x80\x99");
  // Every byte reads back as itself (the unassigned ones as their control characters).
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(ir::encode_scanner_text(ir::decode_scanner_text(all)), all);
  EXPECT_EQ(ir::decode_scanner_text("\x81"), "\xC2\x81");
}

TEST(FormatTest, TextFieldsAreCutToSixteenWithSpacesAsTildes) {
  EXPECT_EQ(ir::Format_Text("RED APPLE JUICE 1L"), "RED~APPLE~JUICE~");
  EXPECT_EQ(ir::Format_Text(""), "~");
  EXPECT_EQ(ir::Format_Text("B2"), "B2");
  EXPECT_EQ(ir::Format_Text(" "), "~");
}

TEST(FormatTest, NumbersAreWholeOrThreeDecimalsWithAPoint) {
  EXPECT_EQ(ir::Format_Number(3), "3");
  EXPECT_EQ(ir::Format_Number(2.5), "2.500");
  EXPECT_EQ(ir::Format_Number(2.0004), "2");
  EXPECT_EQ(ir::Format_Number(12.25), "12.250");
  EXPECT_EQ(ir::Format_Number(2.9996), "3");
  EXPECT_EQ(ir::Format_Number(-4), "-4");
  EXPECT_EQ(ir::Format_Number(-0.0001), "0");
  EXPECT_EQ(ir::Format_Number(0), "0");
}

TEST(FormatTest, FieldsAndRepliesAreTakenApartAsReceived) {
  EXPECT_EQ(ir::Get_Field("A~B~C", 0), "A");
  EXPECT_EQ(ir::Get_Field("A~B~C", 2), "C");
  EXPECT_EQ(ir::Get_Field("A~B~C", 3), "");
  EXPECT_EQ(ir::Get_Field("A~~C", 1), "");
  EXPECT_EQ(ir::Get_Field("", 0), "");
  EXPECT_EQ(ir::Strip_Reply("  17\r"), "17");
  EXPECT_EQ(ir::Strip_Reply("  17\r99"), "17");
  EXPECT_EQ(ir::Strip_Reply("    \r"), "");
  EXPECT_EQ(ir::Strip_Reply(""), "");
}

}  // namespace
}  // namespace tallimo
