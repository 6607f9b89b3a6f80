// The local channel between a message target ("VexForms Msg Target") and the
// processes that post to it: the HotSync conduit's side of VxFmUt60's messaging.
//
// Static library `vxfmut_channel` (no Qt); the shared library uses the same code for
// the receiving side.
//
// Protocol. Every target is a Unix datagram socket bound in
//   <runtime folder>/targets/VexForms Msg Target.<created, ns since epoch, 19 digits>.<pid>.<serial>
// (runtime folder: see runtime_dir()). Targets are found by the name's prefix; the
// newest is the one a conduit normally posts to, as a window search finds the topmost
// window first. A message is one datagram of 24 bytes in the host's byte order:
//   offset 0  uint32  magic 0x534D4656 ("VFMS")
//   offset 4  uint32  message identifier (VF_GetRegisteredMsg())
//   offset 8  uint64  first parameter (wparam): 2 = completed, 3 = one result
//   offset 16 int64   second parameter (lparam): for code 3, 1 = success, 0 = failure
// Datagrams of another size or magic are dropped. A socket file whose process is gone
// refuses the connection; senders skip and remove it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vxfmut {

inline constexpr std::uint32_t kMsgMagic = 0x534D4656u;
inline constexpr const char* kMsgTargetName = "VexForms Msg Target";

struct MsgDatagram {
  std::uint32_t magic;
  std::uint32_t message;
  std::uint64_t wparam;
  std::int64_t lparam;
};
static_assert(sizeof(MsgDatagram) == 24);

// $VXFMUT_RUNTIME_DIR if set and not empty; else $XDG_RUNTIME_DIR/tallimo-vxfmut; else
// /tmp/tallimo-vxfmut-<uid>. Not created here.
std::filesystem::path runtime_dir();

// Creates the folder (and its parents) with mode 0700 when missing. A folder that
// exists must belong to this user and not be a symbolic link. Returns false otherwise.
bool ensure_private_dir(const std::filesystem::path& dir);

// Folder of the targets' sockets: runtime_dir() / "targets".
std::filesystem::path targets_dir();

// The socket files of all targets, newest first.
std::vector<std::filesystem::path> find_msg_targets();

// Posts one message to the target at `path`. Waits up to `timeout_ms` when the target's
// queue is full. Returns false when the target is gone (its file is then removed), the
// wait timed out or the path cannot be used.
bool post_msg(const std::filesystem::path& path, std::uint32_t message, std::uint64_t wparam,
              std::int64_t lparam, int timeout_ms = 2000);

// Posts to the newest live target. Returns false when there is none.
bool post_msg_to_newest_target(std::uint32_t message, std::uint64_t wparam, std::int64_t lparam);

}  // namespace vxfmut
