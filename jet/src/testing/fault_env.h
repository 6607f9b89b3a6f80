// Test double for Env: files live in memory, and chosen operations fail.
//
// Each file keeps two images: what the process sees (every write) and what
// would survive a power cut (the image as of its last sync). Directory
// entries are kept twice too: creations, removals and renames become
// durable only when sync_dir() is called for their directory. crash()
// throws away everything unsynced, contents and directory entries alike,
// the way LevelDB's fault-injection env does, so journal tests can cut a
// commit at any point. fail_after() makes the n-th following operation of
// a kind throw kIo, for read/write/sync error paths; kill_after() makes the
// n-th following changing operation and every one after it fail, as if the
// process had died there; set_capacity() makes writes past a total size
// fail as on a full disk.
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

enum class FaultOp { kRead, kWrite, kSync, kTruncate, kOpen, kRemove, kRename, kSyncDir };
inline constexpr int kFaultOpCount = 8;

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
  // Forgets every write not followed by a sync of its file, and every
  // creation, removal or rename not followed by a sync of its directory.
  // Also ends a kill_after() "death" and clears every fault.
  void crash();
  // The `count`-th next changing operation (write, sync, truncate, create,
  // remove, rename, directory sync; 1 = the very next) and every later one
  // throw kIo ("process killed"), until crash().
  void kill_after(int count);
  // Ends a kill_after() "death" keeping every write made before it: the
  // operating system survived, only the process died.
  void restart();
  // Changing operations performed so far (what kill_after() counts).
  int changing_ops() const;
  // Writes that would make the files' total size exceed `bytes` throw kIo
  // "No space left on device" (0: no limit).
  void set_capacity(uint64_t bytes);
  // Number of operations of a kind performed so far.
  int op_count(FaultOp op) const;

  // The computer name computer_name() reports ("TESTHOST" unless set).
  void set_computer_name(std::string name);

  std::unique_ptr<File> open_file(const std::string& path, OpenMode mode) override;
  std::string computer_name() override;
  bool file_exists(const std::string& path) override;
  void remove_file(const std::string& path) override;
  void rename_file(const std::string& from, const std::string& to) override;
  void sync_dir(const std::string& path) override;

  struct State;  // shared with the File objects it hands out

 private:
  std::shared_ptr<State> state_;
};

}  // namespace jet::testing
