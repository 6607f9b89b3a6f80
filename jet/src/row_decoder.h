// Internal: turning a stored row into Values, column by column.
//
// Field encodings (Jet 4, little-endian):          known from
//   boolean    the null-mask bit                     H, F
//   byte 1, integer 2, long 4 (also counter)         H, F
//   currency 8: signed ten-thousandths               H, F
//   single 4, double 8: IEEE                         H, F
//   date/time 8: double days since 1899-12-30        H, F
//   text: UCS-2 or compressed (text_codec.h)         H, F
//   binary: bytes; memo/OLE: long_value.h            H, F
//   GUID 16: bytes as stored                         H, F
//   numeric 17: sign byte (non-zero = negative),     F (fixedNumericTest),
//     then four 32-bit little-endian words, most       and other Jet readers'
//     significant first; precision/scale in TDEF      notes
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/table.h"
#include "page_source.h"
#include "row_layout.h"

namespace jet {

// Reusable state for decoding the rows of one table.
class RowDecoder {
 public:
  RowDecoder(PageSource& pages, const TableDef& def);

  // Decodes `size` bytes at `row` into `out` (one Value per column; Values
  // already holding strings or bytes are reused). `row` must not point into
  // the page cache when the table has long-value columns (the decoder reads
  // further pages then); see needs_copy(). Throws kCorruption with `where`
  // (a function giving "file: table 'T' page P row R") in the text.
  void decode(const uint8_t* row, std::size_t size, Row& out, uint32_t page, uint32_t slot);

  // True when decoding may read other pages (memo/OLE columns).
  bool needs_copy() const { return has_long_values_; }

 private:
  [[noreturn]] void fail(const std::string& what, uint32_t page, uint32_t slot) const;
  std::string where(uint32_t page, uint32_t slot) const;

  PageSource& pages_;
  const TableDef& def_;
  RowShape shape_;
  std::vector<FieldSpan> spans_;
  std::vector<uint8_t> long_value_;
  bool has_long_values_ = false;
};

}  // namespace jet
