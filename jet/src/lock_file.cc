#include "lock_file.h"

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "jet/env.h"
#include "jet/error.h"

namespace jet {
namespace {

// A name as Jet stores it: 8-bit characters, NUL-terminated, NUL-padded.
// Characters outside ASCII become '?' (the names Jet writes come from the
// Windows ANSI code page; ours are host and account names).
void put_name(uint8_t* out, const std::string& name) {
  std::memset(out, 0, LockFile::kNameSize);
  std::size_t n = 0;
  for (std::size_t i = 0; i < name.size() && n < LockFile::kNameSize - 1; ++i) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (c >= 0x80) {
      while (i + 1 < name.size() && (static_cast<unsigned char>(name[i + 1]) & 0xC0) == 0x80) ++i;  // rest of a UTF-8 sequence
      c = '?';
    }
    out[n++] = c;
  }
}

std::string get_name(const uint8_t* in) {
  std::size_t n = 0;
  while (n < LockFile::kNameSize && in[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(in), n);
}

uint64_t counter_at(File& f) {
  uint8_t b[8] = {};
  if (f.read_at(LockFile::kCommitCounterOffset, 8, b) != 8) return 0;
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | b[i];
  return v;
}

void put_counter(File& f, uint64_t v) {
  uint8_t b[8];
  for (int i = 0; i < 8; ++i) b[i] = uint8_t(v >> (8 * i));
  f.write_at(LockFile::kCommitCounterOffset, 8, b);
}

uint64_t random_counter() {
  std::random_device rd;
  uint64_t v = (uint64_t(rd()) << 32) ^ rd() ^
               uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
  return v == 0 ? 1 : v;
}

}  // namespace

void LockFile::bump_commit_counter() {
  // The first commit of a lock file's life starts the counter at random.
  const uint64_t old = counter_at(*file_);
  uint64_t v = old == 0 ? random_counter() : old + 1;
  put_counter(*file_, v == 0 ? 1 : v);
}

uint64_t LockFile::read_commit_counter(Env& env, const std::string& db_path) {
  const std::string path = path_for(db_path);
  std::unique_ptr<File> f;
  try {
    f = env.open_file(path, OpenMode::kReadOnly);
  } catch (const Error& e) {
    if (e.category() == ErrorCategory::kNotFound) return 0;
    throw;
  }
  return counter_at(*f);
}

std::vector<std::string> LockFile::users(Env& env, const std::string& db_path, int own_slot) {
  std::vector<std::string> out;
  try {
    auto f = env.open_file(path_for(db_path), OpenMode::kReadOnly);
    for (int i = 0; i < kMaxUsers; ++i) {
      if (i == own_slot) continue;
      if (f->try_lock_range(kSlotLockBase + i, 1, LockKind::kShared)) {
        f->unlock_range(kSlotLockBase + i, 1);
        continue;
      }
      uint8_t entry[kEntrySize] = {};
      f->read_at(uint64_t(i) * kEntrySize, kEntrySize, entry);
      out.push_back(get_name(entry) + "/" + get_name(entry + kNameSize));
    }
  } catch (...) {
  }
  return out;
}

std::string LockFile::path_for(const std::string& db_path) {
  std::size_t slash = db_path.find_last_of('/');
  std::size_t dot = db_path.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) return db_path.substr(0, dot) + ".ldb";
  return db_path + ".ldb";
}

LockFile::LockFile(Env& env, const std::string& db_path, const std::string& computer_name,
                   const std::string& user_name)
    : env_(env), path_(path_for(db_path)) {
  // A user leaving as the last one holds every slot while it removes the
  // file; retry briefly, and start again on a fresh file if it was removed.
  for (int attempt = 0; attempt < 50 && slot_ < 0; ++attempt) {
    try {
      file_ = env_.open_file(path_, OpenMode::kOpenAlways);
    } catch (const Error& e) {
      throw Error(ErrorCategory::kIo, db_path + ": cannot create the lock file " + path_ +
                                          " that tells other users the database is open (" + e.what() + ")");
    }
    for (int i = 0; i < kMaxUsers; ++i) {
      if (file_->try_lock_range(kSlotLockBase + i, 1, LockKind::kExclusive)) {
        slot_ = i;
        break;
      }
    }
    if (slot_ >= 0 && !env_.file_exists(path_)) {
      file_.reset();  // we locked a file the last user just removed
      slot_ = -1;
      continue;
    }
    if (slot_ < 0) {
      file_.reset();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  if (slot_ < 0) {
    throw Error(ErrorCategory::kLocked, db_path + ": " + std::to_string(kMaxUsers) +
                                            " users already have the database open (lock file " + path_ + ")");
  }
  uint8_t entry[kEntrySize];
  put_name(entry, computer_name);
  put_name(entry + kNameSize, user_name);
  try {
    file_->write_at(uint64_t(slot_) * kEntrySize, kEntrySize, entry);
  } catch (const Error& e) {
    file_.reset();
    throw Error(ErrorCategory::kIo, db_path + ": cannot write the lock file " + path_ + " (" + e.what() + ")");
  }
}

LockFile::~LockFile() {
  if (!file_) return;
  try {
    file_->unlock_range(kSlotLockBase + slot_, 1);
    if (file_->try_lock_range(kSlotLockBase, kMaxUsers, LockKind::kExclusive)) {
      env_.remove_file(path_);
      file_->unlock_range(kSlotLockBase, kMaxUsers);
    }
  } catch (...) {
  }
  file_.reset();
}

}  // namespace jet
