// Key encoding of Jet 4 index entries.
//
// Value bytes per column type, for an ascending column (a descending column
// stores the same bytes inverted, except where noted). Multi-byte numbers are
// big-endian in keys, unlike rows. Known from the index fixtures written by
// Access (every entry of them is re-encoded by the tests) and the format notes.
//
//   boolean   no Null flag ever (Null is false): 0x7F then 0x00 for true
//             (-1 sorts first), 0xFF for false. Descending: 0x80, then 0xFF
//             true / 0x00 false.
//   byte      the byte as is.
//   integer,  two's complement, 2 / 4 / 8 bytes, top bit flipped so that
//   long,     negative numbers sort first. Currency is the integer count of
//   counter,  ten-thousandths.
//   currency
//   single,   IEEE 754, 4 / 8 bytes: a positive number gets its sign bit
//   double,   set, a negative one is inverted entirely, so byte order is
//   date/time numeric order. Date/time is its double (days since 1899-12-30).
//   GUID      the 16 bytes in textual order (the row stores the first three
//             fields little-endian), in 8-byte segments each followed by a
//             length byte: 9 for a segment with more after it, else the count
//             of data bytes (here 8). Descending inverts the data bytes and
//             the last length byte, not the 9.
//   binary    the bytes in the same segments; the last segment is padded
//             with zeros to 8 bytes, its length byte says how many count.
//   decimal   17 bytes: sign byte, then the 16-byte unscaled magnitude at the
//             column's scale. The sign byte becomes 0xFF for positive, 0x00
//             for negative numbers, whose magnitude bytes are inverted.
//             Descending inverts the magnitude of positive numbers instead
//             (sign byte stays 0xFF / 0x00: the Jet 4 ordering).
//   text      see encode_text below.
#include "index/key_encoding.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "index/general_sort_codes.h"
#include "jet/error.h"

namespace jet::index {
namespace {

constexpr uint8_t kAscendingStart = 0x7F;
constexpr uint8_t kAscendingNull = 0x00;
constexpr uint8_t kDescendingStart = 0x80;
constexpr uint8_t kDescendingNull = 0xFF;

// Text key markers.
constexpr uint8_t kTextEnd = 0x01;       // after the inline codes, and between trailing sections
constexpr uint8_t kTextTerminator = 0x00;
constexpr uint8_t kExtraPlaceholder = 0x02;  // extra code of a character without one
constexpr uint8_t kFlagByteStart = 0x80;
constexpr uint8_t kFlagDefault = 0x03;  // trailing default flags are dropped
constexpr uint8_t kFlagSuffix[] = {0xFF, 0x02, 0x80, 0xFF, 0x80};
constexpr uint8_t kUnprintableAfterFlags = 0xFF;
constexpr uint8_t kUnprintableMid = 0x06;

const char* type_name(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean: return "boolean";
    case ColumnType::kByte: return "byte";
    case ColumnType::kInteger: return "integer";
    case ColumnType::kLong: return "long";
    case ColumnType::kCurrency: return "currency";
    case ColumnType::kSingle: return "single";
    case ColumnType::kDouble: return "double";
    case ColumnType::kDateTime: return "date/time";
    case ColumnType::kBinary: return "binary";
    case ColumnType::kText: return "text";
    case ColumnType::kOle: return "OLE";
    case ColumnType::kMemo: return "memo";
    case ColumnType::kGuid: return "GUID";
    case ColumnType::kNumeric: return "decimal";
    case ColumnType::kComplex: return "complex";
  }
  return "unknown";
}

const char* value_kind(const Value& v) {
  static const char* const kNames[] = {"Null", "boolean", "byte", "integer", "long", "currency", "single",
                                       "double", "date/time", "text", "binary", "GUID", "decimal"};
  return kNames[v.index()];
}

[[noreturn]] void fail(ErrorCategory category, const KeyColumn& column, const IndexLayout* where,
                       const std::string& what) {
  std::string msg = "index key";
  if (where != nullptr) {
    msg += " of index '" + where->name + "'";
    if (!where->table_name.empty()) msg += " on table '" + where->table_name + "'";
  }
  msg += ", column number " + std::to_string(column.column_number) + " (" + type_name(column.type) + "): " + what;
  throw Error(category, msg);
}

// Integer alternatives of a Value, widened; false when `v` is not an integer.
bool as_integer(const Value& v, int64_t& out) {
  if (const auto* p = std::get_if<uint8_t>(&v)) {
    out = *p;
  } else if (const auto* p = std::get_if<int16_t>(&v)) {
    out = *p;
  } else if (const auto* p = std::get_if<int32_t>(&v)) {
    out = *p;
  } else {
    return false;
  }
  return true;
}

void put_big_endian(uint64_t bits, int bytes, std::vector<uint8_t>& out) {
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

void invert(std::vector<uint8_t>& out, std::size_t from) {
  for (std::size_t i = from; i < out.size(); ++i) out[i] = static_cast<uint8_t>(~out[i]);
}

void encode_signed(int64_t v, int bytes, bool ascending, std::vector<uint8_t>& out) {
  std::size_t start = out.size();
  put_big_endian(static_cast<uint64_t>(v), bytes, out);
  out[start] ^= 0x80;
  if (!ascending) invert(out, start);
}

void encode_ieee(uint64_t bits, int bytes, bool ascending, std::vector<uint8_t>& out) {
  std::size_t start = out.size();
  put_big_endian(bits, bytes, out);
  bool negative = (out[start] & 0x80) != 0;
  if (!negative) out[start] ^= 0x80;
  if (negative == ascending) invert(out, start);
}

// 8-byte segments, each followed by 9 (more follows) or its data length.
void encode_binary_segments(const uint8_t* data, std::size_t size, bool ascending, std::vector<uint8_t>& out) {
  std::size_t pos = 0;
  while (size - pos > 8) {
    for (int i = 0; i < 8; ++i) out.push_back(ascending ? data[pos + i] : static_cast<uint8_t>(~data[pos + i]));
    out.push_back(9);
    pos += 8;
  }
  if (pos < size) {
    std::size_t start = out.size();
    std::size_t n = size - pos;
    for (std::size_t i = 0; i < 8; ++i) out.push_back(i < n ? data[pos + i] : 0);
    out.push_back(static_cast<uint8_t>(n));
    if (!ascending) invert(out, start);
  }
}

using U128 = unsigned __int128;

void encode_decimal(const KeyColumn& column, const IndexLayout* where, bool negative, U128 magnitude,
                    int value_scale, bool ascending, std::vector<uint8_t>& out) {
  int target = column.scale;
  while (value_scale < target) {
    if (magnitude > (~U128{0}) / 10) fail(ErrorCategory::kConstraint, column, where, "decimal value out of range");
    magnitude *= 10;
    ++value_scale;
  }
  while (value_scale > target) {
    if (magnitude % 10 != 0) {
      fail(ErrorCategory::kConstraint, column, where,
           "decimal value has more than " + std::to_string(target) + " digits after the point");
    }
    magnitude /= 10;
    --value_scale;
  }
  if (magnitude == 0) negative = false;
  std::size_t start = out.size();
  out.push_back(0);
  put_big_endian(static_cast<uint64_t>(magnitude >> 64), 8, out);
  put_big_endian(static_cast<uint64_t>(magnitude), 8, out);
  if (negative == ascending) invert(out, start);
  out[start] = negative ? 0x00 : 0xFF;
}

// Decodes UTF-8 into at most kMaxIndexedTextUnits UTF-16 code units (the
// rest of the text does not take part in keys). Returns the unit count.
std::size_t utf8_to_units(const std::string& text, std::array<uint16_t, kMaxIndexedTextUnits>& units,
                          const KeyColumn& column, const IndexLayout* where) {
  std::size_t n = 0;
  std::size_t i = 0;
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  while (i < size && n < units.size()) {
    uint32_t c = s[i];
    int extra = 0;
    if (c < 0x80) {
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      c &= 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      c &= 0x0F;
      extra = 2;
    } else if ((c & 0xF8) == 0xF0) {
      c &= 0x07;
      extra = 3;
    } else {
      fail(ErrorCategory::kConstraint, column, where, "text is not valid UTF-8 at byte " + std::to_string(i));
    }
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= size || (s[i + k] & 0xC0) != 0x80) {
        fail(ErrorCategory::kConstraint, column, where, "text is not valid UTF-8 at byte " + std::to_string(i));
      }
      c = (c << 6) | (s[i + k] & 0x3F);
    }
    static constexpr uint32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (c < kMin[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      fail(ErrorCategory::kConstraint, column, where, "text is not valid UTF-8 at byte " + std::to_string(i));
    }
    if (c > 0xFFFF) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(c));
      fail(ErrorCategory::kConstraint, column, where,
           std::string("character ") + hex + " (outside the Basic Multilingual Plane) has no code in the "
           "General sort order of text indexes");
    }
    units[n++] = static_cast<uint16_t>(c);
    i += extra + 1;
  }
  return n;
}

// Text in the General sort order of Access 2000 files:
//
//   inline codes of each character (ignored and unprintable characters have
//   none), then 0x01; then, only when there is something to say:
//     the extra codes: per character with inline codes, its accent code or
//       0x02 as placeholder; trailing placeholders dropped;
//     when there are flags or unprintable characters: 0x01 0x01, then
//       the flags, three 2-bit flags per byte (0x80 | f1<<4 | f2<<2 | f3,
//       trailing default flags 3 dropped) and 0xFF 0x02 0x80 0xFF 0x80, then
//       (when there are unprintable characters too) 0xFF;
//       the unprintable characters: 0x01, then per character a big-endian
//       16-bit position (0x8000 | (7 + 4 * p)), 0x06 and its code;
//   then 0x00. Descending: everything from the first inline code through a
//   0x00 appended at the end is inverted, then another 0x00 follows.
// Trailing spaces and everything after 255 code units are ignored.
void encode_text(const KeyColumn& column, const IndexLayout* where, const std::string& text, bool ascending,
                 std::vector<uint8_t>& out) {
  std::array<uint16_t, kMaxIndexedTextUnits> units;
  std::size_t count = utf8_to_units(text, units, column, where);
  while (count > 0 && units[count - 1] == u' ') --count;

  // Trailing sections, kept on the stack: at most a few bytes per character.
  std::array<uint8_t, kMaxIndexedTextUnits * 2 + 4> extra;
  std::size_t extra_size = 0;
  std::size_t extra_chars = 0;      // characters the extra codes account for
  std::size_t extra_lead = 0;       // modifier bytes written before any extra code
  bool have_extra = false;
  std::array<uint8_t, kMaxIndexedTextUnits * 4> unprintable;
  std::size_t unprintable_size = 0;
  std::array<uint8_t, kMaxIndexedTextUnits> flags;
  std::size_t flag_count = 0;

  const std::size_t start = out.size();
  std::size_t position = 0;  // characters with inline codes so far
  for (std::size_t i = 0; i < count; ++i) {
    const uint16_t unit = units[i];
    const SortCode& code = kGeneralSortCodes[unit];
    const std::size_t here = position;
    if (code.inline_length > 0) {
      out.insert(out.end(), code.inline_bytes, code.inline_bytes + code.inline_length);
      ++position;
    }
    switch (code.kind) {
      case SortCodeKind::kSimple:
      case SortCodeKind::kIgnored:
        continue;
      case SortCodeKind::kUnsupported: {
        char hex[16];
        std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(unit));
        fail(ErrorCategory::kConstraint, column, where,
             std::string("character ") + hex + " has no code in the General sort order of text indexes");
      }
      default:
        break;
    }
    const bool has_extra_bytes = code.extra_length > 0;
    const bool is_modifier = code.kind == SortCodeKind::kUnprintableModifier && code.aux != 0;
    if (has_extra_bytes || is_modifier) {
      have_extra = true;
      while (extra_chars < here) {
        extra[extra_size++] = kExtraPlaceholder;
        ++extra_chars;
      }
      if (has_extra_bytes) {
        for (int k = 0; k < code.extra_length; ++k) extra[extra_size++] = code.extra_bytes[k];
        ++extra_chars;
      } else if (extra_size > 0) {
        extra[extra_size - 1] = static_cast<uint8_t>(extra[extra_size - 1] + code.aux);
      } else {
        extra[extra_size++] = code.aux;
        extra_lead = 1;
      }
    }
    if (code.kind == SortCodeKind::kUnprintable) {
      std::size_t p = have_extra ? extra_size + (here - extra_chars) - extra_lead : here;
      uint32_t pos = (7 + 4 * static_cast<uint32_t>(p)) | 0x8000;
      unprintable[unprintable_size++] = static_cast<uint8_t>(pos >> 8);
      unprintable[unprintable_size++] = static_cast<uint8_t>(pos);
      unprintable[unprintable_size++] = kUnprintableMid;
      unprintable[unprintable_size++] = code.aux;
    }
    if (code.kind == SortCodeKind::kInternationalFlagged) flags[flag_count++] = code.aux;
  }
  out.push_back(kTextEnd);

  while (extra_size > 0 && extra[extra_size - 1] <= kExtraPlaceholder) --extra_size;
  const bool has_unprintable = unprintable_size > 0;
  const bool has_flags = flag_count > 0;
  if (extra_size > 0) out.insert(out.end(), extra.begin(), extra.begin() + extra_size);
  if (has_flags || has_unprintable) {
    out.push_back(kTextEnd);
    out.push_back(kTextEnd);
    if (has_flags) {
      while (flag_count > 0 && flags[flag_count - 1] == kFlagDefault) --flag_count;
      uint8_t byte = kFlagByteStart;
      int slot = 0;
      for (std::size_t i = 0; i < flag_count; ++i) {
        byte = static_cast<uint8_t>(byte | (flags[i] << ((2 - slot) * 2)));
        if (++slot == 3) {
          out.push_back(byte);
          byte = kFlagByteStart;
          slot = 0;
        }
      }
      if (slot > 0) out.push_back(byte);
      out.insert(out.end(), std::begin(kFlagSuffix), std::end(kFlagSuffix));
      if (has_unprintable) out.push_back(kUnprintableAfterFlags);
    }
    if (has_unprintable) {
      out.push_back(kTextEnd);
      out.insert(out.end(), unprintable.begin(), unprintable.begin() + unprintable_size);
    }
  }
  if (!ascending) {
    out.push_back(kTextTerminator);
    invert(out, start);
  }
  out.push_back(kTextTerminator);
}

void check_type_sortable(const KeyColumn& column, const IndexLayout* where) {
  switch (column.type) {
    case ColumnType::kOle:
    case ColumnType::kComplex:
      fail(ErrorCategory::kUnsupported, column, where, "columns of this type cannot be indexed");
    case ColumnType::kText:
    case ColumnType::kMemo:
      // 0x0409 is General (sort order version 0); 0 is what some writers leave.
      if (column.sort_order != 0x0409 && column.sort_order != 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(column.sort_order));
        fail(ErrorCategory::kUnsupported, column, where,
             std::string("text sort order ") + hex + " is not supported (only General)");
      }
      break;
    default:
      break;
  }
}

}  // namespace

void append_column_key(const KeyColumn& column, const Value& value, std::vector<uint8_t>& out,
                       const IndexLayout* where) {
  check_type_sortable(column, where);
  const bool asc = column.ascending;
  auto mismatch = [&]() {
    fail(ErrorCategory::kConstraint, column, where,
         std::string("a ") + value_kind(value) + " value does not fit this column");
  };

  if (column.type == ColumnType::kBoolean) {
    bool b = false;
    if (const auto* p = std::get_if<bool>(&value)) {
      b = *p;
    } else if (!is_null(value)) {
      mismatch();
    }
    out.push_back(asc ? kAscendingStart : kDescendingStart);
    out.push_back(b == asc ? 0x00 : 0xFF);
    return;
  }
  if (is_null(value)) {
    out.push_back(asc ? kAscendingNull : kDescendingNull);
    return;
  }
  out.push_back(asc ? kAscendingStart : kDescendingStart);

  int64_t integer = 0;
  const bool is_integer = as_integer(value, integer);
  auto ranged = [&](int64_t lo, int64_t hi) {
    if (!is_integer) mismatch();
    if (integer < lo || integer > hi) {
      fail(ErrorCategory::kConstraint, column, where, "value " + std::to_string(integer) + " is out of range");
    }
    return integer;
  };

  switch (column.type) {
    case ColumnType::kByte: {
      uint8_t b = static_cast<uint8_t>(ranged(0, 255));
      out.push_back(asc ? b : static_cast<uint8_t>(~b));
      return;
    }
    case ColumnType::kInteger:
      encode_signed(ranged(INT16_MIN, INT16_MAX), 2, asc, out);
      return;
    case ColumnType::kLong:
      encode_signed(ranged(INT32_MIN, INT32_MAX), 4, asc, out);
      return;
    case ColumnType::kCurrency: {
      int64_t units = 0;
      if (const auto* c = std::get_if<Currency>(&value)) {
        units = c->ten_thousandths;
      } else if (is_integer) {
        units = integer * 10000;
      } else {
        mismatch();
      }
      encode_signed(units, 8, asc, out);
      return;
    }
    case ColumnType::kSingle: {
      float f = 0;
      if (const auto* p = std::get_if<float>(&value)) {
        f = *p;
      } else if (const auto* d = std::get_if<double>(&value)) {
        f = static_cast<float>(*d);
      } else if (is_integer) {
        f = static_cast<float>(integer);
      } else {
        mismatch();
      }
      encode_ieee(std::bit_cast<uint32_t>(f), 4, asc, out);
      return;
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      double d = 0;
      if (const auto* p = std::get_if<double>(&value)) {
        d = *p;
      } else if (const auto* t = std::get_if<DateTime>(&value)) {
        d = t->days;
      } else if (const auto* f = std::get_if<float>(&value); f != nullptr && column.type == ColumnType::kDouble) {
        d = *f;
      } else if (is_integer && column.type == ColumnType::kDouble) {
        d = static_cast<double>(integer);
      } else {
        mismatch();
      }
      encode_ieee(std::bit_cast<uint64_t>(d), 8, asc, out);
      return;
    }
    case ColumnType::kText:
    case ColumnType::kMemo: {
      const auto* s = std::get_if<std::string>(&value);
      if (s == nullptr) mismatch();
      encode_text(column, where, *s, asc, out);
      return;
    }
    case ColumnType::kGuid: {
      const auto* g = std::get_if<Guid>(&value);
      if (g == nullptr) mismatch();
      uint8_t b[16];
      std::memcpy(b, g->bytes.data(), 16);
      std::swap(b[0], b[3]);
      std::swap(b[1], b[2]);
      std::swap(b[4], b[5]);
      std::swap(b[6], b[7]);
      encode_binary_segments(b, 16, asc, out);
      return;
    }
    case ColumnType::kBinary: {
      const auto* b = std::get_if<Bytes>(&value);
      if (b == nullptr) mismatch();
      encode_binary_segments(b->data.data(), b->data.size(), asc, out);
      return;
    }
    case ColumnType::kNumeric: {
      if (const auto* d = std::get_if<Decimal>(&value)) {
        U128 m = (U128{d->magnitude[2]} << 64) | (U128{d->magnitude[1]} << 32) | U128{d->magnitude[0]};
        encode_decimal(column, where, d->negative, m, d->scale, asc, out);
      } else if (is_integer) {
        U128 m = static_cast<U128>(integer < 0 ? -static_cast<__int128>(integer) : integer);
        encode_decimal(column, where, integer < 0, m, 0, asc, out);
      } else {
        mismatch();
      }
      return;
    }
    default:
      fail(ErrorCategory::kUnsupported, column, where, "columns of this type cannot be indexed");
  }
}

void append_key(const IndexLayout& layout, std::span<const Value> values, std::vector<uint8_t>& out) {
  if (values.size() > layout.columns.size()) {
    throw Error(ErrorCategory::kInvalidArgument,
                "index '" + layout.name + "' on table '" + layout.table_name + "' has " +
                    std::to_string(layout.columns.size()) + " key columns, but " + std::to_string(values.size()) +
                    " values were given");
  }
  for (std::size_t i = 0; i < values.size(); ++i) append_column_key(layout.columns[i], values[i], out, &layout);
}

std::vector<uint8_t> encode_key(const IndexLayout& layout, std::span<const Value> values) {
  std::vector<uint8_t> out;
  out.reserve(16 * values.size());
  append_key(layout, values, out);
  return out;
}

int compare_keys(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  std::size_t n = a.size() < b.size() ? a.size() : b.size();
  int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace jet::index
