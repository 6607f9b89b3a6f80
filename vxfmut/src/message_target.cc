// Message_Target: the hidden, findable endpoint "VexForms Msg Target" that forwards the
// registered message to its owner. Receiving side of vxfmut/msg_channel.h.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <cstddef>
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
  std::string name;  // abstract socket name, see msg_channel.h
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
  if (target->fd >= 0) ::close(target->fd);  // the abstract name goes with the socket
  delete target;
}

void receive(Message_Target* target) {
  target->dispatching = true;
  vxfmut::MsgDatagram datagram{};
  for (;;) {
    iovec data{&datagram, sizeof datagram};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
    msghdr header{};
    header.msg_iov = &data;
    header.msg_iovlen = 1;
    header.msg_control = control;
    header.msg_controllen = sizeof control;
    ssize_t n = ::recvmsg(target->fd, &header, MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;  // EAGAIN: drained
    }
    if (n != static_cast<ssize_t>(sizeof datagram) || datagram.magic != vxfmut::kMsgMagic) continue;
    // Abstract names carry no permissions: only messages of this user count.
    bool same_user = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&header); c; c = CMSG_NXTHDR(&header, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_CREDENTIALS) {
        ucred credentials{};
        std::memcpy(&credentials, CMSG_DATA(c), sizeof credentials);
        same_user = credentials.uid == ::getuid();
      }
    }
    if (!same_user) continue;
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
  auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                 std::chrono::system_clock::now().time_since_epoch())
                 .count();
  char tail[64];
  std::snprintf(tail, sizeof tail, "%019lld.%ld.%u", static_cast<long long>(now),
                static_cast<long>(::getpid()), target_serial++);
  std::string name = vxfmut::target_prefix() + tail;  // at most 80 characters
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (name.size() + 1 > sizeof address.sun_path) return;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return;
  int on = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
      ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    std::fprintf(stderr, "VxFmUt60: cannot open the message target %s: %s\n", name.c_str(),
                 std::strerror(errno));
    ::close(fd);
    return;
  }
  target->fd = fd;
  target->name = name;
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
