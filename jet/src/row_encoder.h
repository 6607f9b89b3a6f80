// Internal: turning a row of Values into the bytes Jet 4 stores.
//
// The byte layout is the one row_layout.h reads:
//
//   offset                 size     field
//   0                      2        n = TableDef::max_columns (deleted ones
//                                   included, as Access writes it)
//   2                      F        fixed area: every fixed column at its
//                                   fixed_offset; a Null fixed column keeps
//                                   its bytes (zeros), only its mask bit is 0
//   2+F                    ..       variable column data in variable_index
//                                   order (Null and empty take no bytes)
//   ..                     pad      zeros, only when a row must keep the size
//                                   of the row it replaces (update in place)
//   end-nm-4-2m            2        eod: offset of the first byte after the
//                                   variable data
//   end-nm-4-2(m-1)..      2 each   start offset of variable column k,
//     end-nm-4                      k = m-1 down to 0
//   end-nm-2               2        m = variable columns
//   end-nm                 nm       null mask, (n+7)/8 bytes, bit = column
//                                   number, 1 = not Null; booleans: the value
// Tables without variable columns have no eod, offsets or m (H, F: every
// fixture with only fixed columns, e.g. the MSysACEs rows).
//
// Text (text and memo columns with the compressed-unicode flag) is written
// the way Access writes it: FF FE, then runs of one byte per character for
// characters U+0001..U+00FF and two bytes per character otherwise, a 0x00
// byte switching between the two; only when that is shorter than UCS-2 and
// every two-byte character's low byte is non-zero (a 0x00 there would read
// as a switch). Otherwise plain UCS-2 little-endian. (H: "Text Data Type";
// F: testV2000's text and memo values.)
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/table.h"

namespace jet {

// Rows may be at most this long (a page minus its header and one slot,
// and the 4-byte pointer a moved row needs).
inline constexpr std::size_t kMaxRowSize = 4060;
// Long values of at most this many bytes may stay inside their row.
inline constexpr std::size_t kMaxInlineLongValue = 64;

// Writes the pieces of long values (memo, OLE) to LVAL pages; implemented
// by the table writer over its page allocator.
class LongValueSink {
 public:
  virtual ~LongValueSink() = default;
  // Stores `bytes` as one row on a long-value page; returns its row pointer.
  virtual uint32_t add_long_value_row(std::span<const uint8_t> bytes) = 0;
};

// Checks `row` against the table's columns and converts each value to the
// alternative the column's type stores (an int32_t for a long column even
// when given as int16_t; a Currency for a whole-number integer; ...).
// Throws kConstraint naming the table, column and value for a value of the
// wrong type, out of range, text or binary longer than the column, and
// kInvalidArgument for a row with the wrong number of values.
Row normalize_row(const TableDef& def, const Row& row);

// The stored bytes of `row` (already normalized) into `out`. Long values are
// written through `sink` (inline when small). `min_size`: pad the row to at
// least this size. Throws kConstraint when the row exceeds kMaxRowSize.
void encode_row(const TableDef& def, const Row& row, LongValueSink& sink, std::vector<uint8_t>& out,
                std::size_t min_size = 0);

// Stored bytes of a text value for a column (compressed when it pays).
void encode_text(std::string_view utf8, bool compressible, std::vector<uint8_t>& out);

// The 12-byte long-value field (plus inline bytes) for `data`.
void encode_long_value(std::span<const uint8_t> data, bool allow_inline, LongValueSink& sink,
                       std::vector<uint8_t>& out);

// Number of UTF-16 code units of a UTF-8 text.
std::size_t utf16_units(std::string_view utf8);

}  // namespace jet
