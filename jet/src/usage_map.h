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
//          from i*32736
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "page_source.h"

namespace jet {

// Pages owned according to the map at `row_pointer`, ascending. `what`
// names the map's owner for messages ("table 'PRODUCT1'"). Throws
// kCorruption for unknown map types, bad pointers and pages past the end of
// the file.
std::vector<uint32_t> read_usage_map(PageSource& pages, uint32_t row_pointer, const std::string& what);

}  // namespace jet
