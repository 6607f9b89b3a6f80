// Shared pieces of the VxFmUt60 tests: the private environment every test process runs
// in, child processes (vxfmut_peer), stderr capture and a raw view of the shared block.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace vxfmut_test {

// The private folder of this test process (registry, runtime folder, HotSync data).
std::filesystem::path test_root();
std::filesystem::path hotsync_data_dir();

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::string& text);

// Writes the two hive files of a registry store in `dir`.
void write_registry(const std::filesystem::path& dir, const std::string& current_user,
                    const std::string& local_machine);

// A running vxfmut_peer. Inherits this process's environment with `overrides` applied
// (KEY=VALUE; an empty VALUE removes the variable). stdout and stderr go to files.
class Peer {
 public:
  Peer(const std::vector<std::string>& steps, const std::map<std::string, std::string>& overrides = {});
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // Waits until stdout holds a line equal to `line`; false on timeout or exit.
  bool wait_for_line(const std::string& line, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Waits for the exit; returns the exit code, 128 + signal, or -1 on timeout (then kills).
  int wait(std::chrono::milliseconds timeout = std::chrono::seconds(20));
  bool running();
  void kill_hard();  // SIGKILL and reap

  std::string out() const;
  std::string err() const;
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  std::filesystem::path out_, err_;
};

// Runs a peer to its end; returns its stdout. Fails the current test when it exits
// with a non-zero code.
std::string run_peer(const std::vector<std::string>& steps,
                     const std::map<std::string, std::string>& overrides = {});

// Redirects this process's stderr into a file for its lifetime.
class CaptureStderr {
 public:
  CaptureStderr();
  ~CaptureStderr();
  std::string text();  // what was written so far

 private:
  int saved_ = -1;
  std::filesystem::path file_;
};

// The shared block of this test process, mapped read-write by its documented offsets.
class RawBlock {
 public:
  explicit RawBlock(const std::string& shm_name);
  ~RawBlock();
  std::int32_t int_at(std::size_t offset) const;
  std::string text_at(std::size_t offset) const;
  static constexpr std::size_t kReadIndex = 544, kWriteIndex = 548, kEntries = 552,
                               kEntrySize = 544, kWaitFlag = 532, kUserName = 2;

 private:
  unsigned char* base_ = nullptr;
  std::size_t size_ = 0;
};

std::string shm_name();  // this process's VXFMUT_SHM_NAME

}  // namespace vxfmut_test
