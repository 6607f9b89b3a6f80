#include "test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace vxfmut_test {

namespace fs = std::filesystem;

fs::path test_root() {
  const char* root = std::getenv("VXFMUT_TEST_ROOT");
  return root ? root : fs::temp_directory_path();
}

fs::path hotsync_data_dir() { return test_root() / "Palm" / "data"; }

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

void write_registry(const fs::path& dir, const std::string& current_user,
                    const std::string& local_machine) {
  write_file(dir / "HKEY_CURRENT_USER.reg", current_user);
  write_file(dir / "HKEY_LOCAL_MACHINE.reg", local_machine);
}

std::string shm_name() {
  const char* name = std::getenv("VXFMUT_SHM_NAME");
  return name ? name : "";
}

// ---------------------------------------------------------------- Peer

Peer::Peer(const std::vector<std::string>& steps, const std::map<std::string, std::string>& overrides) {
  static int counter = 0;
  ++counter;
  out_ = test_root() / ("peer-" + std::to_string(::getpid()) + "-" + std::to_string(counter) + ".out");
  err_ = out_;
  err_.replace_extension(".err");
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    std::string key = entry.substr(0, entry.find('='));
    if (!overrides.count(key)) env.push_back(entry);
  }
  for (const auto& [key, value] : overrides) {
    if (!value.empty()) env.push_back(key + "=" + value);
  }
  std::vector<std::string> args = {VXFMUT_PEER_PATH};
  args.insert(args.end(), steps.begin(), steps.end());
  std::vector<char*> argv, envp;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(rc);
    pid_ = -1;
  }
}

Peer::~Peer() {
  if (pid_ > 0 && !reaped_) kill_hard();
}

bool Peer::running() {
  if (pid_ <= 0 || reaped_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) {
    reaped_ = true;
    status_ = status;
    return false;
  }
  return true;
}

bool Peer::wait_for_line(const std::string& line, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    std::string text = "\n" + out();
    if (text.find("\n" + line + "\n") != std::string::npos) return true;
    if (!running()) {
      text = "\n" + out();
      return text.find("\n" + line + "\n") != std::string::npos;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

int Peer::wait(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (running()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      kill_hard();
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  if (pid_ <= 0) return -1;
  if (WIFEXITED(status_)) return WEXITSTATUS(status_);
  if (WIFSIGNALED(status_)) return 128 + WTERMSIG(status_);
  return -1;
}

void Peer::kill_hard() {
  if (pid_ <= 0 || reaped_) return;
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, &status_, 0);
  reaped_ = true;
}

std::string Peer::out() const { return read_file(out_); }
std::string Peer::err() const { return read_file(err_); }

std::string run_peer(const std::vector<std::string>& steps,
                     const std::map<std::string, std::string>& overrides) {
  Peer peer(steps, overrides);
  int code = peer.wait();
  EXPECT_EQ(code, 0) << "peer failed; stdout:\n" << peer.out() << "stderr:\n" << peer.err();
  return peer.out();
}

// ---------------------------------------------------------------- CaptureStderr

CaptureStderr::CaptureStderr() {
  static int counter = 0;
  file_ = test_root() / ("stderr-" + std::to_string(++counter) + ".txt");
  std::fflush(stderr);
  saved_ = ::dup(2);
  int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(fd, 2);
  ::close(fd);
}

CaptureStderr::~CaptureStderr() {
  std::fflush(stderr);
  ::dup2(saved_, 2);
  ::close(saved_);
}

std::string CaptureStderr::text() {
  std::fflush(stderr);
  return read_file(file_);
}

// ---------------------------------------------------------------- RawBlock

RawBlock::RawBlock(const std::string& name) {
  int fd = ::shm_open(name.c_str(), O_RDWR, 0600);
  if (fd < 0) {
    ADD_FAILURE() << "cannot open shared memory " << name;
    return;
  }
  struct stat st {};
  ::fstat(fd, &st);
  size_ = static_cast<std::size_t>(st.st_size);
  void* address = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (address != MAP_FAILED) base_ = static_cast<unsigned char*>(address);
}

RawBlock::~RawBlock() {
  if (base_) ::munmap(base_, size_);
}

std::int32_t RawBlock::int_at(std::size_t offset) const {
  std::int32_t value = 0;
  if (base_ && offset + 4 <= size_) std::memcpy(&value, base_ + offset, 4);
  return value;
}

std::string RawBlock::text_at(std::size_t offset) const {
  if (!base_ || offset >= size_) return {};
  return std::string(reinterpret_cast<const char*>(base_ + offset));
}

}  // namespace vxfmut_test

// ---------------------------------------------------------------- main
//
// Runs inside the private environment that vxfmut_test (test_launcher.cc) prepared.

int main(int argc, char** argv) {
  if (!std::getenv("VXFMUT_TEST_ROOT")) {
    std::fprintf(stderr, "run this through vxfmut_test, which prepares its environment\n");
    return 2;
  }
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
