#include "header.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "binary.h"
#include "jet/error.h"
#include "page_source.h"
#include "rc4.h"
#include "text_codec.h"

namespace jet {

void toggle_header_mask(uint8_t* page0) { rc4_apply(kHeaderMaskKey, page0 + kHeaderMaskOffset, kHeaderMaskLength); }

namespace {

// The creation date truncated toward zero to a 32-bit integer, saturating
// like the Java/C# casts other Jet implementations use.
int32_t date_mask_value(double date) {
  if (std::isnan(date)) return 0;
  if (date >= 2147483647.0) return 2147483647;
  if (date <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int32_t>(date);
}

// The Access release behind an ACE version byte (H: 2 = ACE 12 ... 6).
std::string ace_version_name(uint32_t v) {
  switch (v) {
    case 2: return "Access 2007 (ACE 12, version 2)";
    case 3: return "Access 2010 (ACE 14, version 3)";
    case 4: return "Access 2013 (ACE 15, version 4)";
    case 5: return "Access 2016 (ACE 16, version 5)";
    case 6: return "Access 2019 (ACE 17, version 6)";
    default: return "Access 2007 or later (ACE version " + std::to_string(v) + ")";
  }
}

}  // namespace

DatabaseHeader parse_header(const uint8_t* raw, std::size_t size, const std::string& file_name) {
  if (size < kPageSize) {
    throw Error(ErrorCategory::kCorruption,
                file_name + ": not a Jet database: the file is " + std::to_string(size) +
                    " bytes long, shorter than one 4096-byte page");
  }
  static const char kJetMagic[] = "Standard Jet DB";
  static const char kAceMagic[] = "Standard ACE DB";
  if (raw[0] != 0x00 || (std::memcmp(raw + 4, kJetMagic, 15) != 0 && std::memcmp(raw + 4, kAceMagic, 15) != 0)) {
    throw Error(ErrorCategory::kCorruption,
                file_name + ": not a Jet database: page 0 lacks the \"Standard Jet DB\" signature");
  }
  DatabaseHeader h;
  // The version is the byte at 0x14; the bytes after it are not part of it
  // (Access 2010 and later files hold 0x01 at 0x15).
  h.jet_version = raw[kHeaderOffsetVersion];
  if (h.jet_version == 0) {
    throw Error(ErrorCategory::kUnsupported,
                file_name + ": Jet 3 (Access 97) databases are not supported; only Jet 4 (Access 2000/2002/2003)");
  }
  if (h.jet_version != 1) {
    throw Error(ErrorCategory::kUnsupported, file_name + ": " + ace_version_name(h.jet_version) +
                                                 " databases are not supported; only Jet 4 (Access 2000/2002/2003)");
  }
  uint8_t page[kHeaderMaskOffset + kHeaderMaskLength];
  std::memcpy(page, raw, sizeof page);
  toggle_header_mask(page);
  h.code_page = le16(page + kHeaderOffsetCodePage);
  h.database_key = le32(page + kHeaderOffsetDbKey);
  h.sort_order = le32(page + kHeaderOffsetSortOrder);
  h.creation_date = le_double(page + kHeaderOffsetCreationDate);

  uint8_t mask[4];
  put_le32(mask, static_cast<uint32_t>(date_mask_value(h.creation_date)));
  uint8_t pwd[kHeaderPasswordBytes];
  for (std::size_t i = 0; i < kHeaderPasswordBytes; ++i) pwd[i] = page[kHeaderOffsetPassword + i] ^ mask[i % 4];
  std::size_t chars = 0;
  while (chars < kHeaderPasswordBytes / 2 && (pwd[2 * chars] | pwd[2 * chars + 1]) != 0) ++chars;
  h.password = utf16le_to_utf8(pwd, chars * 2);
  return h;
}

void check_password(const DatabaseHeader& header, const std::string& given, const std::string& file_name) {
  if (header.password.empty()) return;
  if (given.empty()) {
    throw Error(ErrorCategory::kPassword,
                file_name + ": the database is password-protected and no password was given (connect string \";pwd=...\")");
  }
  if (given != header.password) {
    throw Error(ErrorCategory::kPassword, file_name + ": not a valid password for this database");
  }
}

}  // namespace jet
