// Internal: memo and OLE ("long") values.
//
// In the row, a long value is a 12-byte header in the variable area:
//   +0  4  length of the value (low 30 bits)                   H, F
//   +3     top bits of byte 3, storage: 0x80 inline (the value follows at +12),    H, F
//          0x40 one LVAL row, 0x00 a chain of LVAL rows        (testV2000,
//                                                               products)
//   +4  4  row pointer of the (first) LVAL row                 H, F
//   +8  4  unused
// LVAL rows live on data pages whose table field reads "LVAL". A row of a
// chain starts with the 4-byte row pointer of the next row (0 = last),
// followed by that piece of the value; a single-row value is all data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "page_source.h"

namespace jet {

inline constexpr std::size_t kLongValueHeader = 12;
inline constexpr uint8_t kLongValueInline = 0x80;
inline constexpr uint8_t kLongValueSingle = 0x40;

// Names the place a long value comes from, built only when an error is
// reported (so reading does not format strings per value).
class ValueWhere {
 public:
  virtual ~ValueWhere() = default;
  virtual std::string describe() const = 0;
};

// Reads the whole value whose row field is `field` (`size` bytes) into `out`
// (replacing its contents). `where` prefixes error messages. Throws
// kCorruption for bad pointers, chains that loop or end early, and lengths
// that do not match.
void read_long_value(PageSource& pages, const uint8_t* field, std::size_t size, std::vector<uint8_t>& out,
                     const ValueWhere& where);

}  // namespace jet
