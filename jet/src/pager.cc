#include "pager.h"

#include <algorithm>
#include <cstring>

#include "debug_check.h"
#include "file_locks.h"
#include "jet/error.h"
#include "journal.h"
#include "rc4.h"

namespace jet {

Pager::Pager(std::unique_ptr<File> file, std::size_t cache_pages, Env* env, bool writable)
    : file_(std::move(file)),
      env_(env ? env : Env::posix()),
      writable_(writable),
      capacity_(cache_pages < 16 ? 16 : cache_pages) {
  uint64_t size = file_->size();
  uint64_t pages = size / kPageSize;
  page_count_ = pages > UINT32_MAX - 1 ? UINT32_MAX - 1 : static_cast<uint32_t>(pages);
  committed_page_count_ = page_count_;
}

Pager::~Pager() {
  if (in_unit_) rollback();
  journal::close_journal(*this, sharing_.other_users && !sharing_.other_users().empty());
  release_writer_lock();
  if (reader_locked_) file_->unlock_range(file_locks::kReaderByte, 1);
}

// ---- sharing ----

void Pager::set_sharing(Sharing sharing) {
  sharing_ = std::move(sharing);
  // Not known yet: the first read operation or write unit reads the file's
  // size afresh under its lock, whatever another handle was doing while
  // this one opened.
  seen_counter_ = kUnknownCounter;
}

void Pager::throw_locked(const std::string& what) {
  std::string users = sharing_.other_users ? sharing_.other_users() : std::string();
  throw Error(ErrorCategory::kLocked, file_name() + ": locked: " + what +
                                          (users.empty() ? std::string() : " (it is open on " + users + ")") +
                                          "; gave up after " + std::to_string(sharing_.lock_timeout.count()) +
                                          " ms, try again later");
}

void Pager::revalidate() {
  uint64_t now = sharing_.commit_counter();
  if (now == seen_counter_) return;
  // Another handle committed, or began to and crashed: then its journal is
  // hot and the file must be played back before anyone reads it.
  if (sharing_.recover && sharing_.journal_hot && sharing_.journal_hot()) {
    // Hot while this handle holds the writer's or a reader's lock: no live
    // committer owns it (invariant 2); a crashed one left it.
    if (writer_locked_) {
      sharing_.recover(true);
    } else if (reader_locked_) {
      file_->unlock_range(file_locks::kReaderByte, 1);
      reader_locked_ = false;
      sharing_.recover(false);
      if (!file_locks::lock_reader_waiting(*file_, sharing_.lock_timeout)) {
        throw_locked("another program or connection is writing its changes into the database");
      }
      reader_locked_ = true;
      now = sharing_.commit_counter();
    }
  }
  seen_counter_ = now;
  invalidate();
  if (sharing_.reload) sharing_.reload();
}

void Pager::begin_read() {
  ++read_depth_;
  if (read_depth_ > 1 || !shared() || in_unit_) return;
  if (!file_locks::lock_reader_waiting(*file_, sharing_.lock_timeout)) {
    --read_depth_;
    throw_locked("another program or connection is writing its changes into the database");
  }
  reader_locked_ = true;
  try {
    revalidate();
  } catch (...) {
    end_read();
    throw;
  }
}

void Pager::end_read() noexcept {
  if (read_depth_ == 0) return;
  if (--read_depth_ > 0) return;
  if (reader_locked_ && !committing_) {
    file_->unlock_range(file_locks::kReaderByte, 1);
    reader_locked_ = false;
  }
}

void Pager::begin_file_writes() {
  if (!shared()) return;
  if (!file_locks::lock_waiting(*file_, file_locks::kPendingByte, LockKind::kExclusive, sharing_.lock_timeout)) {
    throw_locked("another program or connection keeps writing its changes into the database");
  }
  if (!file_locks::lock_waiting(*file_, file_locks::kReaderByte, LockKind::kExclusive, sharing_.lock_timeout)) {
    file_->unlock_range(file_locks::kPendingByte, 1);
    throw_locked("other programs or connections keep reading the database");
  }
  committing_ = true;
  try {
    sharing_.bump_commit_counter();
    seen_counter_ = sharing_.commit_counter();
  } catch (...) {
    end_file_writes();
    throw;
  }
}

void Pager::end_file_writes() noexcept {
  if (!committing_) return;
  committing_ = false;
  try {
    if (reader_locked_ && read_depth_ > 0) {
      // A read operation of ours is still running: back to a reader's lock.
      file_->try_lock_range(file_locks::kReaderByte, 1, LockKind::kShared);
    } else {
      file_->unlock_range(file_locks::kReaderByte, 1);
      reader_locked_ = false;
    }
    file_->unlock_range(file_locks::kPendingByte, 1);
  } catch (...) {
  }
}

bool Pager::try_writer_lock() {
  if (writer_locked_) return true;
  if (!file_->try_lock_range(file_locks::kWriterByte, 1, LockKind::kExclusive)) return false;
  writer_locked_ = true;
  return true;
}

void Pager::release_writer_lock() noexcept {
  if (!writer_locked_) return;
  try {
    file_->unlock_range(file_locks::kWriterByte, 1);
  } catch (...) {
  }
  writer_locked_ = false;
}

void Pager::invalidate() {
  if (in_unit_) {
    throw Error(ErrorCategory::kInvalidArgument, file_name() + ": cannot reload pages inside a transaction");
  }
  where_.clear();
  frame_page_.clear();
  frame_referenced_.clear();
  frame_dirty_.clear();
  frame_saved_.clear();
  free_frames_.clear();
  hand_ = 0;
  last_page_ = kNoPage;
  last_data_ = nullptr;
  page_count_ = static_cast<uint32_t>(file_->size() / kPageSize);
  committed_page_count_ = page_count_;
}

uint32_t Pager::take_frame(uint32_t page_number) {
  uint32_t frame;
  if (!free_frames_.empty()) {
    frame = free_frames_.back();
    free_frames_.pop_back();
  } else if (frame_page_.size() < capacity_ || dirty_count_ + capacity_ / 8 >= frame_page_.size()) {
    // Below capacity, or nearly every frame pinned by dirty pages: grow.
    frame = static_cast<uint32_t>(frame_page_.size());
    frame_page_.push_back(kNoPage);
    frame_referenced_.push_back(0);
    frame_dirty_.push_back(0);
    frame_saved_.push_back(0);
    if (chunks_.size() * kFramesPerChunk < frame_page_.size())
      chunks_.push_back(std::make_unique<uint8_t[]>(kFramesPerChunk * kPageSize));
  } else {
    // Clock sweep over clean frames; at least one in eight frames is clean.
    for (;;) {
      if (hand_ >= frame_page_.size()) hand_ = 0;
      if (!frame_dirty_[hand_]) {
        if (frame_referenced_[hand_] == 0) break;
        frame_referenced_[hand_] = 0;
      }
      ++hand_;
    }
    frame = static_cast<uint32_t>(hand_++);
    JET_DEBUG_CHECK(!frame_dirty_[frame], "a dirty page stays pinned in the cache until its unit ends");
    if (frame_page_[frame] != kNoPage) where_.erase(frame_page_[frame]);
    if (frame_page_[frame] == last_page_) {
      last_page_ = kNoPage;
      last_data_ = nullptr;
    }
  }
  frame_page_[frame] = page_number;
  frame_referenced_[frame] = 1;
  frame_dirty_[frame] = 0;
  frame_saved_[frame] = 0;
  return frame;
}

void Pager::drop_frame(uint32_t frame) {
  uint32_t page_number = frame_page_[frame];
  if (page_number == kNoPage) return;
  where_.erase(page_number);
  if (frame_dirty_[frame]) --dirty_count_;
  frame_page_[frame] = kNoPage;
  frame_referenced_[frame] = 0;
  frame_dirty_[frame] = 0;
  frame_saved_[frame] = 0;
  free_frames_.push_back(frame);
  if (last_page_ == page_number) {
    last_page_ = kNoPage;
    last_data_ = nullptr;
  }
}

uint32_t Pager::load(uint32_t page_number) {
  auto it = where_.find(page_number);
  if (it != where_.end()) {
    frame_referenced_[it->second] = 1;
    return it->second;
  }
  if (page_number >= page_count_) {
    throw Error(ErrorCategory::kCorruption, file_name() + ": page " + std::to_string(page_number) +
                                                " is beyond the end of the file (" + std::to_string(page_count_) +
                                                " pages)");
  }
  uint32_t frame = take_frame(page_number);
  uint8_t* data = frame_data(frame);
  std::size_t got;
  try {
    got = file_->read_at(uint64_t(page_number) * kPageSize, kPageSize, data);
  } catch (...) {
    frame_page_[frame] = kNoPage;
    free_frames_.push_back(frame);
    throw;
  }
  if (got != kPageSize) {
    frame_page_[frame] = kNoPage;
    free_frames_.push_back(frame);
    throw Error(ErrorCategory::kCorruption,
                file_name() + ": page " + std::to_string(page_number) + " is cut short (file truncated)");
  }
  if (encoding_key_ != 0 && page_number != 0) rc4_apply(encoding_key_ ^ page_number, data, kPageSize);
  where_[page_number] = frame;
  return frame;
}

const uint8_t* Pager::page(uint32_t page_number) {
  if (page_number == last_page_) return last_data_;
  uint32_t frame = load(page_number);
  last_page_ = page_number;
  last_data_ = frame_data(frame);
  return last_data_;
}

// ---- write units ----

void Pager::require_unit(const char* what) const {
  if (!in_unit_) {
    throw Error(ErrorCategory::kInvalidArgument,
                file_name() + ": " + what + " outside a transaction or write scope");
  }
}

void Pager::begin(bool explicit_transaction) {
  if (!writable_) {
    throw Error(ErrorCategory::kInvalidArgument,
                file_name() + ": the database is open read-only; open it with read_write to change it");
  }
  if (!broken_.empty()) throw Error(ErrorCategory::kIo, file_name() + ": " + broken_);
  if (in_unit_) {
    throw Error(ErrorCategory::kInvalidArgument, file_name() + ": a transaction is already open on this database");
  }
  if (shared()) {
    if (!file_locks::lock_writer_waiting(*file_, sharing_.lock_timeout)) {
      throw_locked("another program or connection is changing the database");
    }
    writer_locked_ = true;
    try {
      revalidate();
    } catch (...) {
      release_writer_lock();
      throw;
    }
  }
  in_unit_ = true;
  explicit_ = explicit_transaction;
  committed_page_count_ = page_count_;
}

uint8_t* Pager::page_for_write(uint32_t page_number) {
  require_unit("page written");
  uint32_t frame = load(page_number);
  uint8_t* data = frame_data(frame);
  if (!savepoints_.empty() && frame_saved_[frame] != savepoints_.back().sp.id) save_page_image(frame, page_number);
  if (!frame_dirty_[frame]) {
    frame_dirty_[frame] = 1;
    ++dirty_count_;
    dirty_list_.push_back(page_number);
  }
  return data;
}

void Pager::save_page_image(uint32_t frame, uint32_t page_number) {
  ActiveSavepoint& top = savepoints_.back();
  frame_saved_[frame] = top.sp.id;
  // Pages appended under it go with its page count.
  if (page_number >= top.sp.page_count) return;
  if (top.tracked && !top.saved.insert(page_number).second) return;
  const uint8_t* data = frame_data(frame);
  std::size_t offset = undo_bytes_.size();
  undo_bytes_.insert(undo_bytes_.end(), data, data + kPageSize);
  undo_.push_back(Undo{page_number, frame_dirty_[frame] != 0, offset});
}

uint32_t Pager::append_page() {
  require_unit("page appended");
  if (page_count_ >= UINT32_MAX - 2) {
    throw Error(ErrorCategory::kInvalidArgument, file_name() + ": the file cannot grow past " +
                                                     std::to_string(page_count_) + " pages");
  }
  uint32_t page_number = page_count_;
  // A page past the end may still be cached from a rolled-back append.
  auto it = where_.find(page_number);
  if (it != where_.end()) drop_frame(it->second);
  uint32_t frame = take_frame(page_number);
  std::memset(frame_data(frame), 0, kPageSize);
  where_[page_number] = frame;
  frame_dirty_[frame] = 1;
  ++dirty_count_;
  dirty_list_.push_back(page_number);
  // Rolling back to any open savepoint drops the page by the page count.
  frame_saved_[frame] = savepoints_.empty() ? 0 : savepoints_.back().sp.id;
  ++page_count_;
  return page_number;
}

bool Pager::is_dirty(uint32_t page_number) const {
  auto it = where_.find(page_number);
  return it != where_.end() && frame_dirty_[it->second];
}

std::vector<uint32_t> Pager::dirty_pages() const {
  std::vector<uint32_t> out;
  out.reserve(dirty_count_);
  for (uint32_t p : dirty_list_) {
    if (is_dirty(p)) out.push_back(p);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

void Pager::file_image(uint32_t page_number, uint8_t* out) {
  auto it = where_.find(page_number);
  if (it == where_.end()) {
    throw Error(ErrorCategory::kInvalidArgument,
                file_name() + ": page " + std::to_string(page_number) + " is not in the cache");
  }
  std::memcpy(out, frame_data(it->second), kPageSize);
  if (encoding_key_ != 0 && page_number != 0) rc4_apply(encoding_key_ ^ page_number, out, kPageSize);
}

Savepoint Pager::savepoint() {
  require_unit("savepoint taken");
  if (!savepoints_.empty()) {
    ActiveSavepoint& top = savepoints_.back();
    if (top.sp.undo_mark == undo_.size() && top.sp.page_count == page_count_) {
      // Nothing changed since the enclosing savepoint: the same state.
      ++top.aliases;
      return top.sp;
    }
  }
  Savepoint sp{next_savepoint_id_++, undo_.size(), page_count_};
  savepoints_.push_back(ActiveSavepoint{sp, false, {}, 0});
  return sp;
}

void Pager::rollback_to(const Savepoint& sp) {
  require_unit("savepoint rolled back");
  auto pos = std::find_if(savepoints_.begin(), savepoints_.end(),
                          [&](const ActiveSavepoint& s) { return s.sp.id == sp.id; });
  if (pos == savepoints_.end()) {
    throw Error(ErrorCategory::kInvalidArgument, file_name() + ": rollback to a savepoint that is no longer active");
  }
  // Pages appended since the savepoint go first; the undo log may name them
  // too (changed under a later savepoint), and those entries are skipped.
  for (uint32_t p = sp.page_count; p < page_count_; ++p) {
    auto it = where_.find(p);
    if (it != where_.end()) drop_frame(it->second);
  }
  page_count_ = sp.page_count;
  for (std::size_t i = undo_.size(); i > sp.undo_mark; --i) {
    const Undo& u = undo_[i - 1];
    if (u.page >= page_count_) continue;
    auto it = where_.find(u.page);
    uint32_t frame;
    if (it == where_.end()) {
      // Cannot happen (dirty pages stay cached), but a clean page that was
      // evicted would simply be reread from the file.
      if (!u.was_dirty) continue;
      frame = take_frame(u.page);
      where_[u.page] = frame;
    } else {
      frame = it->second;
    }
    std::memcpy(frame_data(frame), undo_bytes_.data() + u.offset, kPageSize);
    if (u.was_dirty && !frame_dirty_[frame]) {
      frame_dirty_[frame] = 1;
      ++dirty_count_;
      dirty_list_.push_back(u.page);
    } else if (!u.was_dirty && frame_dirty_[frame]) {
      frame_dirty_[frame] = 0;
      --dirty_count_;
    }
    frame_saved_[frame] = 0;
  }
  undo_.resize(sp.undo_mark);
  undo_bytes_.resize(undo_.empty() ? 0 : undo_.back().offset + kPageSize);
  // Savepoints taken after sp are gone; sp stays, with nothing saved under it.
  JET_DEBUG_CHECK(count_dirty_frames() == dirty_count_, "a savepoint rollback keeps the dirty count");
  pos->saved.clear();
  savepoints_.erase(pos + 1, savepoints_.end());
  last_page_ = kNoPage;
  last_data_ = nullptr;
}

void Pager::release(const Savepoint& sp) {
  auto pos = std::find_if(savepoints_.begin(), savepoints_.end(),
                          [&](const ActiveSavepoint& s) { return s.sp.id == sp.id; });
  if (pos == savepoints_.end()) return;
  if (pos->aliases > 0) {
    --pos->aliases;
    return;
  }
  savepoints_.erase(pos, savepoints_.end());
  if (savepoints_.empty()) {
    undo_.clear();
    undo_bytes_.clear();
    return;
  }
  // The images taken since sp now undo the enclosing savepoint's changes:
  // keep the first image of each page it had not saved itself.
  ActiveSavepoint& parent = savepoints_.back();
  if (!parent.tracked) {
    for (std::size_t i = parent.sp.undo_mark; i < sp.undo_mark; ++i) parent.saved.insert(undo_[i].page);
    parent.tracked = true;
  }
  std::size_t kept = sp.undo_mark;
  for (std::size_t i = sp.undo_mark; i < undo_.size(); ++i) {
    const Undo u = undo_[i];
    if (u.page >= parent.sp.page_count || !parent.saved.insert(u.page).second) continue;
    const std::size_t offset = kept == 0 ? 0 : undo_[kept - 1].offset + kPageSize;
    if (offset != u.offset) std::memmove(undo_bytes_.data() + offset, undo_bytes_.data() + u.offset, kPageSize);
    undo_[kept++] = Undo{u.page, u.was_dirty, offset};
  }
  undo_.resize(kept);
  undo_bytes_.resize(undo_.empty() ? 0 : undo_.back().offset + kPageSize);
}

void Pager::mark_committed() {
  JET_DEBUG_CHECK(in_unit_, "only a write unit commits");
  JET_DEBUG_CHECK(count_dirty_frames() == dirty_count_, "every dirty page is counted");
  for (uint32_t p : dirty_list_) {
    auto it = where_.find(p);
    if (it != where_.end() && frame_dirty_[it->second]) {
      frame_dirty_[it->second] = 0;
      frame_saved_[it->second] = 0;
    }
  }
  dirty_list_.clear();
  dirty_count_ = 0;
  undo_.clear();
  undo_bytes_.clear();
  savepoints_.clear();
  committed_page_count_ = page_count_;
  in_unit_ = false;
  explicit_ = false;
  JET_DEBUG_CHECK(count_dirty_frames() == 0, "every dirty page is listed in the unit's dirty list");
  release_writer_lock();
}

void Pager::rollback() noexcept {
  for (uint32_t p : dirty_list_) {
    auto it = where_.find(p);
    if (it != where_.end() && frame_dirty_[it->second]) drop_frame(it->second);
  }
  for (uint32_t p = committed_page_count_; p < page_count_; ++p) {
    auto it = where_.find(p);
    if (it != where_.end()) drop_frame(it->second);
  }
  dirty_list_.clear();
  dirty_count_ = 0;
  undo_.clear();
  undo_bytes_.clear();
  savepoints_.clear();
  page_count_ = committed_page_count_;
  in_unit_ = false;
  explicit_ = false;
  last_page_ = kNoPage;
  last_data_ = nullptr;
  JET_DEBUG_CHECK(count_dirty_frames() == 0, "a rolled-back unit leaves no dirty page in the cache");
  release_writer_lock();
}

std::size_t Pager::count_dirty_frames() const {
  std::size_t n = 0;
  for (uint8_t d : frame_dirty_) n += d != 0;
  return n;
}

void Pager::commit() {
  require_unit("commit");
  Pager* self = this;
  journal::commit_units({self});
}

// ---- WriteScope ----

WriteScope::WriteScope(Pager& pager) : pager_(pager) {
  if (pager_.in_unit()) {
    sp_ = pager_.savepoint();
  } else {
    pager_.begin(/*explicit_transaction=*/false);
    own_unit_ = true;
  }
}

WriteScope::~WriteScope() {
  if (done_) return;
  if (own_unit_) {
    pager_.rollback();
  } else if (pager_.in_unit()) {
    try {
      pager_.rollback_to(sp_);
      pager_.release(sp_);
    } catch (...) {
    }
  }
}

void WriteScope::commit() {
  if (done_) return;
  if (own_unit_) {
    done_ = true;  // a failed commit has already rolled the unit back
    pager_.commit();
  } else {
    pager_.release(sp_);
    done_ = true;
  }
}

}  // namespace jet
