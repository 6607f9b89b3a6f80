#include "pager.h"

#include "jet/error.h"
#include "rc4.h"

namespace jet {

Pager::Pager(std::unique_ptr<File> file, std::size_t cache_pages)
    : file_(std::move(file)), capacity_(cache_pages < 16 ? 16 : cache_pages) {
  uint64_t size = file_->size();
  uint64_t pages = size / kPageSize;
  page_count_ = pages > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(pages);
}

void Pager::invalidate() {
  where_.clear();
  frame_page_.clear();
  frame_referenced_.clear();
  hand_ = 0;
  last_page_ = UINT32_MAX;
  last_data_ = nullptr;
  page_count_ = static_cast<uint32_t>(file_->size() / kPageSize);
}

const uint8_t* Pager::page(uint32_t page_number) {
  if (page_number == last_page_) return last_data_;
  auto it = where_.find(page_number);
  if (it != where_.end()) {
    frame_referenced_[it->second] = 1;
    last_page_ = page_number;
    last_data_ = frame_data(it->second);
    return last_data_;
  }
  if (page_number >= page_count_) {
    throw Error(ErrorCategory::kCorruption, file_name() + ": page " + std::to_string(page_number) +
                                                " is beyond the end of the file (" + std::to_string(page_count_) +
                                                " pages)");
  }
  uint32_t frame;
  if (frame_page_.size() < capacity_) {
    frame = static_cast<uint32_t>(frame_page_.size());
    frame_page_.push_back(page_number);
    frame_referenced_.push_back(1);
    if (chunks_.size() * kFramesPerChunk < frame_page_.size())
      chunks_.push_back(std::make_unique<uint8_t[]>(kFramesPerChunk * kPageSize));
  } else {
    for (;;) {
      if (hand_ >= frame_page_.size()) hand_ = 0;
      if (frame_referenced_[hand_] == 0) break;
      frame_referenced_[hand_] = 0;
      ++hand_;
    }
    frame = static_cast<uint32_t>(hand_++);
    where_.erase(frame_page_[frame]);
    frame_page_[frame] = page_number;
    frame_referenced_[frame] = 1;
  }
  uint8_t* data = frame_data(frame);
  std::size_t got;
  try {
    got = file_->read_at(uint64_t(page_number) * kPageSize, kPageSize, data);
  } catch (...) {
    frame_page_[frame] = UINT32_MAX;
    throw;
  }
  if (got != kPageSize) {
    frame_page_[frame] = UINT32_MAX;
    throw Error(ErrorCategory::kCorruption,
                file_name() + ": page " + std::to_string(page_number) + " is cut short (file truncated)");
  }
  if (encoding_key_ != 0 && page_number != 0) rc4_apply(encoding_key_ ^ page_number, data, kPageSize);
  where_[page_number] = frame;
  last_page_ = page_number;
  last_data_ = data;
  return data;
}

}  // namespace jet
