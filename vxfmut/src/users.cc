// HotSync users (through the user manager, libUserEdit.so) and the install queue.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "library.h"
#include "registry/registry_store.h"
#include "settings.h"
#include "shared_block.h"
#include "useredit/useredit.h"
#include "vxfmut/vxfmut.h"

namespace vxfmut {

namespace {

namespace fs = std::filesystem;

constexpr int32_t kStatusNotInitialised = 4001;

bool user_manager_ready = false;  // per process

void Ensure_User_Manager() {
  if (user_manager_ready) return;
  std::string folder = settings().hotsync_data_folder;
  if (!folder.empty() && folder.back() != kFileSeparator) folder.push_back(kFileSeparator);
  int32_t status = 0;
  if (InitUserManager(folder.c_str(), &status) != 0) user_manager_ready = true;
}

// Copies a text into a fixed field of the caller's record: at most the field's size
// less one, the rest zero, so the field always ends in a terminator. The user manager's
// folder field (292 bytes) is longer than the caller's (260): a longer folder is cut.
template <std::size_t kOut, std::size_t kIn>
void copy_field(char (&out)[kOut], const char (&in)[kIn]) {
  std::memset(out, 0, kOut);
  std::memcpy(out, in, strnlen(in, std::min(kIn, kOut - 1)));
}

void copy_record_out(const UserEditRecord& in, User_Record* out) {
  out->id = in.id;
  copy_field(out->name, in.name);
  copy_field(out->folder, in.folder);
  out->value = in.value;
}

// The file's base name and extension, after the last separator of either kind.
std::string file_part(const std::string& path) {
  std::size_t last = path.find_last_of("/\\");
  return last == std::string::npos ? path : path.substr(last + 1);
}

// Copies source over target through a temporary file beside it, with permissions
// rw-r--r--, so the target is either the old file or the complete new one.
bool copy_replacing(const std::string& source, const std::string& target) {
  std::error_code ec;
  if (!fs::is_regular_file(source, ec)) return false;
  std::string temp = target + ".vxfmut-part";
  fs::remove(temp, ec);
  if (!fs::copy_file(source, temp, fs::copy_options::overwrite_existing, ec)) return false;
  if (::chmod(temp.c_str(), 0644) != 0 || ::rename(temp.c_str(), target.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  return true;
}

std::optional<UserEditRecord> find_user(uint32_t id) {
  UserEditRecord record{};
  int32_t status = 0;
  if (FindUserByID(id, &record, &status) == 0) return std::nullopt;
  return record;
}

}  // namespace

void release_user_manager() {
  if (!user_manager_ready) return;
  int32_t status = 0;
  UninitUserManager(&status);
  user_manager_ready = false;
}

}  // namespace vxfmut

using namespace vxfmut;

extern "C" {

VF_API int32_t VF_FindFirstUser(User_Record* record, int32_t reserved) {
  try {
    Ensure_User_Manager();
    UserEditRecord found{};
    int32_t result = FindFirstUser(&found, reserved);
    if (result != 0 && record) copy_record_out(found, record);
    return result;
  } catch (...) {
    return 0;
  }
}

VF_API int32_t VF_FindNextUser(User_Record* record, int32_t reserved) {
  try {
    Ensure_User_Manager();
    UserEditRecord found{};
    int32_t result = FindNextUser(&found, reserved);
    if (result != 0 && record) copy_record_out(found, record);
    return result;
  } catch (...) {
    return 0;
  }
}

VF_API int32_t VF_FindUserByID(uint32_t id, User_Record* record, int32_t* status) {
  try {
    Ensure_User_Manager();
    UserEditRecord found{};
    int32_t result = FindUserByID(id, &found, status);
    if (result != 0 && record) copy_record_out(found, record);
    return result;
  } catch (...) {
    return 0;
  }
}

VF_API int32_t VF_AddUser(User_Record* record, int32_t reserved) {
  try {
    Ensure_User_Manager();
    if (!record) return 0;
    UserEditRecord added{};
    std::memcpy(added.name, record->name, strnlen(record->name, sizeof added.name - 1));
    int32_t result = AddUser(&added, reserved);
    if (result != 0) {
      record->id = added.id;
      copy_field(record->folder, added.folder);
      record->value = added.value;
    }
    return result;
  } catch (...) {
    return 0;
  }
}

VF_API int32_t VF_DeleteUser(uint32_t id, int32_t reserved) {
  Ensure_User_Manager();
  return DeleteUser(id, reserved);
}

VF_API int32_t VF_RenameUser(uint32_t id, const char* new_name, int32_t reserved) {
  Ensure_User_Manager();
  return RenameUser(id, new_name, reserved);
}

VF_API int32_t VF_CommitUserChanges(int32_t reserved) {
  Ensure_User_Manager();
  return SaveUserChanges(reserved);
}

VF_API int32_t VF_AbandonUserChanges(int32_t* status) {
  try {
    if (!user_manager_ready) {
      if (status) *status = kStatusNotInitialised;
      return 0;
    }
    UninitUserManager(status);
    user_manager_ready = false;
    std::string folder = settings().hotsync_data_folder;
    if (!folder.empty() && folder.back() != kFileSeparator) folder.push_back(kFileSeparator);
    int32_t result = InitUserManager(folder.c_str(), status);
    user_manager_ready = result != 0;
    return result;
  } catch (...) {
    return 0;
  }
}

VF_API int32_t VF_InstallPRC(uint32_t user_id, const char* file) {
  try {
    if (user_id == 0) user_id = static_cast<uint32_t>(shared_block()->hotsync_user_id);
    if (user_id == 0) return 0;
    Ensure_User_Manager();
    std::optional<UserEditRecord> user = find_user(user_id);
    if (user) {
      std::string install = Join_Path(Join_Path(settings().hotsync_data_folder, user->folder), "Install");
      std::error_code ec;
      if (!fs::is_directory(install, ec)) {
        fs::create_directory(install, ec);
        if (ec || !fs::is_directory(install, ec)) return 0;
      }
      std::string source = file ? file : "";
      std::string target = Join_Path(install, file_part(source));
      if (!copy_replacing(source, target)) {
        std::string detail = "\n\nSource = \"" + source + "\"\nTarget = \"" + target + "\"";
        Show_Library_Error(kErrInstallCopy, detail.c_str());
        return 0;
      }
    }
    registry::Store store = registry::Store::open_default();
    std::optional<registry::Key> key = store.open_key(
        registry::Hive::kCurrentUser, Join_Path(settings().palm_user_key, "HotSync Manager", kKeySeparator));
    if (!key) return 0;
    key->set_dword("Install" + std::to_string(user_id), 1);
    return 1;
  } catch (...) {
    return 0;
  }
}

VF_API int32_t VF_CheckInstallPending(uint32_t user_id) {
  try {
    Ensure_User_Manager();
    std::optional<UserEditRecord> user = find_user(user_id);
    if (!user) return 0;
    std::string install = Join_Path(Join_Path(settings().hotsync_data_folder, user->folder), "Install");
    std::error_code ec;
    for (fs::directory_iterator it(install, ec), end; !ec && it != end; it.increment(ec)) {
      if (!it->is_directory(ec)) return 1;
    }
    return 0;
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
