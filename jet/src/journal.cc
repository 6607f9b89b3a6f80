// Atomic commits through rollback journals, and crash recovery.
//
// A write unit (pager.h) keeps every changed page in memory until commit;
// the database file is only ever written by commit_units() below, and only
// after the original images of every page it overwrites are safe in a
// journal beside the file. A process killed at any moment (or, in durable
// mode, a machine losing power) therefore leaves each file either untouched,
// fully written, or partly written with a hot journal that the next open
// plays back (recover()).
//
// FILES
//
//   "<db>-journal"          rollback journal, one per database file. Opened
//                           (made when missing) by each commit under the
//                           writer's lock and closed when it ends; kept on
//                           disk between commits with its header zeroed
//                           (cold); removed by the last writer to close the
//                           database (file_locks.h, invariant 6).
//   "<db>-super-<hex>"      super-journal of a commit over several files,
//                           beside the first file; lives only during that
//                           commit.
//
// JOURNAL LAYOUT (all integers little-endian)
//
//   offset  size  field
//   0       8     magic "JetJrnl1"
//   8       4     format version, 1
//   12      4     page size, 4096
//   16      4     record count n
//   20      4     nonce: random per commit, folded into every record's
//                 checksum so records left over from an earlier commit
//                 never pass as this commit's
//   24      8     size of the database file before the commit, in bytes
//   32      4     length L of the super-journal path (0: single-file commit)
//   36      L     super-journal path (L < 2012), as the engine was given
//                 the database path (relative paths resolve against the
//                 working directory)
//   2048    ...   (several files) the pending super-journal block, written
//                 with the records, before the super-journal exists:
//                 magic "JetPend1", 4-byte length L, the path, and an
//                 8-byte checksum of those. It lets recovery remove a
//                 super-journal orphaned by a crash before any child
//                 header named it. The header proper, once written,
//                 replaces the whole block (its bytes here are zero).
//   4088    8     checksum of bytes 0..4087
//   4096    n records of 4108 bytes each:
//           +0    4     page number
//           +4    4096  the page as the file held it before the commit
//                       (encrypted pages stay encrypted: no key needed)
//           +4100 8     checksum of nonce, page number and image
//   An all-zero header (or a file shorter than 4096 bytes) is "no valid
//   header": that journal's database was never touched by its commit.
//
// SUPER-JOURNAL LAYOUT
//
//   0       8     magic "JetSuper"
//   8       4     number of child journals k
//   12      ...   k child journal paths, each NUL-terminated
//   end-8   8     checksum of every byte before it
//
// The checksum is a 64-bit multiply-xor hash over 8-byte words (journal_sum
// below): it guards against torn and stale writes, not against malice.
//
// INVARIANTS
//
//   1. The database file is written only in state WRITING and only at pages
//      whose original images are in a journal whose header is durable (or,
//      in fast mode, written before), and beyond the original end of file.
//   2. A journal header is written only after all of its records are
//      durable; its record count and checksums make a torn header or torn
//      records detectable.
//   3. A child journal's header names its super-journal only after the
//      super-journal and its directory entry are durable.
//   4. The commit point is a single durable step: single file, the journal
//      header is zeroed and synced; several files, the super-journal is
//      removed and its directory synced. Before it, recovery restores the
//      old state of every file; after it, the new state of every file.
//   5. A journal with a valid header is hot unless it names a super-journal
//      that no longer exists. Only a holder of the file's writer lock (a
//      writer, or an opener that takes that lock to recover) judges a
//      journal, so a live writer's journal is never played back under it.
//   6. Recovery is idempotent: a crash during playback leaves the journal
//      hot, and playing it back again gives the same result. A super-journal
//      is removed only when none of its children still names it.
//   7. Durable mode fsyncs at every step marked (sync); fast mode skips them
//      all but keeps the order of writes, which the operating system keeps
//      for a killed process.
//
// LOCKS BETWEEN HANDLES (several handles or processes on one file; the
// bytes W, P, R are in file_locks.h, the commit counter in lock_file.h)
//
//   W = writer's lock, P = pending, R = readers' / committer's lock.
//
//   L1. Only a holder of W changes the database file, its journal, or the
//       commit counter; only a holder of W judges and plays back a journal
//       (recovery at open takes W without waiting, and leaves a journal
//       alone when a live writer holds it).
//   L2. The database file is written only under R exclusive (so under W and
//       P too); no reader holds R meanwhile, so no read operation ever sees
//       a page of a half-written commit.
//   L3. A committer changes the commit counter before it writes the first
//       page, under R exclusive. A commit that fails afterwards and is played
//       back leaves it changed: readers reload for nothing, never miss one.
//   L4. A handle compares the counter with the value it last saw when it
//       takes R shared for a read operation (with no operation of its own
//       running) and when it takes W; a different value drops every cached
//       page and reloads the catalog and every open table's definition
//       before any page is read. Its own commits update the value it saw.
//       A changed counter with a hot journal means a committer died after
//       L3: the handle plays the journal back first, under W, P and R
//       exclusive (a reader lets go of R and takes them on a second,
//       read-write handle).
//   L5. Every wait (W, P, R) polls with a time limit (OpenOptions::
//       lock_timeout) and ends in kLocked naming the file and the other
//       users the lock file lists; nothing is changed by a wait that fails.
//   L6. A commit opens the journal file under W and closes it before W is
//       released; no handle keeps it open between commits. It is removed
//       only under W: by recovery, or at close by the last user in the lock
//       file. So no writer ever writes into a journal removed under it.
//   L8. A committer takes its locks (P, then R) before the journal's header
//       is written: a hot journal is always held by a live committer that
//       keeps readers out, or was left by a dead one.
//   L7. A handle inside its own write unit (holding W) reads without taking
//       R: no one else can commit meanwhile.
//   L9. W, once let go, goes first to a writer already waiting: a
//       writer that finds W taken waits holding Q exclusive (one at a time),
//       and every writer takes Q shared for the moment it takes W.
//
// STATES OF ONE COMMIT (commit_units) AND THE FUNCTION BEHIND EACH STEP
//
//        OPEN  (unit open, dirty pages pinned in memory)
//          |  write_records(): originals into each journal      (sync)
//          v
//        RECORDS_SYNCED
//          |  write_super_journal(): several files only         (sync, dir sync)
//          |  Pager::begin_file_writes(): P, R exclusive; the commit counter
//          |  changes (L3, L8); released when the commit ends
//          v
//        SUPER_DURABLE
//          |  write_header(): each journal's header             (sync, dir sync
//          v                                                     when created)
//        JOURNAL_HOT  <------------------------------------------------+
//          |  write_pages(): dirty pages into each database file (sync) |
//          v                                                           |
//        WRITING / FILES_SYNCED                                        |
//          |  commit_point(): zero the header (single file) or         |
//          |  remove the super-journal (several)            (sync)     |
//          v                                                           |
//        COMMITTED                                                     |
//          |  finish(): zero child headers; pages become clean;        |
//          v  units end (Pager::mark_committed)                        |
//        OPEN (next unit) / closed: close_journal() removes the journal|
//                                                                      |
//   Failure before JOURNAL_HOT: discard_journals() (nothing was written to
//   any database), units roll back. Failure in JOURNAL_HOT..before the
//   commit point: undo() plays back each hot journal (state returns to
//   before the commit), then discard_journals(); if play_back() itself
//   fails the journal stays hot for recover() at the next open ---------+
//   Failure of the directory sync just after the commit point (several
//   files): the commit stands, finish() runs, and the caller gets an error
//   saying it may not be durable.
//
//   recover() at open: no journal, or no valid header -> remove it;
//   (a pending super-journal block naming a super-journal that no child
//   header names any more -> remove that super-journal too);
//   valid header naming a missing super-journal -> committed, remove it;
//   otherwise hot -> play_back(), remove it, and remove the super-journal
//   when no child names it any longer.
#include "journal.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "binary.h"
#include "debug_check.h"
#include "jet/env.h"
#include "jet/error.h"
#include "pager.h"

namespace jet::journal {
namespace {

constexpr char kJournalMagic[8] = {'J', 'e', 't', 'J', 'r', 'n', 'l', '1'};
constexpr char kSuperMagic[8] = {'J', 'e', 't', 'S', 'u', 'p', 'e', 'r'};
constexpr uint32_t kVersion = 1;
constexpr std::size_t kHeaderSize = 4096;
constexpr std::size_t kHeaderSumOffset = kHeaderSize - 8;
constexpr std::size_t kSuperPathOffset = 36;
constexpr std::size_t kPendingOffset = 2048;
constexpr std::size_t kMaxSuperPath = kPendingOffset - kSuperPathOffset;
constexpr char kPendingMagic[8] = {'J', 'e', 't', 'P', 'e', 'n', 'd', '1'};
constexpr std::size_t kMaxPendingPath = kHeaderSize - 8 - kPendingOffset - 20;
constexpr std::size_t kRecordSize = 4 + kPageSize + 8;
constexpr std::size_t kRecordsPerWrite = 64;  // records gathered per write call

uint64_t journal_sum(uint64_t seed, const uint8_t* p, std::size_t n) {
  uint64_t h = seed ^ (0x9E3779B97F4A7C15ull * (n + 1));
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    h = (h ^ w) * 0xFF51AFD7ED558CCDull;
    h ^= h >> 29;
  }
  for (; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
  h ^= h >> 32;
  return h;
}

void put_le64(uint8_t* p, uint64_t v) {
  put_le32(p, static_cast<uint32_t>(v));
  put_le32(p + 4, static_cast<uint32_t>(v >> 32));
}

uint64_t record_sum(uint32_t nonce, const uint8_t* record) {
  return journal_sum(nonce, record, 4 + kPageSize);
}

struct Header {
  uint32_t records = 0;
  uint32_t nonce = 0;
  uint64_t original_size = 0;
  std::string super_path;
};

void encode_header(const Header& h, uint8_t* out) {
  std::memset(out, 0, kHeaderSize);
  std::memcpy(out, kJournalMagic, 8);
  put_le32(out + 8, kVersion);
  put_le32(out + 12, static_cast<uint32_t>(kPageSize));
  put_le32(out + 16, h.records);
  put_le32(out + 20, h.nonce);
  put_le64(out + 24, h.original_size);
  put_le32(out + 32, static_cast<uint32_t>(h.super_path.size()));
  std::memcpy(out + kSuperPathOffset, h.super_path.data(), h.super_path.size());
  put_le64(out + kHeaderSumOffset, journal_sum(0, out, kHeaderSumOffset));
}

// False when the bytes are not a valid header (never written, torn, zeroed).
bool decode_header(const uint8_t* in, Header& h) {
  if (std::memcmp(in, kJournalMagic, 8) != 0) return false;
  if (le64(in + kHeaderSumOffset) != journal_sum(0, in, kHeaderSumOffset)) return false;
  if (le32(in + 8) != kVersion || le32(in + 12) != kPageSize) return false;
  uint32_t len = le32(in + 32);
  if (len > kMaxSuperPath) return false;
  h.records = le32(in + 16);
  h.nonce = le32(in + 20);
  h.original_size = le64(in + 24);
  h.super_path.assign(reinterpret_cast<const char*>(in + kSuperPathOffset), len);
  return true;
}

bool read_header(File& f, Header& h) {
  uint8_t buf[kHeaderSize];
  if (f.read_at(0, kHeaderSize, buf) != kHeaderSize) return false;
  return decode_header(buf, h);
}

uint32_t new_nonce() {
  static std::mt19937 gen(std::random_device{}());
  uint32_t n;
  do n = static_cast<uint32_t>(gen()); while (n == 0);
  return n;
}

bool durable(const Pager& p) { return p.durability() == Durability::kDurable; }

// ---- the commit of one file, step by step ----

struct FileCommit {
  Pager* pager;
  std::vector<uint32_t> pages;  // dirty pages, ascending
  Header header;
  bool created = false;         // the journal file was created by this commit
  bool hot = false;             // header written: the file may change now
};

// The pending super-journal block (see the layout above).
std::vector<uint8_t> encode_pending(const std::string& super_path) {
  std::vector<uint8_t> b(kPendingMagic, kPendingMagic + 8);
  b.resize(12);
  put_le32(b.data() + 8, static_cast<uint32_t>(super_path.size()));
  b.insert(b.end(), super_path.begin(), super_path.end());
  uint64_t sum = journal_sum(0, b.data(), b.size());
  b.resize(b.size() + 8);
  put_le64(b.data() + b.size() - 8, sum);
  return b;
}

// The super-journal a journal without a valid header was about to name; "".
std::string read_pending(File& jf) {
  uint8_t buf[kHeaderSize - kPendingOffset];
  if (jf.read_at(kPendingOffset, sizeof buf, buf) != sizeof buf) return {};
  if (std::memcmp(buf, kPendingMagic, 8) != 0) return {};
  uint32_t len = le32(buf + 8);
  if (len == 0 || len > kMaxPendingPath) return {};
  if (le64(buf + 12 + len) != journal_sum(0, buf, 12 + len)) return {};
  return std::string(reinterpret_cast<const char*>(buf + 12), len);
}

// OPEN -> RECORDS_SYNCED: the original image of every dirty page that exists
// in the file goes into the journal (with, for several files, the pending
// super-journal block), then the journal is synced.
void write_records(FileCommit& fc, const std::string& pending_super) {
  Pager& p = *fc.pager;
  std::unique_ptr<File>& jf = p.journal_file();
  const std::string jpath = journal_path(p.file_name());
  if (!jf) {
    // Opened for each commit, under the writer's lock: between commits no
    // handle keeps it open, so removing it (recovery, the last user's
    // close) never leaves another writer writing into a removed file.
    const bool existed = p.env().file_exists(jpath);
    jf = p.env().open_file(jpath, OpenMode::kOpenAlways);
    fc.created = !existed;
  }
  fc.header.nonce = new_nonce();
  fc.header.original_size = p.file().size();
  const uint64_t original_pages = fc.header.original_size / kPageSize;
  std::vector<uint8_t> buf(kRecordsPerWrite * kRecordSize);
  std::size_t in_buf = 0;
  uint64_t offset = kHeaderSize;
  uint32_t count = 0;
  auto flush = [&] {
    if (in_buf == 0) return;
    jf->write_at(offset, in_buf * kRecordSize, buf.data());
    offset += in_buf * kRecordSize;
    in_buf = 0;
  };
  for (uint32_t n : fc.pages) {
    if (n >= original_pages) continue;  // a new page: cutting the file restores it
    uint8_t* rec = buf.data() + in_buf * kRecordSize;
    put_le32(rec, n);
    if (p.file().read_at(uint64_t(n) * kPageSize, kPageSize, rec + 4) != kPageSize) {
      throw Error(ErrorCategory::kIo, p.file_name() + ": page " + std::to_string(n) +
                                          " could not be read back for the journal (file cut short)");
    }
    put_le64(rec + 4 + kPageSize, record_sum(fc.header.nonce, rec));
    ++count;
    if (++in_buf == kRecordsPerWrite) flush();
  }
  flush();
  fc.header.records = count;
  if (!pending_super.empty()) {
    std::vector<uint8_t> block = encode_pending(pending_super);
    jf->write_at(kPendingOffset, block.size(), block.data());
  }
  if (durable(p)) jf->sync();
}

// A fresh super-journal name beside the first file.
std::string new_super_path(std::vector<FileCommit>& files) {
  Env& env = files.front().pager->env();
  const std::string& first = files.front().pager->file_name();
  std::string path;
  do {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08x", new_nonce());
    path = first + "-super-" + hex;
  } while (env.file_exists(path));
  if (path.size() > kMaxPendingPath) {
    throw Error(ErrorCategory::kInvalidArgument, first + ": the path is too long for a journal");
  }
  return path;
}

// RECORDS_SYNCED -> SUPER_DURABLE (several files only).
void write_super_journal(std::vector<FileCommit>& files, const std::string& path) {
  Env& env = files.front().pager->env();
  std::vector<uint8_t> bytes(kSuperMagic, kSuperMagic + 8);
  bytes.resize(12);
  put_le32(bytes.data() + 8, static_cast<uint32_t>(files.size()));
  for (const FileCommit& fc : files) {
    std::string child = journal_path(fc.pager->file_name());
    bytes.insert(bytes.end(), child.begin(), child.end());
    bytes.push_back(0);
  }
  uint64_t sum = journal_sum(0, bytes.data(), bytes.size());
  bytes.resize(bytes.size() + 8);
  put_le64(bytes.data() + bytes.size() - 8, sum);
  auto f = env.open_file(path, OpenMode::kCreate);
  f->write_at(0, bytes.size(), bytes.data());
  if (durable(*files.front().pager)) {
    f->sync();
    env.sync_dir(path);
  }
}

// -> JOURNAL_HOT: the header makes the journal count; from here on the
// database file may be written.
void write_header(FileCommit& fc) {
  Pager& p = *fc.pager;
  uint8_t buf[kHeaderSize];
  encode_header(fc.header, buf);
  File& jf = *p.journal_file();
  fc.hot = true;  // from the first byte of the header on, the journal may count
  jf.write_at(0, kHeaderSize, buf);
  if (durable(p)) {
    jf.sync();
    if (fc.created) p.env().sync_dir(jf.path());
  }
}

// JOURNAL_HOT -> FILES_SYNCED: the new pages go into the database file,
// runs of neighbouring pages in one write each.
void write_pages(FileCommit& fc) {
  Pager& p = *fc.pager;
  JET_DEBUG_CHECK(fc.hot, "a database file is written only while its journal is hot");
  JET_DEBUG_CHECK(p.in_unit(), "the pages written belong to an open unit");
  constexpr std::size_t kRun = 64;
  std::vector<uint8_t> buf(kRun * kPageSize);
  std::size_t i = 0;
  while (i < fc.pages.size()) {
    std::size_t j = i;
    while (j < fc.pages.size() && j - i < kRun && fc.pages[j] == fc.pages[i] + (j - i)) {
      p.file_image(fc.pages[j], buf.data() + (j - i) * kPageSize);
      ++j;
    }
    p.file().write_at(uint64_t(fc.pages[i]) * kPageSize, (j - i) * kPageSize, buf.data());
    i = j;
  }
  if (durable(p)) p.file().sync();
}

// Zeroes a journal's header: the journal no longer counts.
void zero_header(File& jf, bool sync) {
  static const uint8_t zeros[kHeaderSize] = {};
  jf.write_at(0, kHeaderSize, zeros);
  if (sync) jf.sync();
}

// Plays back the journal `jf` into `db`: verifies every record first (so a
// damaged journal changes nothing), then writes the originals, cuts the file
// to its original size and syncs it.
void play_back(File& jf, const Header& h, File& db) {
  std::vector<uint8_t> rec(kRecordSize);
  for (int pass = 0; pass < 2; ++pass) {
    for (uint32_t i = 0; i < h.records; ++i) {
      uint64_t off = kHeaderSize + uint64_t(i) * kRecordSize;
      if (jf.read_at(off, kRecordSize, rec.data()) != kRecordSize ||
          le64(rec.data() + 4 + kPageSize) != record_sum(h.nonce, rec.data())) {
        throw Error(ErrorCategory::kCorruption,
                    jf.path() + ": the rollback journal is damaged at record " + std::to_string(i) + " of " +
                        std::to_string(h.records) + "; " + db.path() +
                        " was left unchanged, and the journal kept, for inspection");
      }
      if (pass == 1) db.write_at(uint64_t(le32(rec.data())) * kPageSize, kPageSize, rec.data() + 4);
    }
  }
  if (db.size() != h.original_size) db.truncate(h.original_size);
  db.sync();
}

// Whether any child journal listed in the super-journal still names it.
bool super_journal_needed(Env& env, const std::string& super_path) {
  std::vector<uint8_t> bytes;
  try {
    auto f = env.open_file(super_path, OpenMode::kReadOnly);
    bytes.resize(f->size());
    if (f->read_at(0, bytes.size(), bytes.data()) != bytes.size()) return true;
  } catch (const Error&) {
    return false;
  }
  if (bytes.size() < 20 || std::memcmp(bytes.data(), kSuperMagic, 8) != 0 ||
      le64(bytes.data() + bytes.size() - 8) != journal_sum(0, bytes.data(), bytes.size() - 8)) {
    // A torn super-journal was never named by a child header (invariant 3).
    return false;
  }
  std::size_t pos = 12, end = bytes.size() - 8;
  while (pos < end) {
    const char* s = reinterpret_cast<const char*>(bytes.data() + pos);
    std::size_t len = strnlen(s, end - pos);
    std::string child(s, len);
    pos += len + 1;
    if (!env.file_exists(child)) continue;
    try {
      auto cf = env.open_file(child, OpenMode::kReadOnly);
      Header h;
      if (read_header(*cf, h) && h.super_path == super_path) return true;
    } catch (const Error&) {
      return true;  // cannot tell: keep it
    }
  }
  return false;
}

void remove_quietly(Env& env, const std::string& path) noexcept {
  try {
    if (env.file_exists(path)) env.remove_file(path);
  } catch (...) {
  }
}

// Failure before JOURNAL_HOT (or after a complete play_back): no database
// file holds anything of the commit; the journals stop counting (headers
// zeroed, the files kept for the next commit) and the super-journal goes.
void discard_journals(std::vector<FileCommit>& files, const std::string& super_path) noexcept {
  for (FileCommit& fc : files) {
    try {
      if (fc.hot) zero_header(*fc.pager->journal_file(), durable(*fc.pager));
    } catch (...) {
    }
  }
  if (!super_path.empty()) remove_quietly(files.front().pager->env(), super_path);
}

}  // namespace

std::string journal_path(const std::string& db_path) { return db_path + "-journal"; }

bool journal_exists(Env& env, const std::string& db_path) { return env.file_exists(journal_path(db_path)); }

namespace {

// FILES_SYNCED -> COMMITTED. Throws before the commit point is reached; once
// it is, sets `past` (a failure after that is only a failed directory sync).
void commit_point(std::vector<FileCommit>& files, const std::string& super_path, bool& past) {
  Pager& first = *files.front().pager;
  for (const FileCommit& fc : files) JET_DEBUG_CHECK(fc.hot, "every file's journal is hot before the commit point");
  if (files.size() > 1) {
    first.env().remove_file(super_path);
    past = true;
    if (durable(first)) first.env().sync_dir(super_path);
  } else {
    zero_header(*first.journal_file(), durable(first));
    past = true;
  }
}

// COMMITTED -> OPEN: child journals no longer count (their super-journal is
// gone); zeroing their headers just saves the next open a look for it.
void finish(std::vector<FileCommit>& files) noexcept {
  if (files.size() < 2) return;
  for (FileCommit& fc : files) {
    try {
      zero_header(*fc.pager->journal_file(), false);
    } catch (...) {
    }
  }
}

// Failure before the commit point: plays back every journal that may have
// reached its file (JOURNAL_HOT or later), then discards the journals. A
// file that cannot be restored keeps its hot journal and its pager is
// marked broken, so only a reopen (recover()) touches it again.
void undo(std::vector<FileCommit>& files, const std::string& super_path) noexcept {
  bool restored = true;
  for (FileCommit& fc : files) {
    if (!fc.hot) continue;
    try {
      play_back(*fc.pager->journal_file(), fc.header, fc.pager->file());
    } catch (...) {
      restored = false;
      fc.pager->set_broken("a commit failed and the file could not be restored; close and reopen the database to "
                           "roll the unfinished commit back from " +
                           journal_path(fc.pager->file_name()));
    }
  }
  if (restored) discard_journals(files, super_path);
}

}  // namespace

void commit_units(const std::vector<Pager*>& pagers) {
  std::vector<FileCommit> files;
  for (Pager* p : pagers) {
    JET_DEBUG_CHECK(p->in_unit(), "a commit ends an open unit");
    if (p->dirty_page_count() == 0) continue;
    files.push_back(FileCommit{p, p->dirty_pages(), {}, false, false});
  }
  auto end_all = [&](bool committed) {
    for (FileCommit& fc : files) fc.pager->end_file_writes();
    for (Pager* p : pagers) {
      p->journal_file().reset();
      if (committed) {
        p->mark_committed();
      } else {
        p->rollback();
      }
    }
  };
  if (files.empty()) {
    end_all(true);
    return;
  }
  const bool multi = files.size() > 1;
  std::string super_path;
  bool past_commit_point = false;
  try {
    if (multi) super_path = new_super_path(files);
    for (FileCommit& fc : files) write_records(fc, super_path);
    if (multi) write_super_journal(files, super_path);
    // The committer's locks: no reader reads a file while it is written.
    for (FileCommit& fc : files) fc.pager->begin_file_writes();
    for (FileCommit& fc : files) {
      fc.header.super_path = super_path;
      write_header(fc);
    }
    for (FileCommit& fc : files) write_pages(fc);
    commit_point(files, super_path, past_commit_point);
  } catch (...) {
    if (past_commit_point) {
      // The super-journal is removed but its directory could not be synced:
      // the files hold the new state and the journals no longer count, but
      // a power cut before the system writes the directory could roll the
      // commit back. Said as an error, never as a success.
      finish(files);
      end_all(true);
      std::string why = "unknown error";
      try {
        throw;
      } catch (const std::exception& e) {
        why = e.what();
      } catch (...) {
      }
      throw Error(ErrorCategory::kIo, files.front().pager->file_name() +
                                          ": the commit was written but could not be made durable (" + why +
                                          "); it may be lost if the machine stops before the system writes it");
    }
    undo(files, super_path);
    end_all(false);
    throw;
  }
  finish(files);
  end_all(true);
  for (Pager* p : pagers) {
    JET_DEBUG_CHECK(!p->in_unit() && p->dirty_page_count() == 0, "a committed unit leaves clean, unpinned pages");
  }
}

void close_journal(Pager& pager, bool others_open) noexcept {
  pager.journal_file().reset();
  if (!pager.writable() || !pager.broken().empty()) return;  // broken: hot, the next open plays it back
  try {
    const std::string path = journal_path(pager.file_name());
    if (!pager.env().file_exists(path)) return;
    // Only under the writer's lock, and only by the last user: the journal
    // then is cold unless a crash left it hot, which recovery needs.
    if (pager.shared() && (!pager.try_writer_lock() || others_open)) return;
    if (!journal_is_hot(pager.env(), pager.file_name())) remove_quietly(pager.env(), path);
  } catch (...) {
  }
}

bool journal_is_hot(Env& env, const std::string& db_path) {
  const std::string jpath = journal_path(db_path);
  if (!env.file_exists(jpath)) return false;
  auto jf = env.open_file(jpath, OpenMode::kReadOnly);
  Header h;
  if (!read_header(*jf, h)) return false;
  return h.super_path.empty() || env.file_exists(h.super_path);
}

bool recover(Env& env, const std::string& db_path, File& db) {
  const std::string jpath = journal_path(db_path);
  Header h;
  bool valid;
  std::string orphan;  // a super-journal no child header named yet
  {
    auto jf = env.open_file(jpath, OpenMode::kReadOnly);
    valid = read_header(*jf, h);
    if (!valid) orphan = read_pending(*jf);
    if (valid && !h.super_path.empty() && !env.file_exists(h.super_path)) valid = false;  // committed
    if (valid) play_back(*jf, h, db);
  }
  env.remove_file(jpath);
  env.sync_dir(jpath);
  if (!orphan.empty() && env.file_exists(orphan) && !super_journal_needed(env, orphan)) {
    remove_quietly(env, orphan);
    try {
      env.sync_dir(orphan);
    } catch (...) {
    }
  }
  if (valid && !h.super_path.empty() && !super_journal_needed(env, h.super_path)) {
    remove_quietly(env, h.super_path);
    try {
      env.sync_dir(h.super_path);
    } catch (...) {
    }
  }
  return valid;
}

}  // namespace jet::journal
