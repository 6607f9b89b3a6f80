#include "testing/fault_env.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "jet/error.h"

namespace jet::testing {

struct MemFileData {
  std::vector<uint8_t> current;
  std::vector<uint8_t> durable;
  int shared_locks = 0;
  bool exclusive = false;
};

struct FaultEnv::State {
  std::map<std::string, std::shared_ptr<MemFileData>> files;
  int counts[5] = {0, 0, 0, 0, 0};
  int fail_at[5] = {0, 0, 0, 0, 0};

  void tick(FaultOp op, const std::string& path) {
    int i = static_cast<int>(op);
    ++counts[i];
    if (fail_at[i] > 0 && --fail_at[i] == 0) {
      static const char* names[] = {"read", "write", "sync", "truncate", "open"};
      throw Error(ErrorCategory::kIo, path + ": " + names[i] + " failed: injected fault");
    }
  }
};

namespace {

class MemFile final : public File {
 public:
  MemFile(std::shared_ptr<FaultEnv::State> state, std::shared_ptr<MemFileData> data, std::string path,
          bool writable)
      : state_(std::move(state)), data_(std::move(data)), path_(std::move(path)), writable_(writable) {}
  ~MemFile() override { unlock(); }

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
    if (bytes.size() < offset + n) bytes.resize(offset + n);
    std::memcpy(bytes.data() + offset, data, n);
  }

  void sync() override {
    state_->tick(FaultOp::kSync, path_);
    data_->durable = data_->current;
  }

  void truncate(uint64_t size) override {
    if (!writable_) throw Error(ErrorCategory::kIo, path_ + ": truncate failed: file opened read-only");
    state_->tick(FaultOp::kTruncate, path_);
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
  for (auto& [path, data] : state_->files) data->current = data->durable;
}

std::unique_ptr<File> FaultEnv::open_file(const std::string& path, OpenMode mode) {
  state_->tick(FaultOp::kOpen, path);
  auto it = state_->files.find(path);
  if (mode == OpenMode::kCreate) {
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

bool FaultEnv::file_exists(const std::string& path) { return state_->files.count(path) != 0; }

void FaultEnv::remove_file(const std::string& path) {
  if (state_->files.erase(path) == 0)
    throw Error(ErrorCategory::kNotFound, path + ": remove failed: No such file or directory");
}

void FaultEnv::rename_file(const std::string& from, const std::string& to) {
  auto it = state_->files.find(from);
  if (it == state_->files.end())
    throw Error(ErrorCategory::kNotFound, from + ": rename failed: No such file or directory");
  auto data = it->second;
  state_->files.erase(it);
  state_->files[to] = std::move(data);
}

void FaultEnv::sync_dir(const std::string&) {}

}  // namespace jet::testing
