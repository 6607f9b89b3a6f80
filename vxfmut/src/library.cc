// Load and unload of the library, the message name registry and Show_Library_Error.
#include "library.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "shared_block.h"
#include "ui.h"
#include "vxfmut/msg_channel.h"
#include "vxfmut/vxfmut.h"

namespace vxfmut {

namespace {

constexpr const char* kMessageName = "VexForms 3.0 IPC Message";
constexpr std::uint16_t kFirstMessageId = 0xC000;
constexpr std::size_t kMaxMessageNames = 0x4000;

bool loading = false;  // messages raised now go to stderr

bool same_name(const std::string& a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

}  // namespace

// The shared memory object "<block name>.messages" lists registered names, one per line;
// a name's identifier is 0xC000 plus its line number (from 0). Names compare without
// regard to ASCII case. Appending happens under flock, so every process that finds the
// block gets the same identifier for the same name, for as long as the object lasts.
std::uint16_t register_message_name(std::string_view name) {
  if (name.empty() || name.find('\n') != std::string_view::npos) return 0;
  std::string object = shared_object_name(".messages");
  int fd = ::shm_open(object.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return 0;
  std::uint16_t id = 0;
  if (::flock(fd, LOCK_EX) == 0) {  // reading leaves the offset at the end
    std::string contents;
    char buffer[4096];
    ssize_t n;
    ::lseek(fd, 0, SEEK_SET);
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0) contents.append(buffer, static_cast<std::size_t>(n));
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < contents.size()) {
      std::size_t end = contents.find('\n', start);
      if (end == std::string::npos) break;  // a torn last line is not a name
      names.push_back(contents.substr(start, end - start));
      start = end + 1;
    }
    std::size_t index = 0;
    while (index < names.size() && !same_name(names[index], name)) ++index;
    if (index == names.size()) {
      std::string line = std::string(name) + "\n";
      if (start != contents.size()) line.insert(line.begin(), '\n');  // close a torn line
      if (start != contents.size()) ++index;
      if (index < kMaxMessageNames &&
          ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
        id = static_cast<std::uint16_t>(kFirstMessageId + index);
      }
    } else if (index < kMaxMessageNames) {
      id = static_cast<std::uint16_t>(kFirstMessageId + index);
    }
  }
  ::close(fd);
  return id;
}

void Show_Library_Error(const char* coded_text, const char* detail) {
  std::string coded = coded_text ? coded_text : "";
  std::string code = coded.substr(0, 4);
  std::string text = "Vexel Forms DLL Error " + code + ": " + (coded.size() > 4 ? coded.substr(4) : "");
  if (detail) text += "\n" + std::string(detail);
  show_message(text, loading);
}

void Load_Library_Settings() {
  loading = true;
  attach_shared_block();
  load_registry_settings();
  std::uint16_t id = register_message_name(kMessageName);
  shared_block()->registered_message = id;
  if (id == 0) Show_Library_Error(kErrRegisterMessage);
  loading = false;
}

void unload_library() {
  release_user_manager();
  detach_shared_block();
  release_application();
}

namespace {

// Runs when the library is loaded into a process and when it leaves it (dlclose or
// process exit). Exceptions never leave these.
__attribute__((constructor)) void on_load() {
  try {
    Load_Library_Settings();
  } catch (...) {
    std::fprintf(stderr, "VxFmUt60: loading the settings failed\n");
  }
}

__attribute__((destructor)) void on_unload() {
  try {
    unload_library();
  } catch (...) {
  }
}

}  // namespace

}  // namespace vxfmut

extern "C" VF_API uint16_t VF_GetRegisteredMsg(void) {
  return vxfmut::shared_block()->registered_message;
}
