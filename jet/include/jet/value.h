// Column types and the value type that carries one field's contents.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace jet {

// Jet 4 column type codes, as stored in a table definition.
enum class ColumnType : uint8_t {
  kBoolean = 0x01,
  kByte = 0x02,
  kInteger = 0x03,   // 16-bit signed
  kLong = 0x04,      // 32-bit signed
  kCurrency = 0x05,  // 64-bit signed, four implied decimals
  kSingle = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,  // double: days since 1899-12-30, fraction = time of day
  kBinary = 0x09,
  kText = 0x0A,      // UCS-2, optionally "compressed"
  kOle = 0x0B,       // long binary value
  kMemo = 0x0C,      // long text value
  kGuid = 0x0F,
  kNumeric = 0x10,   // decimal: precision, scale, sign, 96-bit magnitude
  kComplex = 0x12,
};

// A money amount: the integer number of ten-thousandths.
struct Currency {
  int64_t ten_thousandths = 0;
  friend bool operator==(const Currency&, const Currency&) = default;
};

// A date/time: days since 1899-12-30 00:00, time of day as the fraction.
struct DateTime {
  double days = 0.0;
  friend bool operator==(const DateTime&, const DateTime&) = default;
};

// A decimal (Jet "numeric") value: magnitude / 10^scale, with a sign.
struct Decimal {
  bool negative = false;
  uint8_t precision = 18;
  uint8_t scale = 0;
  std::array<uint32_t, 3> magnitude{};  // least significant word first
  friend bool operator==(const Decimal&, const Decimal&) = default;
};

struct Guid {
  std::array<uint8_t, 16> bytes{};  // as stored in the file
  friend bool operator==(const Guid&, const Guid&) = default;
};

// Bytes of a binary or OLE value.
struct Bytes {
  std::vector<uint8_t> data;
  friend bool operator==(const Bytes&, const Bytes&) = default;
};

// One field's value. Null is distinct from empty text and from zero. Text
// (text and memo columns) is UTF-8.
using Value = std::variant<std::monostate,  // Null
                           bool, uint8_t, int16_t, int32_t, Currency, float, double, DateTime, std::string,
                           Bytes, Guid, Decimal>;

inline bool is_null(const Value& v) { return std::holds_alternative<std::monostate>(v); }

}  // namespace jet
