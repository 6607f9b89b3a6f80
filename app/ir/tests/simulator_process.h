// The R50 simulator as a process of its own, for tests that must outlive (or kill)
// the program talking to it.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace tallimo {

// Starts R50SIM_PROGRAM with `args`; path() is the terminal it serves (empty when it
// did not start). Stopped with SIGTERM (so it saves its contents file) when destroyed.
class SimulatorProcess {
 public:
  explicit SimulatorProcess(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv{const_cast<char*>(R50SIM_PROGRAM)};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(R50SIM_PROGRAM, argv.data());
      _exit(127);
    }
    close(out[1]);
    // The first line is the terminal's path.
    struct pollfd p = {out[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') path_ += c;
    close(out[0]);
  }
  ~SimulatorProcess() { stop(); }
  // Asks the simulator to save and exit; waits for it.
  void stop() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      exited_ = true;
    }
  }
  const std::string& path() const { return path_; }
  // Waits up to `seconds` for the process to end by itself; returns its exit status.
  int wait_exit(double seconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -2;
  }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
  std::string path_;
};


}  // namespace tallimo
