// Load_Library_Settings' registry part and the path exports.
#include "settings.h"

#include "paths.h"

#include <cstdio>
#include <exception>
#include <optional>
#include <vector>

#include "library.h"
#include "registry/registry_store.h"
#include "ui.h"
#include "vxfmut/vxfmut.h"

namespace vxfmut {

namespace {

constexpr const char* kProductKey = "SOFTWARE\\Brannock\\Vexel Forms 6.0\\CurrentVersion";
constexpr const char* kProductRoot = "SOFTWARE";
constexpr const char* kProductName = "Brannock\\Vexel Forms 6.0";
constexpr const char* kUsRoboticsUserKey = "Software\\U.S. Robotics\\Pilot Desktop";
constexpr const char* kUsRoboticsMachineKey = "SOFTWARE\\U.S. Robotics\\PalmPilot Desktop";
constexpr const char* kPalmComputingUserKey = "Software\\Palm Computing\\Pilot Desktop";
constexpr const char* kPalmComputingMachineKey = "SOFTWARE\\Palm Computing\\Pilot Desktop";
constexpr std::size_t kMaxText = 259;  // texts are read into 260-character buffers

// Never destroyed: exports may run from other libraries' exit handlers.
Library_Settings& mutable_settings() {
  static Library_Settings* instance = new Library_Settings;
  return *instance;
}

std::string cut(std::string text) {
  if (text.size() > kMaxText) text.resize(kMaxText);
  return text;
}

void read_forms_folder(const registry::Store& store, Library_Settings& s) {
  std::optional<registry::Key> key = store.open_key(registry::Hive::kLocalMachine, kProductKey);
  if (!key) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "Vexel Forms is not installed properly. Please repair this installation or run "
                  "the original Vexel Forms installer. HKEY_LOCAL_MACHINE\\%s is missing.",
                  kProductKey);
    show_message(text, true);
    return;
  }
  std::optional<std::string> name = key->query_string("Keyname");
  if (!name) return;
  std::string path = std::string(kProductRoot) + "\\" + kProductName + "\\" + cut(*name);
  std::optional<registry::Key> version = store.open_key(registry::Hive::kLocalMachine, path);
  if (!version) return;
  s.forms_folder = cut(version->query_string("Path").value_or(""));
}

void read_palm(const registry::Store& store, Library_Settings& s) {
  s.palm_user_key = kUsRoboticsUserKey;
  s.palm_machine_key = kUsRoboticsMachineKey;
  std::optional<registry::Key> user = store.open_key(registry::Hive::kCurrentUser, s.palm_user_key);
  if (!user) {
    s.palm_user_key = kPalmComputingUserKey;
    s.palm_machine_key = kPalmComputingMachineKey;
    user = store.open_key(registry::Hive::kCurrentUser, s.palm_user_key);
  }
  if (!user) {
    s.palm_user_key.clear();
    s.palm_machine_key.clear();
    return;
  }
  std::optional<registry::Key> core =
      store.open_key(registry::Hive::kCurrentUser, s.palm_user_key + "\\Core");
  if (core) {
    s.hotsync_path = cut(core->query_string("HotSyncPath").value_or(""));
    s.hotsync_folder = folder_of(s.hotsync_path);
    s.hotsync_data_folder = cut(core->query_string("Path").value_or(""));
  }
  std::optional<registry::Key> machine =
      store.open_key(registry::Hive::kLocalMachine, s.palm_machine_key);
  if (machine) s.hotsync_version = highest_version(machine->subkeys());
}

}  // namespace

const Library_Settings& settings() { return mutable_settings(); }

void load_registry_settings() {
  Library_Settings& s = mutable_settings();
  s = Library_Settings{};
  try {
    registry::Store store = registry::Store::open_default();
    read_forms_folder(store, s);
    read_palm(store, s);
  } catch (const std::exception& e) {
    show_message(std::string("VxFmUt60: cannot read the registry store: ") + e.what(), true);
  }
}

}  // namespace vxfmut

using namespace vxfmut;

extern "C" {

VF_API int32_t VF_GetVexFormsDir(char* buffer, int32_t length) {
  return Copy_Out_Text(buffer, length, settings().forms_folder);
}
// The same function under its second name.
VF_API int32_t VF_GetTrennicDir(char* buffer, int32_t length)
    __attribute__((alias("VF_GetVexFormsDir")));
VF_API int32_t VF_GetPalmKey(char* buffer, int32_t length) {
  return Copy_Out_Text(buffer, length, settings().palm_user_key);
}
VF_API int32_t VF_GetHotSyncDir(char* buffer, int32_t length) {
  return Copy_Out_Text(buffer, length, settings().hotsync_folder);
}
VF_API int32_t VF_GetHotSyncDataDir(char* buffer, int32_t length) {
  return Copy_Out_Text(buffer, length, settings().hotsync_data_folder);
}
VF_API int32_t VF_GetHotSyncPath(char* buffer, int32_t length) {
  return Copy_Out_Text(buffer, length, settings().hotsync_path);
}
VF_API uint32_t VF_GetHotSyncVersion(void) { return settings().hotsync_version; }

}  // extern "C"
