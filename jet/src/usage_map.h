// Internal: page usage maps, the bitmaps that say which pages a table or an
// index owns. A map is itself a row on a data page, named by a row pointer.
//
//   Inline map (type 0x00)                                    known from
//   +0  1  0x00                                               H, F
//   +1  4  first page the bitmap describes                    H, F
//   +5  .. bitmap to the end of the row; bit k (LSB first) =  H, F
//          page (first + k) is owned
//
//   Reference map (type 0x01)                                 H, F (products_*:
//   +0  1  0x01                                                 PRODUCT1)
//   +1  4n pages of type 0x05, each a bitmap from byte 4
//          covering (4096-4)*8 pages: map page i covers pages
//          from i*32736. A pointer of 0 means no map page: no page
//          of that range is listed. Pointers that cannot be a page
//          number (page numbers are 24 bits wide everywhere else)
//          count as 0 (F: testRefGlobalV2000, whose page map holds
//          0xFFFFFF80 in its last pointer).
//
// The file's page map (page 1, row 0) has the same two forms, but its set
// bits are FREE pages. Inline: pages past the bitmap's end are free (Access
// sets the bits of pages past the end of the file). Reference: pages of a
// range without a map page are in use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "page_source.h"

namespace jet {

inline constexpr std::size_t kMapPageBitmapOffset = 4;
inline constexpr uint32_t kPagesPerMapPage = (kPageSize - kMapPageBitmapOffset) * 8;
inline constexpr uint8_t kMapTypeInline = 0x00;
inline constexpr uint8_t kMapTypeReference = 0x01;

// Whether a reference map's pointer names a map page (see above).
inline bool names_map_page(uint32_t pointer) { return pointer != 0 && pointer < (1u << 24); }

// Pages owned according to the map at `row_pointer`, ascending. `what`
// names the map's owner for messages ("table 'PRODUCT1'"). Throws
// kCorruption for unknown map types, bad pointers and pages past the end of
// the file.
std::vector<uint32_t> read_usage_map(PageSource& pages, uint32_t row_pointer, const std::string& what);

// Pages a usage map lists at or past the end of the file (which
// read_usage_map leaves out): a sign of a truncated file. Same errors.
std::vector<uint32_t> usage_map_pages_past_end(PageSource& pages, uint32_t row_pointer, const std::string& what);

// The file's page map, read once (the consistency check; compaction).
struct FreePageMap {
  bool reference = false;
  // Inline form.
  uint32_t start = 0;
  std::vector<uint8_t> bits;
  // Reference form: one bitmap per pointer slot (empty: no map page).
  std::vector<std::vector<uint8_t>> ranges;
  // Pointers of the reference form (0: none).
  std::vector<uint32_t> map_pages;

  bool is_free(uint32_t page) const;
};

// Reads page 1, row 0. Throws kCorruption when page 1 is no data page, has
// no row, the row's type is unknown, or a map page is missing or of another
// type.
FreePageMap read_free_page_map(PageSource& pages);

}  // namespace jet
