// How the forms-runtime control (desktop) and the HotSync conduit (the handheld
// simulator, tools/hhsim) talk, through VxFmUt60 only:
//
// Desktop -> conduit: the shared command queue. One command per request,
//   VF_AddToCommandQueueEx(type, desktop file, creator, library name, 0, 1, 0)
//   type kCmdFetchTable: copy the handheld's table into the desktop file (a .PDB beside
//                        the template, named as in pdb_convert.h)
//   type kCmdSendTable:  copy the desktop file to the handheld, replacing its table
//   The creator is the four-character code packed first character highest; the library
//   name and the three numbers are those the caller gave Fetch_Table / Send_Table.
//
// Conduit -> desktop: the registered message "VexForms 3.0 IPC Message", posted to the
// newest "VexForms Msg Target", after the conduit has stored the creator ID of the
// application it synchronises in the shared block (VF_SetCreatorId):
//   wparam kMsgSyncStarted (lparam 1)        a HotSync of that application has started
//   wparam kMsgResult (lparam 1 / 0)         the oldest request taken has succeeded / failed
//   wparam kMsgSyncEnded (lparam 1 / 0)      the HotSync has ended, successfully or not
// Codes 2 and 3 are those VxFmUt60's wait dialog understands, so a wait dialog of the
// forms runtime can wait on the same conduit.
#pragma once

#include <cstdint>
#include <string>

namespace tallimo::handheld {

inline constexpr int32_t kCmdFetchTable = 3;
inline constexpr int32_t kCmdSendTable = 4;

inline constexpr uint64_t kMsgSyncStarted = 1;
inline constexpr uint64_t kMsgSyncEnded = 2;
inline constexpr uint64_t kMsgResult = 3;

inline uint32_t pack_creator(const std::string& code) {
  uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value = value << 8 | (i < code.size() ? static_cast<unsigned char>(code[i]) : 0u);
  }
  return value;
}

inline std::string unpack_creator(uint32_t value) {
  std::string code;
  for (int shift = 24; shift >= 0; shift -= 8) {
    char c = static_cast<char>(value >> shift & 0xFF);
    if (c != '\0') code.push_back(c);
  }
  return code;
}

}  // namespace tallimo::handheld
