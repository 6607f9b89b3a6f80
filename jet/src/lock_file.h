// Internal: the Jet lock file ("products.ldb" beside "products.mdb").
//
// Jet keeps, beside every database opened for shared use, a lock file that
// names who has it open; Access-based programs (the point-of-sale system)
// read it to see other users, and Jet removes it when the last user closes
// the database. A read-write Database enters itself in it for as long as
// it is open.
//
// Layout (known from the Jet engine's documentation, "Layout of the
// Locking Information File"; no fixture holds one: Jet removes them):
//
//   offset      size  field
//   64*i + 0    32    computer name of user i, ANSI, NUL-terminated and
//                     NUL-padded (longer names are cut to 31 bytes)
//   64*i + 32   32    user's security account name ("Admin" unless
//                     user-level security names another), same form
//   at most 255 entries (16,320 bytes); no header.
//
// A slot is in use while its holder has the byte 0x10000001 + i of the lock
// file locked: Jet's "user lock" of user i + 1, one byte in 0x10000001 ..
// 0x100000FF, held as long as the user has the database open (the public
// notes on Jet's locking; past the end of the file, so reads are never
// blocked); a new
// user takes the first slot nobody holds and overwrites the entry there (as
// Jet reuses the slot of a user who left). The last user out (no other slot
// held) removes the file. These byte locks coordinate our own processes;
// Jet on Windows places its own locks that we cannot see from here.
//
// Past the last entry, at byte 16320, this engine keeps an 8-byte commit
// counter: every commit to the database changes it before it writes the
// database file, so a handle that finds it changed knows its cached pages
// may be stale (the lock protocol at the top of journal.cc). It is written
// by the first commit (a lock file of users who only read stays entries
// only, at most 16,320 bytes as Jet makes it), starting at a random value,
// so a lock file that was removed and made again never repeats a value a
// handle saw before. Jet reads only the entries of the slots it finds
// locked.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace jet {

class Env;
class File;

class LockFile {
 public:
  // "<db path without its .mdb extension>.ldb" (".ldb" appended when the
  // name has no extension).
  static std::string path_for(const std::string& db_path);

  // Enters this user in the lock file of `db_path`, creating the file when
  // needed. Throws kIo when it cannot be created or written (a read-only
  // folder), kLocked when all 255 slots are held.
  LockFile(Env& env, const std::string& db_path, const std::string& computer_name, const std::string& user_name);
  // Leaves: releases the slot and removes the file when no other user holds
  // one. Never throws.
  ~LockFile();
  LockFile(const LockFile&) = delete;
  LockFile& operator=(const LockFile&) = delete;

  int slot() const { return slot_; }
  const std::string& path() const { return path_; }

  // Changes the commit counter (see above). Throws kIo.
  void bump_commit_counter();
  // The commit counter of `db_path`'s lock file; 0 when there is none (no
  // writer has the database open). Throws kIo when it cannot be read.
  static uint64_t read_commit_counter(Env& env, const std::string& db_path);
  // "COMPUTER/user" of every user holding a slot in `db_path`'s lock file,
  // but `own_slot`; empty when there is no lock file. Never throws.
  static std::vector<std::string> users(Env& env, const std::string& db_path, int own_slot = -1);

  static constexpr int kMaxUsers = 255;
  static constexpr std::size_t kEntrySize = 64;
  static constexpr std::size_t kNameSize = 32;
  static constexpr uint64_t kSlotLockBase = 0x10000001;
  static constexpr uint64_t kCommitCounterOffset = uint64_t(kMaxUsers) * kEntrySize;

 private:
  Env& env_;
  std::string path_;
  std::unique_ptr<File> file_;
  int slot_ = -1;
};

}  // namespace jet
