// The local channel between a message target ("VexForms Msg Target") and the
// processes that post to it: the HotSync conduit's side of VxFmUt60's messaging.
//
// Static library `vxfmut_channel` (no Qt); the shared library uses the same code for
// the receiving side.
//
// Protocol. Every target is a Unix datagram socket with an abstract name (no file, so
// the name always fits and vanishes with the socket):
//   "VexForms Msg Target.<scope>.<created, ns since epoch, 19 digits>.<pid>.<serial>"
// <scope> is 16 hex digits derived from the shared block's name and the user ID, so the
// processes that share a block find each other's targets whatever their environment
// says, and nobody else's. Targets are found by the name's prefix (Linux lists bound
// abstract names in /proc/net/unix); the newest is the one a conduit normally posts to,
// as a window search finds the topmost window first. A message is one datagram of 24
// bytes in the host's byte order:
//   offset 0  uint32  magic 0x534D4656 ("VFMS")
//   offset 4  uint32  message identifier (VF_GetRegisteredMsg())
//   offset 8  uint64  first parameter (wparam): 2 = completed, 3 = one result
//   offset 16 int64   second parameter (lparam): for code 3, 1 = success, 0 = failure
// Datagrams of another size or magic, or from another user, are dropped.
#pragma once

#include <cstdint>
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

// The shared block's name: $VXFMUT_SHM_NAME (a leading '/' added when missing), else
// "/VxFmUt60-<uid>".
std::string block_name();

// The prefix every target name of this block starts with: "VexForms Msg Target.<scope>.".
std::string target_prefix();

// The names of all live targets of this block, newest first.
std::vector<std::string> find_msg_targets();

// Posts one message to the target of that name. Waits up to `timeout_ms` when the
// target's queue is full. Returns false when the target is gone, the wait timed out or
// the name cannot be used.
bool post_msg(const std::string& name, std::uint32_t message, std::uint64_t wparam,
              std::int64_t lparam, int timeout_ms = 2000);

// Posts to the newest live target. Returns false when there is none.
bool post_msg_to_newest_target(std::uint32_t message, std::uint64_t wparam, std::int64_t lparam);

}  // namespace vxfmut
