#include "file_locks.h"

#include <thread>

namespace jet::file_locks {
namespace {

// Polling steps: short at first (a commit takes milliseconds), longer later.
std::chrono::microseconds step_for(int attempt) {
  if (attempt < 20) return std::chrono::microseconds(200);
  if (attempt < 200) return std::chrono::microseconds(1000);
  return std::chrono::microseconds(5000);
}

}  // namespace

bool lock_waiting(File& file, uint64_t offset, LockKind kind, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (int attempt = 0;; ++attempt) {
    if (file.try_lock_range(offset, 1, kind)) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(step_for(attempt));
  }
}

bool lock_writer_waiting(File& file, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  bool queued = false;  // holding Q exclusive: the next to take W
  for (int attempt = 0;; ++attempt) {
    if (queued) {
      if (file.try_lock_range(kWriterByte, 1, LockKind::kExclusive)) {
        file.unlock_range(kWriterQueueByte, 1);
        return true;
      }
    } else {
      if (file.try_lock_range(kWriterQueueByte, 1, LockKind::kShared)) {
        const bool got = file.try_lock_range(kWriterByte, 1, LockKind::kExclusive);
        file.unlock_range(kWriterQueueByte, 1);
        if (got) return true;
        // W is taken: wait at the head of the queue when nobody else does.
        queued = file.try_lock_range(kWriterQueueByte, 1, LockKind::kExclusive);
        continue;
      }
    }
    if (std::chrono::steady_clock::now() >= until) {
      if (queued) file.unlock_range(kWriterQueueByte, 1);
      return false;
    }
    std::this_thread::sleep_for(step_for(attempt));
  }
}

bool lock_reader_waiting(File& file, std::chrono::milliseconds timeout) {
  const auto until = std::chrono::steady_clock::now() + timeout;
  for (int attempt = 0;; ++attempt) {
    if (file.try_lock_range(kPendingByte, 1, LockKind::kShared)) {
      const bool got = file.try_lock_range(kReaderByte, 1, LockKind::kShared);
      file.unlock_range(kPendingByte, 1);
      if (got) return true;
    }
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(step_for(attempt));
  }
}

}  // namespace jet::file_locks
