#include "row_encoder.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "binary.h"
#include "jet/error.h"
#include "jet/value_conversions.h"
#include "jet/value_text.h"
#include "long_value.h"
#include "text_codec.h"

namespace jet {
namespace {

// Long values written to LVAL pages: one row holds at most this much
// (a page minus its header and slot); chained rows carry a 4-byte pointer.
constexpr std::size_t kMaxLongValueRow = 4076;
constexpr std::size_t kLongValueChainPiece = kMaxLongValueRow - 4;
// Memo values longer than this many characters are never compressed (H).
constexpr std::size_t kMaxCompressedMemoChars = 1024;

const char* value_kind(const Value& v) {
  switch (v.index()) {
    case 0: return "Null";
    case 1: return "boolean";
    case 2: return "byte";
    case 3: return "integer";
    case 4: return "long integer";
    case 5: return "currency";
    case 6: return "single";
    case 7: return "double";
    case 8: return "date/time";
    case 9: return "text";
    case 10: return "binary";
    case 11: return "GUID";
    case 12: return "decimal";
  }
  return "value";
}

[[noreturn]] void refuse(const TableDef& def, const ColumnDef& c, const Value& v, const std::string& why) {
  std::string shown = value_text(v);
  if (shown.size() > 60) shown = shown.substr(0, 57) + "...";
  throw Error(ErrorCategory::kConstraint, "table '" + def.name + "', column '" + c.name + "' (" +
                                              column_type_name(c.type) + "): the " + value_kind(v) + " value '" +
                                              shown + "' " + why);
}

// A value outside the column type's range: Jet's overflow error, naming the
// table, column and value.
[[noreturn]] void overflow(const TableDef& def, const ColumnDef& c, const Value& v, const std::string& why) {
  std::string shown = value_text(v);
  if (shown.size() > 60) shown = shown.substr(0, 57) + "...";
  throw_overflow("table '" + def.name + "', column '" + c.name + "' (" + column_type_name(c.type) + "): the " +
                 value_kind(v) + " value '" + shown + "' " + why);
}

// Runs a conversion of the value conversions module and names the column in
// its overflow error.
template <class F>
auto checked(const TableDef& def, const ColumnDef& c, const Value& v, F convert) {
  try {
    return convert();
  } catch (const Error& e) {
    if (e.category() != ErrorCategory::kOverflow) throw;
    overflow(def, c, v, "is out of range");
  }
}

bool as_int64(const Value& v, int64_t& out) {
  if (auto p = std::get_if<uint8_t>(&v)) { out = *p; return true; }
  if (auto p = std::get_if<int16_t>(&v)) { out = *p; return true; }
  if (auto p = std::get_if<int32_t>(&v)) { out = *p; return true; }
  if (auto p = std::get_if<bool>(&v)) { out = *p ? -1 : 0; return true; }  // Jet's True is -1
  return false;
}

bool as_double(const Value& v, double& out) {
  int64_t i;
  if (auto p = std::get_if<double>(&v)) { out = *p; return true; }
  if (auto p = std::get_if<float>(&v)) { out = *p; return true; }
  if (auto p = std::get_if<Currency>(&v)) { out = double(p->ten_thousandths) / 10000.0; return true; }
  if (auto p = std::get_if<DateTime>(&v)) { out = p->days; return true; }
  if (!std::holds_alternative<bool>(v) && as_int64(v, i)) { out = double(i); return true; }
  return false;
}

using U128 = unsigned __int128;

U128 magnitude_of(const Decimal& d) {
  return (U128(d.magnitude[2]) << 64) | (U128(d.magnitude[1]) << 32) | d.magnitude[0];
}

Decimal rescale(const TableDef& def, const ColumnDef& c, const Value& v, bool negative, U128 mag, int scale) {
  const U128 kMax = (U128(1) << 96) - 1;
  while (scale < c.scale) {
    if (mag > kMax / 10) refuse(def, c, v, "is too large for the column");
    mag *= 10;
    ++scale;
  }
  while (scale > c.scale) {
    U128 q = mag / 10, r = mag % 10;
    mag = q + (r >= 5 ? 1 : 0);
    --scale;
  }
  U128 limit = 1;
  for (int i = 0; i < (c.precision ? c.precision : 18); ++i) limit *= 10;
  if (mag >= limit) refuse(def, c, v, "has more digits than the column's precision " + std::to_string(c.precision));
  Decimal d;
  d.negative = negative && mag != 0;
  d.precision = c.precision;
  d.scale = c.scale;
  d.magnitude = {uint32_t(mag), uint32_t(mag >> 32), uint32_t(mag >> 64)};
  return d;
}

Value normalize_value(const TableDef& def, const ColumnDef& c, const Value& v) {
  if (is_null(v)) {
    if (c.type == ColumnType::kBoolean) return false;
    return v;
  }
  int64_t i;
  double d;
  switch (c.type) {
    case ColumnType::kBoolean:
      if (auto p = std::get_if<bool>(&v)) return *p;
      if (as_int64(v, i)) return i != 0;
      break;
    case ColumnType::kByte:
      if (std::holds_alternative<bool>(v)) break;
      if (as_int64(v, i)) {
        if (i < 0 || i > 255) overflow(def, c, v, "is out of range (0 to 255)");
        return uint8_t(i);
      }
      break;
    case ColumnType::kInteger:
      if (std::holds_alternative<bool>(v)) break;
      if (as_int64(v, i)) {
        if (i < -32768 || i > 32767) overflow(def, c, v, "is out of range (-32768 to 32767)");
        return int16_t(i);
      }
      break;
    case ColumnType::kLong:
    case ColumnType::kComplex:
      if (std::holds_alternative<bool>(v)) break;
      if (as_int64(v, i)) return int32_t(i);
      break;
    case ColumnType::kCurrency:
      if (auto p = std::get_if<Currency>(&v)) return *p;
      if (!std::holds_alternative<bool>(v) && as_int64(v, i)) return Currency{i * 10000};
      if (std::holds_alternative<double>(v) || std::holds_alternative<float>(v)) {
        as_double(v, d);
        return checked(def, c, v, [&] { return currency_from_double(d); });
      }
      break;
    case ColumnType::kSingle:
      if (std::holds_alternative<bool>(v) || std::holds_alternative<DateTime>(v)) break;
      if (as_double(v, d)) return checked(def, c, v, [&] { return to_single(d); });
      break;
    case ColumnType::kDouble:
      if (std::holds_alternative<bool>(v) || std::holds_alternative<DateTime>(v)) break;
      if (as_double(v, d)) return d;
      break;
    case ColumnType::kDateTime:
      if (auto p = std::get_if<DateTime>(&v)) return *p;
      if (auto p = std::get_if<double>(&v)) return checked(def, c, v, [&] { return to_date(*p); });
      break;
    case ColumnType::kText:
    case ColumnType::kMemo:
      if (auto p = std::get_if<std::string>(&v)) {
        if (c.type == ColumnType::kText) {
          std::size_t units = utf16_units(*p);
          if (units > c.length / 2u) {
            refuse(def, c, v, "is " + std::to_string(units) + " characters long; the column holds at most " +
                                  std::to_string(c.length / 2));
          }
        }
        return v;
      }
      break;
    case ColumnType::kBinary:
      if (auto p = std::get_if<Bytes>(&v)) {
        if (p->data.size() > c.length) {
          refuse(def, c, v, "is " + std::to_string(p->data.size()) + " bytes long; the column holds at most " +
                                std::to_string(c.length));
        }
        return v;
      }
      break;
    case ColumnType::kOle:
      if (std::holds_alternative<Bytes>(v)) return v;
      break;
    case ColumnType::kGuid:
      if (std::holds_alternative<Guid>(v)) return v;
      break;
    case ColumnType::kNumeric:
      if (auto p = std::get_if<Decimal>(&v)) return rescale(def, c, v, p->negative, magnitude_of(*p), p->scale);
      if (!std::holds_alternative<bool>(v) && as_int64(v, i)) {
        return rescale(def, c, v, i < 0, U128(i < 0 ? -(i + 1) + 1ull : uint64_t(i)), 0);
      }
      break;
  }
  refuse(def, c, v, "does not fit this column type");
}

void put_u16(std::vector<uint8_t>& out, std::size_t at, uint16_t v) { put_le16(out.data() + at, v); }

void append_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

void encode_fixed(const ColumnDef& c, const Value& v, uint8_t* p) {
  switch (c.type) {
    case ColumnType::kByte: p[0] = std::get<uint8_t>(v); break;
    case ColumnType::kInteger: put_le16(p, uint16_t(std::get<int16_t>(v))); break;
    case ColumnType::kLong:
    case ColumnType::kComplex: put_le32(p, uint32_t(std::get<int32_t>(v))); break;
    case ColumnType::kCurrency: {
      uint64_t u = uint64_t(std::get<Currency>(v).ten_thousandths);
      for (int i = 0; i < 8; ++i) p[i] = uint8_t(u >> (8 * i));
      break;
    }
    case ColumnType::kSingle: {
      float f = std::get<float>(v);
      uint32_t u;
      std::memcpy(&u, &f, 4);
      put_le32(p, u);
      break;
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      double d = c.type == ColumnType::kDouble ? std::get<double>(v) : std::get<DateTime>(v).days;
      uint64_t u;
      std::memcpy(&u, &d, 8);
      for (int i = 0; i < 8; ++i) p[i] = uint8_t(u >> (8 * i));
      break;
    }
    case ColumnType::kGuid: {
      const Guid& g = std::get<Guid>(v);
      std::copy(g.bytes.begin(), g.bytes.end(), p);
      break;
    }
    case ColumnType::kNumeric: {
      const Decimal& d = std::get<Decimal>(v);
      p[0] = d.negative ? 0x80 : 0x00;
      put_le32(p + 1, 0);
      put_le32(p + 5, d.magnitude[2]);
      put_le32(p + 9, d.magnitude[1]);
      put_le32(p + 13, d.magnitude[0]);
      break;
    }
    case ColumnType::kText: {
      // Fixed-width text: UCS-2, padded with spaces to the column's width.
      std::string ucs2;
      append_utf8_as_utf16le(std::get<std::string>(v), ucs2);
      for (std::size_t i = 0; i + 1 < c.length; i += 2) {
        p[i] = i < ucs2.size() ? uint8_t(ucs2[i]) : 0x20;
        p[i + 1] = i < ucs2.size() ? uint8_t(ucs2[i + 1]) : 0x00;
      }
      break;
    }
    case ColumnType::kBinary: {
      const auto& b = std::get<Bytes>(v).data;
      std::copy(b.begin(), b.end(), p);
      break;
    }
    default: break;
  }
}

}  // namespace

std::size_t utf16_units(std::string_view utf8) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    uint8_t c = uint8_t(utf8[i]);
    if ((c & 0xC0) != 0x80) n += (c >= 0xF0) ? 2 : 1;
  }
  return n;
}

void encode_text(std::string_view utf8, bool compressible, std::vector<uint8_t>& out) {
  std::string ucs2;
  append_utf8_as_utf16le(utf8, ucs2);
  const std::size_t units = ucs2.size() / 2;
  auto unit = [&](std::size_t k) { return uint16_t(uint8_t(ucs2[2 * k]) | (uint8_t(ucs2[2 * k + 1]) << 8)); };
  if (compressible && units > 0) {
    // Runs of one-byte characters and of two-byte characters; a two-byte
    // character whose low byte is 0 cannot be stored compressed at all.
    bool possible = true;
    for (std::size_t k = 0; k < units && possible; ++k) {
      uint16_t u = unit(k);
      if (u == 0 || (u > 0xFF && (u & 0xFF) == 0)) possible = false;
    }
    if (possible) {
      std::vector<uint8_t> c{0xFF, 0xFE};
      bool one_byte = true;
      for (std::size_t k = 0; k < units; ++k) {
        uint16_t u = unit(k);
        bool small = u <= 0xFF;
        if (small != one_byte) {
          c.push_back(0x00);
          one_byte = small;
        }
        if (one_byte) {
          c.push_back(uint8_t(u));
        } else {
          c.push_back(uint8_t(u));
          c.push_back(uint8_t(u >> 8));
        }
      }
      if (c.size() < ucs2.size()) {
        out.insert(out.end(), c.begin(), c.end());
        return;
      }
    }
  }
  out.insert(out.end(), ucs2.begin(), ucs2.end());
}

void encode_long_value(std::span<const uint8_t> data, bool allow_inline, LongValueSink& sink,
                       std::vector<uint8_t>& out) {
  if (data.size() > 0x3FFFFFFF) {
    throw Error(ErrorCategory::kConstraint, "a long value of " + std::to_string(data.size()) +
                                                " bytes exceeds Jet's limit of 1 GB");
  }
  const uint32_t length = uint32_t(data.size());
  if (allow_inline && data.size() <= kMaxInlineLongValue) {
    append_u32(out, length | (uint32_t(kLongValueInline) << 24));
    append_u32(out, 0);
    append_u32(out, 0);
    out.insert(out.end(), data.begin(), data.end());
    return;
  }
  if (data.size() <= kMaxLongValueRow) {
    uint32_t ptr = sink.add_long_value_row(data);
    append_u32(out, length | (uint32_t(kLongValueSingle) << 24));
    append_u32(out, ptr);
    append_u32(out, 0);
    return;
  }
  // A chain: written last piece first, so each row can name the next.
  std::size_t pieces = (data.size() + kLongValueChainPiece - 1) / kLongValueChainPiece;
  uint32_t next = 0;
  std::vector<uint8_t> row;
  for (std::size_t k = pieces; k-- > 0;) {
    std::size_t from = k * kLongValueChainPiece;
    std::size_t n = std::min(kLongValueChainPiece, data.size() - from);
    row.clear();
    append_u32(row, next);
    row.insert(row.end(), data.begin() + from, data.begin() + from + n);
    next = sink.add_long_value_row(row);
  }
  append_u32(out, length);
  append_u32(out, next);
  append_u32(out, 0);
}

Row normalize_row(const TableDef& def, const Row& row) {
  if (row.size() != def.columns.size()) {
    throw Error(ErrorCategory::kInvalidArgument, "table '" + def.name + "' has " +
                                                     std::to_string(def.columns.size()) + " columns; the row gives " +
                                                     std::to_string(row.size()) + " values");
  }
  Row out(row.size());
  for (std::size_t i = 0; i < row.size(); ++i) out[i] = normalize_value(def, def.columns[i], row[i]);
  return out;
}

void encode_row(const TableDef& def, const Row& row, LongValueSink& sink, std::vector<uint8_t>& out,
                std::size_t min_size) {
  out.clear();
  uint16_t n = def.max_columns;
  std::size_t fixed_size = 0;
  int max_var = -1;
  for (const ColumnDef& c : def.columns) {
    if (c.number >= n) n = uint16_t(c.number + 1);
    if (c.type == ColumnType::kBoolean) continue;
    if (c.fixed_length) {
      fixed_size = std::max<std::size_t>(fixed_size, std::size_t(c.fixed_offset) + c.length);
    } else {
      max_var = std::max<int>(max_var, c.variable_index);
    }
  }
  const bool has_var = def.variable_columns > 0 || max_var >= 0;
  // Every variable slot of the table, deleted columns' included, so that
  // n - m is the number of fixed columns as readers count them.
  const std::size_t var_count = std::max<std::size_t>(def.variable_columns, std::size_t(max_var + 1));
  const std::size_t mask_size = (n + 7u) / 8u;
  std::vector<uint8_t> mask(mask_size, 0);

  out.assign(2 + fixed_size, 0);
  put_u16(out, 0, n);
  // Variable values in variable_index order.
  std::vector<const ColumnDef*> var_cols(var_count, nullptr);
  std::vector<std::size_t> var_pos(var_count, 0);
  for (std::size_t i = 0; i < def.columns.size(); ++i) {
    const ColumnDef& c = def.columns[i];
    const Value& v = row[i];
    if (c.type == ColumnType::kBoolean) {
      if (std::get<bool>(v)) mask[c.number / 8] |= uint8_t(1u << (c.number % 8));
      continue;
    }
    if (c.fixed_length) {
      if (is_null(v)) continue;
      mask[c.number / 8] |= uint8_t(1u << (c.number % 8));
      encode_fixed(c, v, out.data() + 2 + c.fixed_offset);
    } else {
      var_cols[c.variable_index] = &def.columns[i];
    }
  }
  std::vector<uint8_t> scratch;
  for (std::size_t k = 0; k < var_count; ++k) {
    var_pos[k] = out.size();
    const ColumnDef* c = var_cols[k];
    if (!c) continue;
    const Value& v = row[std::size_t(c - def.columns.data())];
    if (is_null(v)) continue;
    mask[c->number / 8] |= uint8_t(1u << (c->number % 8));
    switch (c->type) {
      case ColumnType::kText:
        encode_text(std::get<std::string>(v), c->compressed_unicode, out);
        break;
      case ColumnType::kMemo: {
        const std::string& s = std::get<std::string>(v);
        scratch.clear();
        encode_text(s, c->compressed_unicode && utf16_units(s) <= kMaxCompressedMemoChars, scratch);
        encode_long_value(scratch, true, sink, out);
        break;
      }
      case ColumnType::kOle: encode_long_value(std::get<Bytes>(v).data, true, sink, out); break;
      case ColumnType::kBinary: {
        const auto& b = std::get<Bytes>(v).data;
        out.insert(out.end(), b.begin(), b.end());
        break;
      }
      default: {  // a fixed-size type stored in the variable area
        std::size_t at = out.size();
        out.resize(at + c->length);
        encode_fixed(*c, v, out.data() + at);
        break;
      }
    }
  }
  const std::size_t eod = out.size();
  const std::size_t tail = (has_var ? 2 + 2 * var_count + 2 : 0) + mask_size;
  if (out.size() + tail < min_size) out.resize(min_size - tail, 0);
  if (has_var) {
    std::size_t at = out.size();
    out.resize(at + 2 + 2 * var_count + 2);
    put_u16(out, at, uint16_t(eod));
    for (std::size_t k = 0; k < var_count; ++k) put_u16(out, at + 2 + 2 * (var_count - 1 - k), uint16_t(var_pos[k]));
    put_u16(out, at + 2 + 2 * var_count, uint16_t(var_count));
  }
  out.insert(out.end(), mask.begin(), mask.end());
  if (out.size() > kMaxRowSize) {
    throw Error(ErrorCategory::kConstraint, "table '" + def.name + "': the row takes " + std::to_string(out.size()) +
                                                " bytes, more than the " + std::to_string(kMaxRowSize) +
                                                " a Jet row may hold");
  }
}

}  // namespace jet
