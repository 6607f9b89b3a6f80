// Test double for Env: files live in memory, and chosen operations fail.
//
// Each file keeps two images: what the process sees (every write) and what
// would survive a power cut (the image as of its last sync). crash() throws
// away everything unsynced, the way LevelDB's fault-injection env does, so
// journal tests can cut a commit at any point. fail_after() makes the n-th
// following operation of a kind throw kIo, for read/write/sync error paths.
//
// Not thread-safe; one test drives it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jet/env.h"

namespace jet::testing {

enum class FaultOp { kRead, kWrite, kSync, kTruncate, kOpen };

class FaultEnv final : public Env {
 public:
  FaultEnv();
  ~FaultEnv() override;

  // Puts a file (durable, as if synced) into the env.
  void put_file(const std::string& path, std::vector<uint8_t> bytes);
  // Copies a real file from disk into the env.
  void load_file(const std::string& disk_path, const std::string& path);
  // The current (not necessarily durable) bytes of a file; empty if absent.
  std::vector<uint8_t> contents(const std::string& path) const;

  // The `count`-th next operation of kind `op` (1 = the very next) throws
  // kIo; 0 clears the fault.
  void fail_after(FaultOp op, int count);
  // Forgets every write not followed by a sync of its file.
  void crash();
  // Number of operations of a kind performed so far.
  int op_count(FaultOp op) const;

  std::unique_ptr<File> open_file(const std::string& path, OpenMode mode) override;
  bool file_exists(const std::string& path) override;
  void remove_file(const std::string& path) override;
  void rename_file(const std::string& from, const std::string& to) override;
  void sync_dir(const std::string& path) override;

  struct State;  // shared with the File objects it hands out

 private:
  std::shared_ptr<State> state_;
};

}  // namespace jet::testing
