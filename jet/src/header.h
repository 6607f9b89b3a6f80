// Internal: the database definition page (page 0) of a Jet 4 file.
//
// Jet 4 page 0 layout. Offsets in bytes from the start of the file. "Known
// from": H = format notes (HACKING.md), F = checked on every fixture in
// fixtures/jet4 (all Access 2000/2002 files decode to version 1, code page
// 0x4E4, sort order 0x409 and, where set, the documented password).
//
//   offset size  field                                          known from
//   0x00   1     page type, 0x00                                H, F
//   0x04   16    "Standard Jet DB\0" ("Standard ACE DB\0" = ACE) F
//   0x14   1     Jet version: 0 = Jet 3, 1 = Jet 4, 2..6 = ACE  H, F
//                (Access 2007 .. 2019); ACE files of Access 2010
//                on hold 0x01 in the next byte
//   0x18   128   RC4-masked region, key 0x6B39DAC7 (LE bytes    H (extent),
//                C7 DA 39 6B); fields below lie inside it and    F (key)
//                are read after unmasking
//   0x3C   2     default code page (0x04E4 = 1252)              H, F
//   0x3E   4     database key; non-zero = pages 1.. are RC4-    H, F (all
//                encrypted ("encode"), key = db key ^ page no.   fixtures 0)
//   0x42   40    database password, UCS-2, 20 chars, each byte  H, F
//                XOR-ed with the 4 little-endian bytes of the
//                creation date truncated to a 32-bit integer
//   0x6E   4     default text sort order (0x0409 = General)     H, F
//   0x72   8     creation date (double, days since 1899-12-30)  H, F
#pragma once

#include <cstdint>
#include <string>

namespace jet {

inline constexpr uint32_t kHeaderMaskKey = 0x6B39DAC7;
inline constexpr std::size_t kHeaderMaskOffset = 0x18;
inline constexpr std::size_t kHeaderMaskLength = 128;
inline constexpr std::size_t kHeaderOffsetVersion = 0x14;
inline constexpr std::size_t kHeaderOffsetCodePage = 0x3C;
inline constexpr std::size_t kHeaderOffsetDbKey = 0x3E;
inline constexpr std::size_t kHeaderOffsetPassword = 0x42;
inline constexpr std::size_t kHeaderPasswordBytes = 40;
inline constexpr std::size_t kHeaderOffsetSortOrder = 0x6E;
inline constexpr std::size_t kHeaderOffsetCreationDate = 0x72;

struct DatabaseHeader {
  uint32_t jet_version = 1;
  uint16_t code_page = 0x04E4;
  uint32_t sort_order = 0x0409;
  double creation_date = 0;
  uint32_t database_key = 0;  // non-zero: pages 1.. are RC4-encrypted
  std::string password;       // UTF-8; empty = no password set
};

// Masks or unmasks (the same operation) the RC4 region of a page-0 image.
void toggle_header_mask(uint8_t* page0);

// Decodes the header from a raw (masked) page-0 image of `size` bytes.
// Throws kCorruption naming `file_name` when the page is not a Jet database
// header, kUnsupported for Jet 3 and ACE (Access 2007+) files.
DatabaseHeader parse_header(const uint8_t* page0, std::size_t size, const std::string& file_name);

// Throws kPassword when `given` does not open a file with this header.
// A file without a password opens with any (Jet ignores it then).
void check_password(const DatabaseHeader& header, const std::string& given, const std::string& file_name);

}  // namespace jet
