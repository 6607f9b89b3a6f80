#include "testing/fault_env.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "jet/error.h"

namespace jet::testing {

struct RangeLock {
  const void* owner;
  uint64_t offset;
  uint64_t length;
  bool exclusive;
};

struct MemFileData {
  std::vector<uint8_t> current;
  std::vector<uint8_t> durable;
  int shared_locks = 0;
  bool exclusive = false;
  std::vector<RangeLock> ranges;
};

struct FaultEnv::State {
  std::map<std::string, std::shared_ptr<MemFileData>> files;
  std::map<std::string, std::shared_ptr<MemFileData>> durable_files;  // directory entries as of the last sync_dir
  int counts[kFaultOpCount] = {};
  int fail_at[kFaultOpCount] = {};
  int changing = 0;
  int kill_at = 0;
  bool dead = false;
  uint64_t capacity = 0;
  std::string computer_name = "TESTHOST";

  void tick(FaultOp op, const std::string& path) {
    static const char* names[] = {"read", "write", "sync", "truncate", "open", "remove", "rename", "sync directory"};
    int i = static_cast<int>(op);
    if (op != FaultOp::kRead && op != FaultOp::kOpen) {
      ++changing;
      if (kill_at > 0 && --kill_at == 0) dead = true;
      if (dead) throw Error(ErrorCategory::kIo, path + ": " + names[i] + " failed: process killed");
    }
    ++counts[i];
    if (fail_at[i] > 0 && --fail_at[i] == 0) {
      throw Error(ErrorCategory::kIo, path + ": " + names[i] + " failed: injected fault");
    }
  }

  uint64_t total_size() const {
    uint64_t n = 0;
    for (const auto& [path, data] : files) n += data->current.size();
    return n;
  }
  void check_space(const std::string& path, uint64_t old_size, uint64_t new_size) const {
    if (capacity == 0 || new_size <= old_size) return;
    if (total_size() - old_size + new_size > capacity) {
      throw Error(ErrorCategory::kIo, path + ": write failed: No space left on device");
    }
  }
};

namespace {
std::string dir_of(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}
}  // namespace

namespace {

class MemFile final : public File {
 public:
  MemFile(std::shared_ptr<FaultEnv::State> state, std::shared_ptr<MemFileData> data, std::string path,
          bool writable)
      : state_(std::move(state)), data_(std::move(data)), path_(std::move(path)), writable_(writable) {}
  ~MemFile() override {
    unlock();
    auto& r = data_->ranges;
    r.erase(std::remove_if(r.begin(), r.end(), [&](const RangeLock& l) { return l.owner == this; }), r.end());
  }

  std::size_t read_at(uint64_t offset, std::size_t n, uint8_t* out) override {
    state_->tick(FaultOp::kRead, path_);
    const auto& bytes = data_->current;
    if (offset >= bytes.size()) return 0;
    std::size_t k = std::min<uint64_t>(n, bytes.size() - offset);
    std::memcpy(out, bytes.data() + offset, k);
    return k;
  }

  void write_at(uint64_t offset, std::size_t n, const uint8_t* data) override {
    if (!writable_) throw Error(ErrorCategory::kIo, path_ + ": write failed: file opened read-only");
    state_->tick(FaultOp::kWrite, path_);
    auto& bytes = data_->current;
    if (bytes.size() < offset + n) {
      state_->check_space(path_, bytes.size(), offset + n);
      bytes.resize(offset + n);
    }
    std::memcpy(bytes.data() + offset, data, n);
  }

  void sync() override {
    state_->tick(FaultOp::kSync, path_);
    data_->durable = data_->current;
  }

  void truncate(uint64_t size) override {
    if (!writable_) throw Error(ErrorCategory::kIo, path_ + ": truncate failed: file opened read-only");
    state_->tick(FaultOp::kTruncate, path_);
    state_->check_space(path_, data_->current.size(), size);
    data_->current.resize(size);
  }

  uint64_t size() override { return data_->current.size(); }

  bool try_lock(LockKind kind) override {
    unlock();
    if (kind == LockKind::kShared) {
      if (data_->exclusive) return false;
      ++data_->shared_locks;
      held_ = 1;
    } else {
      if (data_->exclusive || data_->shared_locks > 0) return false;
      data_->exclusive = true;
      held_ = 2;
    }
    return true;
  }

  void unlock() override {
    if (held_ == 1) --data_->shared_locks;
    if (held_ == 2) data_->exclusive = false;
    held_ = 0;
  }

  bool try_lock_range(uint64_t offset, uint64_t length, LockKind kind) override {
    bool exclusive = kind == LockKind::kExclusive;
    for (const RangeLock& l : data_->ranges) {
      if (l.owner == this) continue;
      bool overlap = offset < l.offset + l.length && l.offset < offset + length;
      if (overlap && (exclusive || l.exclusive)) return false;
    }
    unlock_range(offset, length);
    data_->ranges.push_back(RangeLock{this, offset, length, exclusive});
    return true;
  }

  void unlock_range(uint64_t offset, uint64_t length) override {
    // Whole ranges only: callers unlock what they locked.
    auto& r = data_->ranges;
    r.erase(std::remove_if(r.begin(), r.end(),
                           [&](const RangeLock& l) {
                             return l.owner == this && l.offset >= offset && l.offset + l.length <= offset + length;
                           }),
            r.end());
  }

  const std::string& path() const override { return path_; }

 private:
  std::shared_ptr<FaultEnv::State> state_;
  std::shared_ptr<MemFileData> data_;
  std::string path_;
  bool writable_;
  int held_ = 0;
};

}  // namespace

FaultEnv::FaultEnv() : state_(std::make_shared<State>()) {}
FaultEnv::~FaultEnv() = default;

void FaultEnv::put_file(const std::string& path, std::vector<uint8_t> bytes) {
  auto data = std::make_shared<MemFileData>();
  data->durable = bytes;
  data->current = std::move(bytes);
  state_->durable_files[path] = data;
  state_->files[path] = std::move(data);
}

void FaultEnv::load_file(const std::string& disk_path, const std::string& path) {
  std::ifstream in(disk_path, std::ios::binary);
  if (!in) throw Error(ErrorCategory::kNotFound, disk_path + ": cannot open");
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  put_file(path, std::move(bytes));
}

std::vector<uint8_t> FaultEnv::contents(const std::string& path) const {
  auto it = state_->files.find(path);
  return it == state_->files.end() ? std::vector<uint8_t>{} : it->second->current;
}

void FaultEnv::fail_after(FaultOp op, int count) { state_->fail_at[static_cast<int>(op)] = count; }

int FaultEnv::op_count(FaultOp op) const { return state_->counts[static_cast<int>(op)]; }

void FaultEnv::crash() {
  state_->files = state_->durable_files;
  for (auto& [path, data] : state_->files) data->current = data->durable;
  state_->dead = false;
  state_->kill_at = 0;
  for (int& f : state_->fail_at) f = 0;
}

void FaultEnv::kill_after(int count) {
  state_->kill_at = count;
  state_->dead = false;
}

void FaultEnv::restart() {
  state_->dead = false;
  state_->kill_at = 0;
  for (int& f : state_->fail_at) f = 0;
}

int FaultEnv::changing_ops() const { return state_->changing; }

void FaultEnv::set_capacity(uint64_t bytes) { state_->capacity = bytes; }

std::unique_ptr<File> FaultEnv::open_file(const std::string& path, OpenMode mode) {
  state_->tick(FaultOp::kOpen, path);
  auto it = state_->files.find(path);
  if (mode == OpenMode::kOpenAlways && it != state_->files.end()) {
    // an existing file: opened as it is
  } else if (mode == OpenMode::kCreate || mode == OpenMode::kOpenAlways) {
    state_->tick(FaultOp::kWrite, path);  // creating or truncating changes the disk
    if (it == state_->files.end()) {
      it = state_->files.emplace(path, std::make_shared<MemFileData>()).first;
    } else {
      it->second->current.clear();
    }
  } else if (it == state_->files.end()) {
    throw Error(ErrorCategory::kNotFound, path + ": open failed: No such file or directory");
  }
  return std::make_unique<MemFile>(state_, it->second, path, mode != OpenMode::kReadOnly);
}

void FaultEnv::set_computer_name(std::string name) { state_->computer_name = std::move(name); }
std::string FaultEnv::computer_name() { return state_->computer_name; }

bool FaultEnv::file_exists(const std::string& path) { return state_->files.count(path) != 0; }

void FaultEnv::remove_file(const std::string& path) {
  state_->tick(FaultOp::kRemove, path);
  if (state_->files.erase(path) == 0)
    throw Error(ErrorCategory::kNotFound, path + ": remove failed: No such file or directory");
}

void FaultEnv::rename_file(const std::string& from, const std::string& to) {
  state_->tick(FaultOp::kRename, from);
  auto it = state_->files.find(from);
  if (it == state_->files.end())
    throw Error(ErrorCategory::kNotFound, from + ": rename failed: No such file or directory");
  auto data = it->second;
  state_->files.erase(it);
  state_->files[to] = std::move(data);
}

void FaultEnv::sync_dir(const std::string& path) {
  state_->tick(FaultOp::kSyncDir, path);
  const std::string dir = dir_of(path);
  auto& durable = state_->durable_files;
  for (auto it = durable.begin(); it != durable.end();) {
    it = dir_of(it->first) == dir ? durable.erase(it) : std::next(it);
  }
  for (const auto& [p, data] : state_->files) {
    if (dir_of(p) == dir) durable[p] = data;
  }
}

}  // namespace jet::testing
