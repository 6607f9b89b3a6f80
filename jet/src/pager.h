// Internal: pages of one open database file, decrypted and cached, and the
// write path over them.
//
// Reading. The pager owns the File. Page 0 is returned as stored (its header
// region masked); pages 1.. of "encoded" files are RC4-decrypted with the key
// database key ^ page number before anyone sees them. Pointers returned by
// page() stay valid until the pager evicts that page, which happens only when
// more than `cache_pages` distinct clean pages are used; callers that need two
// pages at once copy one of them.
//
// Writing. Every change happens inside a write unit: an explicit transaction
// (jet::Transaction) or an auto-commit unit that a WriteScope opens for one
// statement or record update. Within a unit:
//   - page_for_write(n) returns the cached page n for changing in place. The
//     page becomes dirty and is pinned in the cache (never evicted) until the
//     unit commits or rolls back, so the pointer, and any pointer page(n)
//     returned, stays valid for the rest of the unit.
//   - append_page() adds a zeroed dirty page at the end of the file.
//   - savepoint() / rollback_to() undo the changes of one failed statement
//     (a refused duplicate key, a full disk) without touching the rest of
//     the unit; release() forgets a savepoint of a statement that worked.
// Nothing reaches the file before the unit commits. commit() writes the unit
// through the rollback journal (journal.h) and leaves the file as of the
// commit; rollback() forgets every change. A failed commit leaves the file as
// it was before the unit (played back from the journal) and the unit rolled
// back in memory; it throws the error that stopped it.
//
// Encoded files: dirty pages are re-encrypted with the page's RC4 key on
// their way to the file; the journal stores pages as the file holds them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/env.h"
#include "jet/transaction.h"
#include "page_source.h"

namespace jet {

class Env;

// A point inside a write unit to which the unit can be rolled back.
struct Savepoint {
  uint64_t id = 0;
  std::size_t undo_mark = 0;
  uint32_t page_count = 0;
};

class Pager final : public PageSource {
 public:
  // `env` is where the journal goes (the File came from it). `writable`:
  // the File was opened read-write. Throws kIo when the file's size cannot
  // be read.
  Pager(std::unique_ptr<File> file, std::size_t cache_pages, Env* env = nullptr, bool writable = false);
  ~Pager() override;

  // Non-zero: pages 1.. are RC4-encrypted with key ^ page number.
  void set_encoding_key(uint32_t key) { encoding_key_ = key; }
  uint32_t encoding_key() const { return encoding_key_; }

  // ---- reading (PageSource) ----
  const uint8_t* page(uint32_t page_number) override;
  uint32_t page_count() const override { return page_count_; }
  const std::string& file_name() const override { return file_->path(); }

  File& file() { return *file_; }
  Env& env() { return *env_; }
  bool writable() const { return writable_; }
  // Forgets every cached page (after writes by someone else). Not allowed
  // inside a write unit.
  void invalidate();

  // ---- write units ----
  // Starts a write unit. `explicit_transaction`: it belongs to a
  // jet::Transaction (WriteScopes inside it then take savepoints instead of
  // committing). Throws kInvalidArgument when the file is read-only or a
  // unit is already open.
  void begin(bool explicit_transaction);
  bool in_unit() const { return in_unit_; }
  bool in_transaction() const { return in_unit_ && explicit_; }

  // Writes the unit to the file through the rollback journal and ends it.
  // On failure the file is as before the unit, the unit is rolled back, and
  // the error is rethrown.
  void commit();
  // Forgets every change of the unit and ends it. Never throws.
  void rollback() noexcept;

  // The page `page_number` for changing in place, dirty and pinned until the
  // unit ends. Throws kInvalidArgument outside a unit, kCorruption for a
  // page beyond the end of the file.
  uint8_t* page_for_write(uint32_t page_number);
  // Appends a zeroed dirty page and returns its number.
  uint32_t append_page();
  // Whether `page_number` has been changed in this unit.
  bool is_dirty(uint32_t page_number) const;
  std::size_t dirty_page_count() const { return dirty_count_; }

  // Statement savepoints; nest like a stack. rollback_to() restores every
  // page (and the page count) to what it was at `sp` and keeps `sp` active;
  // release() drops `sp` and every savepoint taken after it.
  Savepoint savepoint();
  void rollback_to(const Savepoint& sp);
  void release(const Savepoint& sp);

  Durability durability() const { return durability_; }
  void set_durability(Durability d) { durability_ = d; }

  // ---- for the journal (journal.cc) ----
  // Page count of the file when the unit began (pages at or past it are new).
  uint32_t committed_page_count() const { return committed_page_count_; }
  // Numbers of the dirty pages, ascending.
  std::vector<uint32_t> dirty_pages() const;
  // The image of a dirty page as it goes to the file (encrypted for encoded
  // files) written into `out` (kPageSize bytes).
  void file_image(uint32_t page_number, uint8_t* out);
  // After the pages reached the file: dirty pages become clean cached pages
  // and the unit ends.
  void mark_committed();
  // The journal found the file in a state it could not restore (a failed
  // playback); every later write unit is refused until the file is opened
  // again, which recovers it.
  void set_broken(const std::string& why) { broken_ = why; }
  // The open journal file; created by the first commit, kept (cold)
  // between commits, removed when the pager closes.
  std::unique_ptr<File>& journal_file() { return journal_file_; }
  const std::string& broken() const { return broken_; }

 private:
  static constexpr uint32_t kNoPage = UINT32_MAX;
  static constexpr std::size_t kFramesPerChunk = 64;
  uint8_t* frame_data(uint32_t frame) {
    return chunks_[frame / kFramesPerChunk].get() + (frame % kFramesPerChunk) * kPageSize;
  }
  // A frame for `page_number` (not cached yet): a free frame, a new one, or
  // an evicted clean one. Dirty frames are never evicted; when every frame
  // is dirty the cache grows past its capacity.
  uint32_t take_frame(uint32_t page_number);
  void drop_frame(uint32_t frame);
  // Frame of a cached page, loading it when needed.
  uint32_t load(uint32_t page_number);
  void require_unit(const char* what) const;
  // Frames holding a dirty page (debug checks compare it with dirty_count_).
  std::size_t count_dirty_frames() const;

  std::unique_ptr<File> file_;
  Env* env_;
  bool writable_;
  uint32_t page_count_ = 0;
  uint32_t encoding_key_ = 0;
  std::size_t capacity_;
  // Frames are allocated in fixed chunks so that growing never moves a page.
  std::vector<std::unique_ptr<uint8_t[]>> chunks_;
  std::vector<uint32_t> frame_page_;     // page held by each frame, kNoPage = free
  std::vector<uint8_t> frame_referenced_;
  std::vector<uint8_t> frame_dirty_;
  std::vector<uint64_t> frame_saved_;    // savepoint id under which the frame's image was saved
  std::vector<uint32_t> free_frames_;
  std::unordered_map<uint32_t, uint32_t> where_;  // page -> frame
  std::size_t hand_ = 0;                 // clock hand for eviction
  uint32_t last_page_ = kNoPage;         // one-entry lookup cache
  const uint8_t* last_data_ = nullptr;

  // Write unit state.
  bool in_unit_ = false;
  bool explicit_ = false;
  uint32_t committed_page_count_ = 0;
  std::vector<uint32_t> dirty_list_;  // may hold pages no longer dirty; dirty_pages() filters
  std::size_t dirty_count_ = 0;
  Durability durability_ = Durability::kDurable;
  std::string broken_;
  std::unique_ptr<File> journal_file_;

  // Savepoint undo log: the image of a page the first time it changes under
  // each savepoint, restored newest first by rollback_to().
  struct Undo {
    uint32_t page;
    bool was_dirty;
    std::size_t offset;  // into undo_bytes_
  };
  std::vector<Undo> undo_;
  std::vector<uint8_t> undo_bytes_;
  std::vector<Savepoint> savepoints_;
  uint64_t next_savepoint_id_ = 1;
};

// One statement or record update. Outside an explicit transaction it opens
// an auto-commit unit that commit() writes to the file; inside one it takes
// a savepoint that commit() releases. Destroyed without commit() (an error
// was thrown), it undoes everything done since it opened.
//
//   WriteScope scope(pager);
//   ... page_for_write / append_page ...
//   scope.commit();
class WriteScope {
 public:
  // Throws kInvalidArgument for a read-only file (naming it).
  explicit WriteScope(Pager& pager);
  ~WriteScope();
  WriteScope(const WriteScope&) = delete;
  WriteScope& operator=(const WriteScope&) = delete;

  void commit();

 private:
  Pager& pager_;
  bool own_unit_ = false;
  bool done_ = false;
  Savepoint sp_;
};

}  // namespace jet
