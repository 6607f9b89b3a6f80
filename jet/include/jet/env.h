// Every operating-system call the engine makes goes through an Env.
//
// The engine never calls open/pread/pwrite/fsync itself: it asks its Env for a
// File and works through that. Tests swap in an in-memory Env that can fail
// chosen operations and forget unsynced writes (see src/testing/fault_env.h),
// which is how damaged files and crashes are simulated without touching disk.
//
// Failure contract: every method throws jet::Error (category kIo unless noted)
// naming the file and the operation; nothing is left half-done by the Env
// itself (a failed write may have written a prefix, as the OS may).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace jet {

enum class OpenMode {
  kReadOnly,   // the file must exist; no writes
  kReadWrite,  // the file must exist
  kCreate,     // create or truncate, then read-write
  kOpenAlways, // create when missing (keeping an existing file's bytes), read-write
};

enum class LockKind {
  kShared,     // many readers / shared writers may hold it together
  kExclusive,  // only one holder
};

class File {
 public:
  virtual ~File() = default;

  // Reads up to `n` bytes at `offset` into `out`; returns how many were read
  // (fewer only at the end of the file, 0 at or past it).
  virtual std::size_t read_at(uint64_t offset, std::size_t n, uint8_t* out) = 0;

  // Writes all `n` bytes at `offset`, growing the file if needed.
  virtual void write_at(uint64_t offset, std::size_t n, const uint8_t* data) = 0;

  // Makes every write so far durable.
  virtual void sync() = 0;

  // Sets the file's size (cutting or zero-extending).
  virtual void truncate(uint64_t size) = 0;

  virtual uint64_t size() = 0;

  // Advisory whole-file lock held by this File object (two Files of one
  // path conflict even inside one process; closing another File of the
  // path does not drop it). Returns false (without throwing) when another
  // holder's lock conflicts; throws only when locking itself fails.
  virtual bool try_lock(LockKind kind) = 0;
  virtual void unlock() = 0;

  // Advisory lock on bytes [offset, offset + length) of the file (which may
  // lie past its end), held by this File object like try_lock(); ranges
  // that do not overlap never conflict. Returns false when another holder's
  // lock conflicts.
  virtual bool try_lock_range(uint64_t offset, uint64_t length, LockKind kind) = 0;
  virtual void unlock_range(uint64_t offset, uint64_t length) = 0;

  virtual const std::string& path() const = 0;
};

class Env {
 public:
  virtual ~Env() = default;

  // Opens `path`. Throws kNotFound when it does not exist (kReadOnly,
  // kReadWrite), kIo for any other refusal (permissions, a directory).
  virtual std::unique_ptr<File> open_file(const std::string& path, OpenMode mode) = 0;

  virtual bool file_exists(const std::string& path) = 0;
  virtual void remove_file(const std::string& path) = 0;
  // Atomically replaces `to` with `from`.
  virtual void rename_file(const std::string& from, const std::string& to) = 0;
  // Makes directory entries (creations, renames, removals) in the directory
  // holding `path` durable.
  virtual void sync_dir(const std::string& path) = 0;

  // The name of this computer on the network (the Jet lock file records
  // it); "" when the system does not say.
  virtual std::string computer_name() = 0;

  // The process-wide POSIX implementation; never null, never deleted.
  static Env* posix();
};

}  // namespace jet
