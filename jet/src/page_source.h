// Internal: the one way engine modules read pages of an open database file.
//
// The storage layer implements it (decrypting pages of encoded files, caching,
// checking bounds); the index module and the row reader only consume it, so
// each can be tested over an in-memory page array.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace jet {

inline constexpr std::size_t kPageSize = 4096;

class PageSource {
 public:
  virtual ~PageSource() = default;

  // The bytes of page `page_number` (kPageSize of them), valid until the next
  // call on this source. Throws jet::Error (kCorruption) naming the file and
  // page when the page lies beyond the end of the file.
  virtual const uint8_t* page(uint32_t page_number) = 0;

  // Number of whole pages in the file.
  virtual uint32_t page_count() const = 0;

  // The file's path, for error messages.
  virtual const std::string& file_name() const = 0;
};

}  // namespace jet
