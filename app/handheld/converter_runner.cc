#include "app/handheld/converter_runner.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "app/handheld/templates.h"
#include "app/session.h"
#include "app/user_interface.h"

extern char** environ;

namespace tallimo::handheld {

namespace fs = std::filesystem;

namespace {

std::string own_folder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : exe.parent_path().string();
}

bool executable(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

std::string search(const std::string& name) {
  if (name.find('/') != std::string::npos) return executable(name) ? name : std::string();
  std::vector<std::string> folders;
  std::string own = own_folder();
  if (!own.empty()) folders.push_back(own);
  const char* path = std::getenv("PATH");
  std::string list = path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    folders.push_back(end == start ? "." : list.substr(start, end - start));
    start = end + 1;
  }
  for (const std::string& folder : folders) {
    fs::path candidate = fs::path(folder) / name;
    if (executable(candidate)) return candidate.string();
  }
  return {};
}

// Stops the child's process group: SIGTERM, then SIGKILL after a second.
void stop(pid_t child) {
  ::kill(-child, SIGTERM);
  for (int i = 0; i < 50; ++i) {
    if (::waitpid(child, nullptr, WNOHANG) == child) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(-child, SIGKILL);
  while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace

std::chrono::milliseconds converter_time_limit() {
  if (const char* text = std::getenv("TALLIMO_CONVERTER_SECONDS")) {
    char* end = nullptr;
    long seconds = std::strtol(text, &end, 10);
    if (*text && *end == '\0' && seconds > 0) return std::chrono::seconds(seconds);
  }
  return std::chrono::seconds(300);
}

std::vector<std::string> split_command_line(const std::string& command_line) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false, quoted = false;
  for (char c : command_line) {
    if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if (c == ' ' && !quoted) {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else {
      word.push_back(c);
      in_word = true;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

std::string find_program(const std::string& word) {
  std::string found = search(word);
  constexpr std::string_view kExe = ".exe";
  if (found.empty() && word.size() > kExe.size()) {
    std::string tail = word.substr(word.size() - kExe.size());
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (tail == kExe) found = search(word.substr(0, word.size() - kExe.size()));
  }
  return found;
}

int64_t Run_And_Wait(Session& session, const std::string& command_line) {
  std::vector<std::string> words = split_command_line(command_line);
  if (words.empty()) return kRunNotStarted;
  std::string program = find_program(words[0]);
  if (program.empty()) return kRunNotStarted;
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);  // a group of its own, stopped as one
  pid_t child = 0;
  int rc = ::posix_spawn(&child, program.c_str(), nullptr, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) return kRunNotStarted;

  auto deadline = std::chrono::steady_clock::now() + converter_time_limit();
  int status = 0;
  for (;;) {
    pid_t done = ::waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (done < 0 && errno != EINTR) return kRunNotStarted;
    session.ui().do_events();
    if (session.abort_requested()) {
      stop(child);
      return kRunCancelled;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      stop(child);
      return kRunTimedOut;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kRunNotStarted;
}

std::string converter_command_line(const std::string& strConvertType, const std::string& strDBFilename) {
  return std::string("VFConvertPDB.exe ") + strConvertType + " -filename \"" + strDBFilename + "\" -creatorid " +
         kCreatorId + " -versionmajor 1 -versionminor 0 -quiet";
}

namespace {
void message(Session& session, const std::string& text) {
  session.ui().message_box(text, MessageButtons::kOk, MessageIcon::kNone, "Tallimo");
}
}  // namespace

int16_t exit_code_as_int16(Session& session, int64_t code) {
  if (code >= INT16_MIN && code <= INT16_MAX) return static_cast<int16_t>(code);
  message(session, "The database converter ended with exit code " + std::to_string(code) +
                       ", which is outside the range of the converter's result (-32768 to 32767); it is "
                       "reported as -1.");
  return -1;
}

int16_t VFConvertPDB(Session& session, const std::string& strConvertType, const std::string& strDBFilename) {
  int64_t code = Run_And_Wait(session, converter_command_line(strConvertType, strDBFilename));
  if (code == kRunNotStarted) {
    message(session, "The database converter VFConvertPDB could not be started (not found beside the "
                         "program or on the PATH).");
  } else if (code == kRunTimedOut) {
    auto seconds = std::chrono::duration_cast<std::chrono::seconds>(converter_time_limit()).count();
    message(session, "The database converter did not finish within " + std::to_string(seconds) +
                         " seconds and was stopped (" + strDBFilename + ").");
  } else if (code == kRunCancelled) {
    message(session, "The database converter was stopped (" + strDBFilename + ").");
  }
  return exit_code_as_int16(session, code);
}

}  // namespace tallimo::handheld
