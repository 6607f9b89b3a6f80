// Internal: pages of one open database file, decrypted and cached.
//
// The pager owns the File. Page 0 is returned as stored (its header region
// masked); pages 1.. of "encoded" files are RC4-decrypted with the key
// database key ^ page number before anyone sees them.
//
// Pointers returned by page() stay valid until the pager evicts that page,
// which happens only when more than `cache_pages` distinct pages are used;
// callers that need two pages at once copy one of them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/env.h"
#include "page_source.h"

namespace jet {

class Pager final : public PageSource {
 public:
  // Throws kIo when the file's size cannot be read.
  Pager(std::unique_ptr<File> file, std::size_t cache_pages);

  // Non-zero: pages 1.. are RC4-encrypted with key ^ page number.
  void set_encoding_key(uint32_t key) { encoding_key_ = key; }

  const uint8_t* page(uint32_t page_number) override;
  uint32_t page_count() const override { return page_count_; }
  const std::string& file_name() const override { return file_->path(); }

  File& file() { return *file_; }
  // Forgets every cached page (after writes by someone else).
  void invalidate();

 private:
  std::unique_ptr<File> file_;
  uint32_t page_count_ = 0;
  uint32_t encoding_key_ = 0;
  std::size_t capacity_;
  static constexpr std::size_t kFramesPerChunk = 64;
  uint8_t* frame_data(uint32_t frame) {
    return chunks_[frame / kFramesPerChunk].get() + (frame % kFramesPerChunk) * kPageSize;
  }
  // Frames are allocated in fixed chunks so that growing never moves a page.
  std::vector<std::unique_ptr<uint8_t[]>> chunks_;
  std::vector<uint32_t> frame_page_;     // page held by each frame
  std::vector<uint8_t> frame_referenced_;
  std::unordered_map<uint32_t, uint32_t> where_;  // page -> frame
  std::size_t hand_ = 0;                 // clock hand for eviction
  uint32_t last_page_ = UINT32_MAX;      // one-entry lookup cache
  const uint8_t* last_data_ = nullptr;
};

}  // namespace jet
