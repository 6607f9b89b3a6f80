// The infrared scanner's command protocol over the cradle's serial link.
//
// Every exchange is one command frame from the desktop and one reply line (ending in
// CR) from the scanner, both in the scanner's single-byte character set (code page
// 1252): texts are converted from UTF-8 when a frame is built and back when a reply
// is taken. A frame is: length byte, payload (command character and its
// arguments as text), checksum byte making all the frame's bytes sum to 0xA5 modulo
// 256. The length byte is the frame's length, except for the read-record command
// whose length byte is one less (the scanner expects it so). Numbers in payloads are
// plain decimal text (no sign, no padding); numbers in record fields always use a
// decimal point, whatever the locale.
//
//   code  operation                 payload                   success when the reply
//   "0"   count file f              "0" f                     trimmed is a whole number
//   "1"   delete file f             "1" f                     contains "True"
//   "2"   read record r of file f   "2" f r "~"               trimmed is not empty, has no
//                                                             "FALSE" in any letter case, and
//                                                             its number fields are present
//                                                             and are numbers
//   "3"   write a record            "3" f r " " fields        trimmed starts with a digit and
//                                                             is a whole number (free memory)
//   "4"   display text              "4" Y X text              contains "True"
//   "5"   end synchronisation mode  "5"                       contains "True"
//   "6"   diagnostic level          "6" level                 contains "True"
//
// A failed exchange is retried: at most three frames per command, each failure
// followed by a resynchronisation (four 0xFF bytes, answered "True", up to three
// tries). Input that arrived unasked is discarded before every frame and after every
// resynchronisation, so a late reply never stands in for the next command's. The
// abort flag ends the retries at once. The port itself is opened and
// closed by the callers (Corvia's vbOpenIrCom / CloseIrCom), before an instance is
// made; the class binds Corvia at its first call (corvia_library.h) and throws
// jet::Error when the library cannot be loaded.
#pragma once

#include <cstdint>
#include <string>

#include "app/ir/scanner_record.h"

namespace tallimo {

class Session;

class cls_Serial_IR {
 public:
  // `session` gives the Scanner_Record the class reads into and writes from, the
  // abort flag, and the user interface that lets pending events run during
  // exchanges; it must outlive the instance.
  explicit cls_Serial_IR(Session& session);

  // Scanner file addressed by the next commands: 0..5 the transaction kinds' scans
  // (5 also the uploaded product list), 6 the product list's index.
  int16_t File_Name_Index() const { return file_name_index_; }
  void set_File_Name_Index(int16_t value) { file_name_index_ = value; }
  // Record number within the file for the next read or write, from 0.
  int16_t DataBase_Index() const { return database_index_; }
  void set_DataBase_Index(int16_t value) { database_index_ = value; }

  // Counts the records of File_Name_Index on the scanner; 0 when the command failed.
  int16_t Record_Count();
  // Free memory the scanner reported after the last successful record write; 0
  // before the first.
  int32_t FreeMemory() const { return free_memory_; }
  // When set, the count command waits more than 5 seconds before reading its reply
  // (the scanner needs that long to count the product list).
  void Set_Record_Delay_Enabled(bool enabled) { record_delay_enabled_ = enabled; }

  // Reads record DataBase_Index of File_Name_Index into Scanner_Record, by its
  // Record_Mode. Returns false (Scanner_Record unchanged) when the read failed.
  bool Read_Record_Set();
  // Writes Scanner_Record, by its Record_Mode, into File_Name_Index. Success shows
  // as an updated FreeMemory and in last_command_succeeded().
  void Write_Record_Set();
  // Deletes every record of file `Index` (which becomes File_Name_Index).
  bool Delete_File(int16_t Index);
  // Shows `Msg` on display line X (1..6) from column Y (0). Text beyond what one
  // frame can carry (250 bytes) is cut off.
  void Display_Message(int16_t X, int16_t Y, const std::string& Msg);
  // Writes 16 spaces on lines 1 to 6.
  void Clear_Scanner_Display();
  // Ends the scanner's synchronisation mode.
  bool Exit_Sync_Mode();
  void Set_Diagnostic_Level(const std::string& Level);
  // Resynchronises the link; true when the scanner acknowledged.
  bool Reset();

  // Whether the last command (count, read, write, delete, display, exit, level) got a
  // valid reply. Record_Count's 0 and Write_Record_Set's silence are told apart from
  // a failure by it.
  bool last_command_succeeded() const { return last_command_succeeded_; }

  // The frame of command `code` ('0'..'6') built from the properties and
  // Scanner_Record, checksum included; empty when it cannot be framed (a negative
  // file or record number, a number field that is not finite, a payload over 253
  // bytes).
  std::string Build_Frame(char code) const;

 private:
  bool Send_Command(char code);
  bool Exchange(char code);
  void Send_Frame(const std::string& frame);
  std::string Read_Reply();
  bool Resync_Scanner();
  bool take_reply(char code, const std::string& reply);

  Session& session_;
  int16_t file_name_index_ = 0;
  int16_t database_index_ = 0;
  int16_t record_count_ = 0;
  int16_t display_x_ = 0;
  int16_t display_y_ = 0;
  std::string display_text_;
  std::string diagnostic_level_;
  int32_t free_memory_ = 0;
  bool record_delay_enabled_ = false;
  bool last_command_succeeded_ = false;
};

namespace ir {

// Appends the checksum byte: (0xA5 - sum of the bytes so far) modulo 256.
std::string Add_Checksum(std::string frame);
// The scanner's character set is the single-byte Windows code page 1252 (the
// Western ANSI code page of the system's databases); the program's texts are
// UTF-8. encode_scanner_text turns UTF-8 into those bytes, each character the
// code page lacks (and each malformed byte) becoming "?"; decode_scanner_text
// turns the scanner's bytes back into UTF-8 (its five unassigned bytes as the
// control characters U+0081, U+008D, U+008F, U+0090, U+009D, as Windows does).
std::string encode_scanner_text(const std::string& utf8);
std::string decode_scanner_text(const std::string& bytes);
// A text field (already in the scanner's character set): at most its first 16
// bytes, spaces as "~"; empty text as "~".
std::string Format_Text(const std::string& text);
// A number field: a whole number without decimals when the value shown with three
// decimals is whole (12, and 2 for 2.0004), else three decimals (12.250).
std::string Format_Number(double value);
// Field `index` (from 0) of a "~"-separated reply; the last field runs to the end;
// a field that does not exist is empty.
std::string Get_Field(const std::string& text, int index);
// The reply cut at its first CR, with leading and trailing spaces removed.
std::string Strip_Reply(const std::string& reply);

}  // namespace ir
}  // namespace tallimo
