// Internal: the layout of a Jet 4 data page (type 0x01), shared by table
// rows, long-value (LVAL) rows and usage-map rows.
//
//   offset size  field                                        known from
//   0x00   1     page type 0x01                               H, F
//   0x01   1     0x01                                         H
//   0x02   2     free space                                   H
//   0x04   4     owning table's definition page; "LVAL" on    H, F
//                long-value pages
//   0x08   4     unknown                                      H
//   0x0C   2     number of row slots                          H, F
//   0x0E   2n    row offsets; low 13 bits = start of the row. H, F
//                Flags: 0xC000 = deleted row (delTest);
//                0x4000 = lookup row: it holds the 4-byte row pointer
//                of where its data moved (overflowTest); 0x8000 alone =
//                that moved data, reached only through its lookup row
//                (scans skip it, so each row is seen once, at the slot
//                its index entries name).                     F
//
// Rows are stored from the end of the page downwards: row 0 ends at the page
// end, row i ends where row i-1 starts.
//
// A row pointer (in indexes, usage maps, long values, lookup rows) is 4
// bytes: the row number, then the 3-byte page number: (page << 8) | row.
#pragma once

#include <cstdint>
#include <string>

#include "binary.h"
#include "jet/error.h"
#include "page_source.h"

namespace jet {

inline constexpr uint8_t kPageTypeData = 0x01;
inline constexpr uint8_t kPageTypeTdef = 0x02;
inline constexpr uint8_t kPageTypeUsageMap = 0x05;
inline constexpr std::size_t kDataOffTdefPage = 0x04;
inline constexpr std::size_t kDataOffRowCount = 0x0C;
inline constexpr std::size_t kDataOffRowTable = 0x0E;
inline constexpr uint16_t kRowOffsetMask = 0x1FFF;
inline constexpr uint16_t kRowDeleted = 0x8000;
inline constexpr uint16_t kRowLookup = 0x4000;

struct RowSlot {
  uint16_t start = 0;  // first byte of the row within the page
  uint16_t end = 0;    // one past its last byte
  bool deleted = false;
  bool lookup = false;
};

inline uint32_t row_pointer_page(uint32_t ptr) { return ptr >> 8; }
inline uint8_t row_pointer_row(uint32_t ptr) { return static_cast<uint8_t>(ptr & 0xFF); }

// Number of row slots on a data page; throws kCorruption when the slot table
// would not fit the page.
inline uint16_t data_page_row_count(const uint8_t* page, const PageSource& src, uint32_t page_number) {
  uint16_t n = le16(page + kDataOffRowCount);
  if (kDataOffRowTable + 2u * n > kPageSize) {
    throw Error(ErrorCategory::kCorruption, src.file_name() + ": data page " + std::to_string(page_number) +
                                                " claims " + std::to_string(n) + " rows, more than fit a page");
  }
  return n;
}

// The bounds and flags of row `row` on a data page. Throws kCorruption when
// the row number or its offsets are impossible. Bounds of deleted slots are
// checked only when `need_bounds` is set: the target of a lookup row is
// itself flagged deleted (overflowTestV2000) and is read all the same.
inline RowSlot data_page_row(const uint8_t* page, uint32_t row, const PageSource& src, uint32_t page_number,
                             bool need_bounds = false) {
  uint16_t n = data_page_row_count(page, src, page_number);
  if (row >= n) {
    throw Error(ErrorCategory::kCorruption, src.file_name() + ": row " + std::to_string(row) + " of page " +
                                                std::to_string(page_number) + " does not exist (the page has " +
                                                std::to_string(n) + " rows)");
  }
  uint16_t raw = le16(page + kDataOffRowTable + 2 * row);
  RowSlot slot;
  slot.deleted = (raw & kRowDeleted) != 0;
  slot.lookup = (raw & kRowLookup) != 0;
  slot.start = raw & kRowOffsetMask;
  slot.end = row == 0 ? kPageSize : (le16(page + kDataOffRowTable + 2 * (row - 1)) & kRowOffsetMask);
  if (slot.deleted && !need_bounds) return slot;  // a deleted row's bytes are never read
  if (slot.start < kDataOffRowTable + 2u * n || slot.end > kPageSize || slot.start > slot.end) {
    throw Error(ErrorCategory::kCorruption, src.file_name() + ": row " + std::to_string(row) + " of page " +
                                                std::to_string(page_number) + " has impossible bounds " +
                                                std::to_string(slot.start) + ".." + std::to_string(slot.end));
  }
  return slot;
}

}  // namespace jet
