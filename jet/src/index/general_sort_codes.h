// Internal: per-character codes of the "General" text sort order of Access
// 2000 files, one entry per UTF-16 code unit.
//
// The table is generated at build time (gen_general_sort_codes.cc) from the
// format notes' code tables, where each line describes one code unit:
//   X            ignored: contributes nothing to the key
//   S<hex>       simple: inline sort bytes
//   I<hex>,<hex> international: inline sort bytes (the base letter) and
//                "extra" bytes (the accent) that go after the text
//   U<hex>       unprintable: no inline bytes; a positioned code after the text
//   P<hex>       unprintable modifier: added to the last extra byte
//   Z<hex>,<hex>,<f> international with an extended ("crazy") flag: inline
//                bytes, optional extra bytes, and flag f ("1" or empty)
// Surrogate code units are not in the tables.
#pragma once

#include <cstdint>

namespace jet::index {

enum class SortCodeKind : uint8_t {
  kIgnored = 0,
  kSimple = 1,
  kInternational = 2,
  kUnprintable = 3,
  kUnprintableModifier = 4,
  kInternationalFlagged = 5,
  kUnsupported = 6,  // surrogate code units: not expressible
};

struct SortCode {
  SortCodeKind kind;
  uint8_t inline_length;  // 0..4
  uint8_t extra_length;   // 0..2
  uint8_t aux;            // unprintable: code byte; modifier: amount; flagged: flag (2 or 3)
  uint8_t inline_bytes[4];
  uint8_t extra_bytes[2];
};

extern const SortCode kGeneralSortCodes[65536];

}  // namespace jet::index
