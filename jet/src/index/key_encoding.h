// Internal: the bytes a Jet 4 index stores for a row's key.
//
// An index entry's key is the concatenation, column by column in key order, of
//   - one flag byte: 0x7F for a value in an ascending column, 0x80 descending;
//     0x00 for Null ascending, 0xFF descending (Null then has no more bytes);
//   - the column's value bytes (see key_encoding.cc for each type), inverted
//     for a descending column.
// Entries of an index are ordered by plain byte comparison of these keys, so
// comparing encoded keys with memcmp gives Access's sort order.
//
// Text uses the "General" sort order of Access 2000 files (sort order 0x0409
// in the column definition); its character codes are generated at build time
// from the format notes' code tables.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "index/index_layout.h"
#include "jet/value.h"

namespace jet::index {

// Longest text, in UTF-16 code units, that takes part in a key; Access
// ignores the rest (and trailing spaces).
inline constexpr std::size_t kMaxIndexedTextUnits = 255;

// Appends the encoded key of `values` to `out`. `values` holds one value per
// key column, in key order; fewer values than columns encode the key of the
// first values.size() columns, which is a byte prefix of every full key that
// has those values. Null is std::monostate.
//
// Accepted value alternatives per column type (others: kConstraint):
//   boolean: bool, Null (stored as false, as Access does);
//   byte, integer, long, counter: any integer alternative that fits;
//   currency: Currency, or an integer number of whole units;
//   single, double: float, double, or an integer alternative;
//   date/time: DateTime, or double (days);
//   text, memo: std::string (UTF-8);
//   GUID: Guid (bytes as stored in a row); binary: Bytes;
//   decimal: Decimal (rescaled to KeyColumn::scale), or an integer alternative.
// Throws jet::Error kConstraint naming the index, column position and value
// when a value cannot be encoded: wrong type, out of range, a character the
// General sort order tables cannot express (outside the Basic Multilingual
// Plane), invalid UTF-8; kInvalidArgument when more values than columns are
// given; kUnsupported for a column type Jet cannot index (OLE, complex)
// or a text sort order other than General.
// On error, `out` may hold a partial key (callers discard it).
void append_key(const IndexLayout& layout, std::span<const Value> values, std::vector<uint8_t>& out);

// The encoded key of `values` (see append_key).
std::vector<uint8_t> encode_key(const IndexLayout& layout, std::span<const Value> values);

// Appends one column's part of a key (flag byte and value bytes).
// `where` names the index and column for error messages.
void append_column_key(const KeyColumn& column, const Value& value, std::vector<uint8_t>& out,
                       const IndexLayout* where = nullptr);

// True when `key` starts with `prefix` (both encoded keys).
inline bool key_has_prefix(std::span<const uint8_t> key, std::span<const uint8_t> prefix) {
  if (key.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (key[i] != prefix[i]) return false;
  }
  return true;
}

// Byte-wise comparison (shorter is less when one is a prefix of the other):
// negative, zero or positive.
int compare_keys(std::span<const uint8_t> a, std::span<const uint8_t> b);

}  // namespace jet::index
