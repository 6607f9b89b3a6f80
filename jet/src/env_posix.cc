// POSIX implementation of Env: pread/pwrite/fsync/ftruncate and fcntl locks.
#ifndef _GNU_SOURCE
#define _GNU_SOURCE 1  // F_OFD_SETLK
#endif
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "jet/env.h"
#include "jet/error.h"

namespace jet {
namespace {

[[noreturn]] void throw_errno(const std::string& path, const char* what, int err) {
  ErrorCategory category = (err == ENOENT) ? ErrorCategory::kNotFound : ErrorCategory::kIo;
  throw Error(category, path + ": " + what + " failed: " + std::strerror(err));
}

// Open-file-description locks belong to one open() of the file, not to the
// process: two handles in one process conflict, and closing one handle does
// not drop the locks of another (classic POSIX locks do both wrong for us).
#ifdef F_OFD_SETLK
constexpr int kSetLock = F_OFD_SETLK;
#else
constexpr int kSetLock = F_SETLK;
#endif

class PosixFile final : public File {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override { ::close(fd_); }

  std::size_t read_at(uint64_t offset, std::size_t n, uint8_t* out) override {
    std::size_t done = 0;
    while (done < n) {
      ssize_t r = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        throw_errno(path_, "read", errno);
      }
      if (r == 0) break;
      done += static_cast<std::size_t>(r);
    }
    return done;
  }

  void write_at(uint64_t offset, std::size_t n, const uint8_t* data) override {
    std::size_t done = 0;
    while (done < n) {
      ssize_t r = ::pwrite(fd_, data + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        throw_errno(path_, "write", errno);
      }
      done += static_cast<std::size_t>(r);
    }
  }

  void sync() override {
    if (::fdatasync(fd_) != 0) throw_errno(path_, "sync", errno);
  }

  void truncate(uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) throw_errno(path_, "truncate", errno);
  }

  uint64_t size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) throw_errno(path_, "stat", errno);
    return static_cast<uint64_t>(st.st_size);
  }

  bool try_lock(LockKind kind) override {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = (kind == LockKind::kShared) ? F_RDLCK : F_WRLCK;
    fl.l_whence = SEEK_SET;
    if (::fcntl(fd_, kSetLock, &fl) == 0) return true;
    if (errno == EACCES || errno == EAGAIN) return false;
    throw_errno(path_, "lock", errno);
  }

  void unlock() override {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    ::fcntl(fd_, kSetLock, &fl);
  }

  bool try_lock_range(uint64_t offset, uint64_t length, LockKind kind) override {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = (kind == LockKind::kShared) ? F_RDLCK : F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    if (::fcntl(fd_, kSetLock, &fl) == 0) return true;
    if (errno == EACCES || errno == EAGAIN) return false;
    throw_errno(path_, "lock", errno);
  }

  void unlock_range(uint64_t offset, uint64_t length) override {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    ::fcntl(fd_, kSetLock, &fl);
  }

  const std::string& path() const override { return path_; }

 private:
  int fd_;
  std::string path_;
};

class PosixEnv final : public Env {
 public:
  std::unique_ptr<File> open_file(const std::string& path, OpenMode mode) override {
    int flags = O_CLOEXEC;
    switch (mode) {
      case OpenMode::kReadOnly: flags |= O_RDONLY; break;
      case OpenMode::kReadWrite: flags |= O_RDWR; break;
      case OpenMode::kCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
      case OpenMode::kOpenAlways: flags |= O_RDWR | O_CREAT; break;
    }
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) throw_errno(path, "open", errno);
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      throw Error(ErrorCategory::kIo, path + ": is a directory, not a database file");
    }
    return std::make_unique<PosixFile>(fd, path);
  }

  std::string computer_name() override {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return {};
    return buf;
  }

  bool file_exists(const std::string& path) override { return ::access(path.c_str(), F_OK) == 0; }

  void remove_file(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) throw_errno(path, "remove", errno);
  }

  void rename_file(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) throw_errno(from, "rename", errno);
  }

  void sync_dir(const std::string& path) override {
    std::string dir = ".";
    auto slash = path.find_last_of('/');
    if (slash != std::string::npos) dir = slash == 0 ? "/" : path.substr(0, slash);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw_errno(dir, "open directory", errno);
    int rc = ::fsync(fd);
    int err = errno;
    ::close(fd);
    if (rc != 0) throw_errno(dir, "sync directory", err);
  }
};

}  // namespace

Env* Env::posix() {
  static PosixEnv* env = new PosixEnv;
  return env;
}

}  // namespace jet
