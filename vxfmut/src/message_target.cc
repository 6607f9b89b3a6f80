// Message_Target: the hidden, findable endpoint "VexForms Msg Target" that forwards the
// registered message to its owner. Receiving side of vxfmut/msg_channel.h.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "shared_block.h"
#include "ui.h"
#include "vxfmut/msg_channel.h"
#include "vxfmut/vxfmut.h"

// Named as the C header declares it, hence in the global namespace.
struct Message_Target {
  VfMsgOwner* owner = nullptr;
  int fd = -1;
  std::string path;
  QSocketNotifier* notifier = nullptr;
  bool dispatching = false;
  bool doomed = false;  // deleted from inside its owner's post: destroy when it returns
};

namespace {

std::atomic<unsigned> target_serial{0};

void destroy(Message_Target* target) {
  if (target->notifier) {
    target->notifier->setEnabled(false);
    target->notifier->deleteLater();
  }
  if (target->fd >= 0) ::close(target->fd);
  if (!target->path.empty()) ::unlink(target->path.c_str());
  delete target;
}

void receive(Message_Target* target) {
  target->dispatching = true;
  vxfmut::MsgDatagram datagram{};
  for (;;) {
    ssize_t n = ::recv(target->fd, &datagram, sizeof datagram, MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;  // EAGAIN: drained
    }
    if (n != static_cast<ssize_t>(sizeof datagram) || datagram.magic != vxfmut::kMsgMagic) continue;
    if (datagram.message != vxfmut::shared_block()->registered_message) continue;
    VfMsgOwner* owner = target->owner;
    if (owner && owner->post) {
      owner->post(owner->context, datagram.message, static_cast<uintptr_t>(datagram.wparam),
                  static_cast<intptr_t>(datagram.lparam));
    }
    if (target->doomed) break;
  }
  target->dispatching = false;
  if (target->doomed) destroy(target);
}

// Binds the target's socket; on failure the target simply never receives anything.
void open_endpoint(Message_Target* target) {
  if (!vxfmut::ensure_private_dir(vxfmut::runtime_dir()) ||
      !vxfmut::ensure_private_dir(vxfmut::targets_dir())) {
    return;
  }
  auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                 std::chrono::system_clock::now().time_since_epoch())
                 .count();
  char name[96];
  std::snprintf(name, sizeof name, "%s.%019lld.%ld.%u", vxfmut::kMsgTargetName,
                static_cast<long long>(now), static_cast<long>(::getpid()), target_serial++);
  std::string path = (vxfmut::targets_dir() / name).string();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    std::fprintf(stderr, "VxFmUt60: message target path too long: %s\n", path.c_str());
    return;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return;
  }
  target->fd = fd;
  target->path = path;
  if (!vxfmut::ensure_application()) return;
  target->notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
  QObject::connect(target->notifier, &QSocketNotifier::activated, target->notifier,
                   [target]() { receive(target); });
}

}  // namespace

extern "C" {

VF_API Message_Target* VF_CreateMsgTarget(VfMsgOwner* owner) {
  try {
    auto* target = new (std::nothrow) Message_Target;
    if (!target) return nullptr;
    target->owner = owner;
    open_endpoint(target);
    return target;
  } catch (...) {
    return nullptr;
  }
}

VF_API void VF_DeleteMsgTarget(Message_Target* target) {
  if (!target) return;
  if (target->dispatching) {
    target->doomed = true;
    return;
  }
  try {
    destroy(target);
  } catch (...) {
  }
}

}  // extern "C"
