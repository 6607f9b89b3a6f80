#include "vxfmut/msg_channel.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vxfmut {

std::string block_name() {
  const char* name = std::getenv("VXFMUT_SHM_NAME");
  std::string result = (name && *name) ? name : "/VxFmUt60-" + std::to_string(::getuid());
  if (result[0] != '/') result.insert(result.begin(), '/');
  return result;
}

std::string target_prefix() {
  // FNV-1a over the block name and the user ID: a short scope of fixed width.
  std::uint64_t hash = 0xcbf29ce484222325ull;
  std::string key = block_name() + '\0' + std::to_string(::getuid());
  for (unsigned char c : key) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  }
  char scope[17];
  std::snprintf(scope, sizeof scope, "%016llx", static_cast<unsigned long long>(hash));
  return std::string(kMsgTargetName) + "." + scope + ".";
}

std::vector<std::string> find_msg_targets() {
  // /proc/net/unix: "Num RefCount Protocol Flags Type St Inode Path"; abstract names
  // are shown with a leading '@'. Our names contain blanks, so the path is the rest of
  // the line after the seventh field.
  std::vector<std::string> found;
  std::ifstream in("/proc/net/unix");
  std::string line;
  std::string wanted = "@" + target_prefix();
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    std::size_t position = 0;
    for (int field = 0; field < 7 && position != std::string::npos; ++field) {
      position = line.find_first_not_of(' ', position);
      if (position != std::string::npos) position = line.find(' ', position);
    }
    if (position == std::string::npos) continue;
    std::string path = line.substr(position + 1);
    if (path.compare(0, wanted.size(), wanted) == 0) found.push_back(path.substr(1));
  }
  // The creation time is a fixed-width field right after the prefix: newest first. A
  // socket may appear twice (bound and in use): keep one entry per name.
  std::sort(found.begin(), found.end(), std::greater<>());
  found.erase(std::unique(found.begin(), found.end()), found.end());
  return found;
}

bool post_msg(const std::string& name, std::uint32_t message, std::uint64_t wparam,
              std::int64_t lparam, int timeout_ms) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (name.empty() || name.size() + 1 > sizeof address.sun_path) return false;
  std::memcpy(address.sun_path + 1, name.data(), name.size());  // abstract: leading NUL
  auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  // Connecting makes a full receiver queue block the sender (up to the timeout) instead
  // of failing at once.
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    ::close(fd);
    return false;
  }
  MsgDatagram datagram{kMsgMagic, message, wparam, lparam};
  ssize_t sent;
  do {
    sent = ::send(fd, &datagram, sizeof datagram, MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  ::close(fd);
  return sent == static_cast<ssize_t>(sizeof datagram);
}

bool post_msg_to_newest_target(std::uint32_t message, std::uint64_t wparam, std::int64_t lparam) {
  for (const std::string& target : find_msg_targets()) {
    if (post_msg(target, message, wparam, lparam)) return true;
  }
  return false;
}

}  // namespace vxfmut
