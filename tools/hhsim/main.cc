// hhsim: a Palm handheld running the forms application, in its HotSync cradle, with the
// HotSync conduit that serves the desktop's requests. The handheld's tables are .PDB
// files in a folder (the "device").
//
//   hhsim hotsync --device DIR [--creator QTL7] [--idle-ms 10000] [--wait-ms 10000]
//                 [--fail-request N] [--end-result 1]
//       Presses the HotSync button: stores the creator in VxFmUt60's shared block, posts
//       "HotSync started" to the newest message target, then serves the desktop's
//       commands from the shared queue (fetch: device table -> desktop file; send:
//       desktop file -> device table), posting one result per command, until no command
//       has come for --idle-ms; then posts "HotSync ended" with --end-result. The
//       request numbered N (from 1) given to --fail-request is answered with failure.
//       One line per step on stdout.
//   hhsim scan --device DIR TABLE ITEM QTY [DESC]
//       The clerk scans: adds a row to the device's table EQTL70100_<TABLE>.PDB (made with
//       the forms application's columns when missing).
//   hhsim show FILE
//       Prints a handheld table: header, columns, rows (tab separated).
//
// Exit codes: 0 done; 1 no desktop listening (no message target within --wait-ms) or a
// message could not be posted; 2 bad command line; 3 a malformed or unreadable table.
// See app/handheld/hotsync_protocol.h for the protocol.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/handheld/hotsync_protocol.h"
#include "app/handheld/pdb_convert.h"
#include "app/handheld/pdb_file.h"
#include "jet/error.h"
#include "vxfmut/msg_channel.h"
#include "vxfmut/vxfmut.h"

namespace {

namespace fs = std::filesystem;
using namespace tallimo::handheld;

int usage(const char* why) {
  std::fprintf(stderr,
               "hhsim: %s\nusage: hhsim hotsync --device DIR [--creator ABCD] [--idle-ms N] [--wait-ms N] "
               "[--fail-request N] [--end-result 0|1]\n       hhsim scan --device DIR TABLE ITEM QTY [DESC]\n"
               "       hhsim show FILE\n",
               why);
  return 2;
}

bool post(uint64_t code, int64_t value) {
  return vxfmut::post_msg_to_newest_target(VF_GetRegisteredMsg(), code, value);
}

// Copies through a temporary file, renamed over the target.
bool copy_replacing(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  fs::path temp = to;
  temp += ".part";
  if (!fs::copy_file(from, temp, fs::copy_options::overwrite_existing, ec)) return false;
  fs::rename(temp, to, ec);
  if (ec) fs::remove(temp, ec);
  return !ec;
}

// One command: true when it succeeded.
bool serve(int32_t type, const std::string& desktop_file, const fs::path& device, std::string& note) {
  std::string name = fs::path(desktop_file).filename().string();
  try {
    if (type == kCmdFetchTable) {
      std::string on_device = find_without_case(device.string(), name);
      if (on_device.empty()) {
        note = "the handheld has no table " + name;
        return false;
      }
      read_pdb_file(on_device);  // a damaged table is not handed on
      if (!copy_replacing(on_device, desktop_file)) {
        note = "cannot write " + desktop_file;
        return false;
      }
      return true;
    }
    if (type == kCmdSendTable) {
      read_pdb_file(desktop_file);
      std::string existing = find_without_case(device.string(), name);
      fs::path target = existing.empty() ? device / name : fs::path(existing);
      if (!copy_replacing(desktop_file, target)) {
        note = "cannot write " + target.string();
        return false;
      }
      return true;
    }
    note = "unknown command type " + std::to_string(type);
  } catch (const std::exception& e) {
    note = e.what();
  }
  return false;
}

int hotsync(int argc, char** argv) {
  std::string device, creator = "QTL7";
  long idle_ms = 10000, wait_ms = 10000, fail_request = 0, end_result = 1;
  for (int i = 2; i < argc; ++i) {
    std::string option = argv[i];
    if (i + 1 >= argc) return usage("an option needs a value");
    const char* value = argv[++i];
    if (option == "--device") device = value;
    else if (option == "--creator") creator = value;
    else if (option == "--idle-ms") idle_ms = std::atol(value);
    else if (option == "--wait-ms") wait_ms = std::atol(value);
    else if (option == "--fail-request") fail_request = std::atol(value);
    else if (option == "--end-result") end_result = std::atol(value);
    else return usage("unknown option");
  }
  if (device.empty() || !fs::is_directory(device)) return usage("--device must name a folder");
  if (creator.size() != 4) return usage("--creator needs four characters");
  VF_SetCreatorId(pack_creator(creator));
  auto waited = std::chrono::steady_clock::now();
  while (vxfmut::find_msg_targets().empty()) {
    if (std::chrono::steady_clock::now() - waited > std::chrono::milliseconds(wait_ms)) {
      std::fprintf(stderr, "hhsim: no desktop is listening (no VexForms Msg Target)\n");
      return 1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (!post(kMsgSyncStarted, 1)) return 1;
  std::printf("started %s\n", creator.c_str());
  std::fflush(stdout);
  long served = 0;
  auto last = std::chrono::steady_clock::now();
  for (;;) {
    int32_t type = 0, v1 = 0, v2 = 0, v3 = 0;
    uint32_t command_creator = 0;
    const char* library = nullptr;
    char file[260] = {};
    if (VF_GetNextCommandEx(&type, file, sizeof file, &command_creator, &library, &v1, &v2, &v3)) {
      ++served;
      std::string note;
      bool ok = serve(type, file, device, note);
      if (served == fail_request) {
        ok = false;
        note = "failed on request";
      }
      std::printf("%s %s %s%s%s\n", type == kCmdFetchTable ? "fetch" : type == kCmdSendTable ? "send" : "command",
                  fs::path(file).filename().c_str(), ok ? "ok" : "failed", note.empty() ? "" : ": ", note.c_str());
      std::fflush(stdout);
      if (!post(kMsgResult, ok ? 1 : 0)) return 1;
      last = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - last > std::chrono::milliseconds(idle_ms)) {
      break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  post(kMsgSyncEnded, end_result);
  std::printf("ended %ld\n", end_result);
  return 0;
}

PdbTable standard_table(const std::string& table) {
  PdbTable t;
  t.name = table;
  t.created = t.modified = palm_time_now();
  for (const char* text : {"ITEMNUMBER", "DESC"}) t.columns.push_back({text, PdbColumnKind::kText});
  for (const char* number : {"QTY", "COST", "LIST", "PRICE"}) t.columns.push_back({number, PdbColumnKind::kNumber});
  for (const char* text : {"LOCATION", "VENDOR"}) t.columns.push_back({text, PdbColumnKind::kText});
  if (table == "ITEMLIST") t.columns.push_back({"Edit", PdbColumnKind::kYesNo});
  return t;
}

int scan(int argc, char** argv) {
  if (argc < 7 || std::strcmp(argv[2], "--device") != 0) return usage("scan --device DIR TABLE ITEM QTY [DESC]");
  std::string table = argv[4];
  for (char& c : table) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string name = "EQTL70100_" + table + ".PDB";
  std::string path = find_without_case(argv[3], name);
  if (path.empty()) path = (fs::path(argv[3]) / name).string();
  try {
    PdbTable t = fs::exists(path) ? read_pdb_file(path) : standard_table(table);
    std::vector<PdbValue> row(t.columns.size());
    for (std::size_t c = 0; c < t.columns.size(); ++c) {
      const std::string& column = t.columns[c].name;
      if (column == "ITEMNUMBER") row[c] = std::string(argv[5]);
      if (column == "QTY") row[c] = std::atof(argv[6]);
      if (column == "DESC" && argc > 7) row[c] = std::string(argv[7]);
      if (column == "Edit") row[c] = true;
    }
    t.rows.push_back(row);
    t.modified = palm_time_now();
    write_pdb_file(path, t);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hhsim: %s\n", e.what());
    return 3;
  }
  return 0;
}

int show(const char* file) {
  try {
    PdbTable t = read_pdb_file(file);
    std::printf("name=%s creator=%s type=%s version=%d.%d rows=%zu\n", t.name.c_str(), t.creator.c_str(),
                t.type.c_str(), t.version_major, t.version_minor, t.rows.size());
    for (std::size_t c = 0; c < t.columns.size(); ++c) std::printf("%s%s", c ? "\t" : "", t.columns[c].name.c_str());
    std::printf("\n");
    for (const auto& row : t.rows) {
      for (std::size_t c = 0; c < row.size(); ++c) {
        std::printf("%s", c ? "\t" : "");
        if (const auto* s = std::get_if<std::string>(&row[c])) std::printf("%s", s->c_str());
        if (const auto* d = std::get_if<double>(&row[c])) std::printf("%.15g", *d);
        if (const auto* b = std::get_if<bool>(&row[c])) std::printf("%s", *b ? "True" : "False");
      }
      std::printf("\n");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hhsim: %s\n", e.what());
    return 3;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage("no command");
  std::string command = argv[1];
  if (command == "hotsync") return hotsync(argc, argv);
  if (command == "scan") return scan(argc, argv);
  if (command == "show" && argc == 3) return show(argv[2]);
  return usage("unknown command");
}
