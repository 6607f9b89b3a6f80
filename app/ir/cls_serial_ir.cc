#include "app/ir/cls_serial_ir.h"

#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

#include "app/ir/corvia_library.h"
#include "app/session.h"

namespace tallimo {

namespace ir {
namespace {

constexpr size_t kMaxPayload = 253;  // the length byte counts payload + 2
constexpr int kAttempts = 3;
constexpr int kResyncTries = 3;
constexpr double kRecordDelaySeconds = 5.0;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A whole decimal number made only of digits, no larger than `max`.
bool parse_whole(const std::string& text, long long max, long long* out) {
  if (text.empty()) return false;
  long long value = 0;
  for (char c : text) {
    if (!is_digit(c)) return false;
    value = value * 10 + (c - '0');
    if (value > max) return false;
  }
  *out = value;
  return true;
}

// A number field of a record reply must be a decimal number with a point; an empty
// or absent field, or anything else, marks the reply as garbled (a late or stray
// line such as "True" must never pass for a record).
bool parse_number(const std::string& field, double* out) {
  size_t begin = field.find_first_not_of(' ');
  if (begin == std::string::npos) return false;
  size_t end = field.find_last_not_of(' ') + 1;
  const char* first = field.data() + begin;
  const char* last = field.data() + end;
  if (*first == '+') ++first;
  if (first == last) return false;
  double value = 0;
  auto result = std::from_chars(first, last, value, std::chars_format::fixed);
  if (result.ec != std::errc() || result.ptr != last || !std::isfinite(value)) return false;
  *out = value;
  return true;
}

std::string fixed(double value, int decimals) {
  char text[512];
  auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  return std::string(text, result.ptr);
}

// Code page 1252's bytes 0x80 to 0x9F (0: unassigned, kept as the C1 control
// character of the same number).
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char cp1252_byte(char32_t code) {
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<char>(code);
  for (int i = 0; i < 32; ++i) {
    const char32_t mapped = kCp1252High[i] != 0 ? kCp1252High[i] : 0x80 + i;
    if (mapped == code) return static_cast<char>(0x80 + i);
  }
  return '?';
}

void append_utf8(char32_t code, std::string& out) {
  if (code < 0x80) {
    out.push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (code >> 6)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (code >> 12)));
    out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

}  // namespace

std::string encode_scanner_text(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    size_t length = 1;
    char32_t code = lead;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3, code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, code = lead & 0x07;
    } else if (lead >= 0x80) {
      code = 0xFFFD;  // a stray continuation byte or an invalid lead byte
    }
    bool valid = i + length <= utf8.size();
    for (size_t k = 1; valid && k < length; ++k) {
      const unsigned char c = static_cast<unsigned char>(utf8[i + k]);
      valid = (c & 0xC0) == 0x80;
      code = (code << 6) | (c & 0x3F);
    }
    // Overlong forms and surrogates are malformed too.
    if (valid && ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
                  (code >= 0xD800 && code <= 0xDFFF))) {
      valid = false;
    }
    if (!valid) {
      out.push_back('?');
      ++i;  // the next byte starts afresh
      continue;
    }
    out.push_back(cp1252_byte(code));
    i += length;
  }
  return out;
}

std::string decode_scanner_text(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0xA0) {
      append_utf8(kCp1252High[c - 0x80] != 0 ? kCp1252High[c - 0x80] : c, out);
    } else {
      append_utf8(c, out);
    }
  }
  return out;
}

std::string Add_Checksum(std::string frame) {
  unsigned sum = 0;
  for (unsigned char c : frame) sum += c;
  frame.push_back(static_cast<char>((0xA5u - sum % 256u) % 256u));
  return frame;
}

std::string Format_Text(const std::string& text) {
  std::string out = text.substr(0, 16);
  for (char& c : out) {
    if (c == ' ') c = '~';
  }
  return out.empty() ? "~" : out;
}

std::string Format_Number(double value) {
  double whole = std::nearbyint(value);
  if (whole == 0) whole = 0;  // no "-0"
  std::string three = fixed(value, 3);
  if (three == fixed(whole, 3) || three == "-0.000") return fixed(whole, 0);
  return three;
}

std::string Get_Field(const std::string& text, int index) {
  size_t start = 0;
  for (int i = 0; i < index; ++i) {
    size_t tilde = text.find('~', start);
    if (tilde == std::string::npos) return "";
    start = tilde + 1;
  }
  size_t end = text.find('~', start);
  return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string Strip_Reply(const std::string& reply) {
  std::string text = reply.substr(0, reply.find('\r'));
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(' ') + 1 - begin);
}

}  // namespace ir

using ir::Format_Number;
using ir::Format_Text;

cls_Serial_IR::cls_Serial_IR(Session& session) : session_(session) {}

std::string cls_Serial_IR::Build_Frame(char code) const {
  const ScannerRecord& record = session_.scanner_record();
  auto number = [](int value) { return std::to_string(value); };
  bool ok = true;
  auto field = [&](double value) {
    if (!std::isfinite(value)) ok = false;
    return Format_Number(value);
  };
  auto text = [](const std::string& value) { return Format_Text(ir::encode_scanner_text(value)); };

  std::string payload(1, code);
  switch (code) {
    case '0':
    case '1':
      if (file_name_index_ < 0) return "";
      payload += number(file_name_index_);
      break;
    case '2':
      if (file_name_index_ < 0 || database_index_ < 0) return "";
      payload += number(file_name_index_) + number(database_index_) + "~";
      break;
    case '3':
      if (file_name_index_ < 0 || database_index_ < 0) return "";
      payload += number(file_name_index_) + number(database_index_) + " ";
      if (record.Record_Mode == 0 || record.Record_Mode == 2) {
        payload += text(record.Item_Number) + " " + field(record.Qty);
      } else if (record.Record_Mode == 1) {
        payload += text(record.Item_Number) + " " + text(record.Description) + " " + text(record.Vendor_Code) +
                   " " + field(record.Standard_Price) + " " + field(record.Current_Cost) + " " +
                   field(record.Qty) + " " + text(record.Location) + " " + field(record.List_Price);
      }
      break;
    case '4':
      if (display_y_ < 0 || display_x_ < 0) return "";
      payload += number(display_y_) + number(display_x_);
      payload += ir::encode_scanner_text(display_text_)
                     .substr(0, payload.size() < ir::kMaxPayload ? ir::kMaxPayload - payload.size() : 0);
      break;
    case '5':
      break;
    case '6':
      payload += diagnostic_level_;
      break;
    default:
      return "";
  }
  if (!ok || payload.size() > ir::kMaxPayload) return "";
  // The read-record command's length byte is one short of its frame's length.
  size_t length = payload.size() + (code == '2' ? 1 : 2);
  return ir::Add_Checksum(std::string(1, static_cast<char>(length)) + payload);
}

void cls_Serial_IR::Send_Frame(const std::string& frame) {
  // Whatever arrived unasked (a reply that came too late for its own command, the
  // scanner's answer to a resynchronisation already given up on) is dropped, so the
  // next line read is the answer to this frame.
  ir::corvia_library().PurgeIrCom();
  ir::corvia_library().WriteIrCom(frame.data(), static_cast<int>(frame.size()));
  session_.ui().do_events();
}

std::string cls_Serial_IR::Read_Reply() {
  char buffer[256];
  int length = ir::corvia_library().vbReadIrCom(buffer);
  return length < 0 ? std::string() : std::string(buffer, static_cast<size_t>(length));
}

bool cls_Serial_IR::Resync_Scanner() {
  static const std::string kResync(4, '\xFF');
  for (int i = 0; i < ir::kResyncTries; ++i) {
    Send_Frame(kResync);
    if (Read_Reply().find("True") != std::string::npos) return true;
    if (session_.abort_requested()) return false;
  }
  return false;
}

bool cls_Serial_IR::take_reply(char code, const std::string& reply) {
  std::string text = ir::Strip_Reply(reply);
  switch (code) {
    case '0': {
      long long count = 0;
      if (!ir::parse_whole(text, std::numeric_limits<int16_t>::max(), &count)) return false;
      record_count_ = static_cast<int16_t>(count);
      return true;
    }
    case '2': {
      if (text.empty()) return false;
      std::string upper = text;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (upper.find("FALSE") != std::string::npos) return false;
      ScannerRecord record = session_.scanner_record();
      auto number = [&](int index, double* out) { return ir::parse_number(ir::Get_Field(text, index), out); };
      auto text_field = [&](int index) { return ir::decode_scanner_text(ir::Get_Field(text, index)); };
      if (record.Record_Mode == 0) {
        record.Item_Number = text_field(0);
        if (!number(1, &record.Qty)) return false;
        record.Description = text_field(2);
        record.Standard_Price = record.Current_Cost = record.List_Price = 0;
        record.Vendor_Code.clear();
        record.Location.clear();
      } else if (record.Record_Mode == 1) {
        record.Item_Number = text_field(0);
        record.Description = text_field(1);
        if (!number(2, &record.Standard_Price) || !number(3, &record.Current_Cost) || !number(4, &record.Qty))
          return false;
        record.Vendor_Code = text_field(5);
        record.Location = text_field(6);
        if (!number(7, &record.List_Price)) return false;
      }
      session_.scanner_record() = record;
      return true;
    }
    case '3': {
      long long free = 0;
      if (text.empty() || !ir::is_digit(text[0])) return false;
      if (!ir::parse_whole(text, std::numeric_limits<int32_t>::max(), &free)) return false;
      free_memory_ = static_cast<int32_t>(free);
      return true;
    }
    default:
      return reply.find("True") != std::string::npos;
  }
}

bool cls_Serial_IR::Send_Command(char code) {
  last_command_succeeded_ = Exchange(code);
  return last_command_succeeded_;
}

bool cls_Serial_IR::Exchange(char code) {
  int attempts = 0;
  for (;;) {
    std::string frame = Build_Frame(code);
    if (frame.empty()) return false;  // nothing the scanner could understand
    Send_Frame(frame);
    if (code == '0' && record_delay_enabled_) {
      auto sent = std::chrono::steady_clock::now();
      while (std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count() <=
                 ir::kRecordDelaySeconds &&
             !session_.abort_requested()) {
        session_.ui().do_events();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    if (take_reply(code, Read_Reply())) return true;
    if (session_.abort_requested()) return false;
    Resync_Scanner();  // its late answers are dropped before the next frame
    ++attempts;
    session_.ui().do_events();
    if (attempts >= ir::kAttempts) return false;
  }
}

int16_t cls_Serial_IR::Record_Count() {
  if (!Send_Command('0')) record_count_ = 0;
  return record_count_;
}

bool cls_Serial_IR::Read_Record_Set() { return Send_Command('2'); }

void cls_Serial_IR::Write_Record_Set() { Send_Command('3'); }

bool cls_Serial_IR::Delete_File(int16_t Index) {
  file_name_index_ = Index;
  return Send_Command('1');
}

void cls_Serial_IR::Display_Message(int16_t X, int16_t Y, const std::string& Msg) {
  display_x_ = X;
  display_y_ = Y;
  display_text_ = Msg;
  Send_Command('4');
}

void cls_Serial_IR::Clear_Scanner_Display() {
  for (int16_t line = 1; line <= 6; ++line) Display_Message(line, 0, std::string(16, ' '));
}

bool cls_Serial_IR::Exit_Sync_Mode() { return Send_Command('5'); }

void cls_Serial_IR::Set_Diagnostic_Level(const std::string& Level) {
  diagnostic_level_ = Level;
  Send_Command('6');
}

bool cls_Serial_IR::Reset() { return Resync_Scanner(); }

}  // namespace tallimo
