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

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "jet/env.h"
#include "jet/transaction.h"
#include "page_source.h"

namespace jet {

class Env;

// How a pager shares its file with other handles (file_locks.h has the
// protocol); Database::open fills it in. Without it (new files being built,
// tests over the in-memory Env) the pager takes no locks.
struct Sharing {
  // The file's commit counter as it is now.
  std::function<uint64_t()> commit_counter;
  // Changes the commit counter (a commit is about to write the file).
  std::function<void()> bump_commit_counter;
  // Called after cached pages were dropped because another handle
  // committed: the owner reloads what it keeps (catalog, table definitions).
  std::function<void()> reload;
  // Plays back a journal that another handle's crashed commit left hot
  // (called when the commit counter moved); `holding_writer`: this pager
  // holds the writer's lock.
  std::function<void(bool holding_writer)> recover;
  // Whether the file's journal is hot.
  std::function<bool()> journal_hot;
  // Other users of the file for messages ("PC1/Admin, PC2/Admin").
  std::function<std::string()> other_users;
  std::chrono::milliseconds lock_timeout{10000};
};

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

  // ---- sharing the file (file_locks.h) ----
  void set_sharing(Sharing sharing);
  bool shared() const { return static_cast<bool>(sharing_.commit_counter); }
  // One read operation: the reader's lock, and stale pages dropped first.
  // Nested calls count. Throws kLocked when a commit keeps the lock past
  // the time limit.
  void begin_read();
  void end_read() noexcept;
  // For the journal: the committer's locks around writing the file.
  void begin_file_writes();
  void end_file_writes() noexcept;
  // Whether this handle holds the writer's lock (inside a write unit).
  bool holds_writer_lock() const { return writer_locked_; }
  // Takes the writer's lock without waiting (recovery, close); false when
  // another handle holds it.
  bool try_writer_lock();
  void release_writer_lock() noexcept;

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
  // Page images the savepoints hold (at most one per page and savepoint).
  std::size_t undo_image_count() const { return undo_.size(); }

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
  // The journal file while a commit runs (journal.cc opens and closes it).
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
  // Drops stale pages when the commit counter moved; then reloads.
  void revalidate();
  [[noreturn]] void throw_locked(const std::string& what);

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

  // Sharing state.
  static constexpr uint64_t kUnknownCounter = ~uint64_t(0);
  Sharing sharing_;
  uint64_t seen_counter_ = 0;
  int read_depth_ = 0;
  bool reader_locked_ = false;
  bool writer_locked_ = false;
  bool committing_ = false;

  // Savepoint undo log: the image of a page the first time it changes under
  // each savepoint, restored newest first by rollback_to(). A released
  // savepoint's images pass to the savepoint around it, which keeps only
  // those of pages it had not saved yet; so a long statement made of many
  // small nested ones (a DELETE of every row) holds one image per page.
  struct Undo {
    uint32_t page;
    bool was_dirty;
    std::size_t offset;  // into undo_bytes_
  };
  struct ActiveSavepoint {
    Savepoint sp;
    // Pages with an image under it, kept once a savepoint inside it was
    // released into it (before that, frame_saved_ tells it alone).
    bool tracked = false;
    std::unordered_set<uint32_t> saved;
    // Savepoints taken while this one had nothing to undo: they stand for
    // the same state, so they share it (released one at a time).
    int aliases = 0;
  };
  void save_page_image(uint32_t frame, uint32_t page_number);
  std::vector<Undo> undo_;
  std::vector<uint8_t> undo_bytes_;
  std::vector<ActiveSavepoint> savepoints_;
  uint64_t next_savepoint_id_ = 1;
};

// One read operation (Pager::begin_read / end_read) for as long as it lives.
class ReadOperation {
 public:
  explicit ReadOperation(Pager& pager) : pager_(pager) { pager_.begin_read(); }
  ~ReadOperation() { pager_.end_read(); }
  ReadOperation(const ReadOperation&) = delete;
  ReadOperation& operator=(const ReadOperation&) = delete;

 private:
  Pager& pager_;
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
