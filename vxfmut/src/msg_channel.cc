#include "vxfmut/msg_channel.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace vxfmut {

namespace fs = std::filesystem;

fs::path runtime_dir() {
  const char* dir = std::getenv("VXFMUT_RUNTIME_DIR");
  if (dir && *dir) return dir;
  const char* xdg = std::getenv("XDG_RUNTIME_DIR");
  if (xdg && *xdg) return fs::path(xdg) / "tallimo-vxfmut";
  return fs::path("/tmp") / ("tallimo-vxfmut-" + std::to_string(::getuid()));
}

bool ensure_private_dir(const fs::path& dir) {
  std::error_code ec;
  if (!fs::exists(dir, ec)) {
    fs::create_directories(dir.parent_path(), ec);
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  struct stat st {};
  if (::lstat(dir.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

fs::path targets_dir() { return runtime_dir() / "targets"; }

std::vector<fs::path> find_msg_targets() {
  std::vector<fs::path> found;
  std::error_code ec;
  std::string prefix = std::string(kMsgTargetName) + ".";
  for (fs::directory_iterator it(targets_dir(), ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.compare(0, prefix.size(), prefix) == 0) found.push_back(it->path());
  }
  // The creation time is a fixed-width field right after the prefix: newest first.
  std::sort(found.begin(), found.end(),
            [](const fs::path& a, const fs::path& b) { return a.filename() > b.filename(); });
  return found;
}

bool post_msg(const fs::path& path, std::uint32_t message, std::uint64_t wparam,
              std::int64_t lparam, int timeout_ms) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string text = path.string();
  if (text.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  timeval timeout{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  // Connecting makes a full receiver queue block the sender (up to the timeout) instead
  // of failing at once.
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int err = errno;
    ::close(fd);
    if (err == ECONNREFUSED) ::unlink(text.c_str());  // nobody bound: a dead target
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
  for (const fs::path& target : find_msg_targets()) {
    if (post_msg(target, message, wparam, lparam)) return true;
  }
  return false;
}

}  // namespace vxfmut
