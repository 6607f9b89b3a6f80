#include "app/handheld/forms_control.h"

#include <dlfcn.h>

#include <QSettings>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "app/session.h"
#include "app/handheld/hotsync_protocol.h"
#include "app/handheld/pdb_convert.h"
#include "jet/error.h"

namespace tallimo::handheld {

namespace fs = std::filesystem;

namespace {

// The parts of VxFmUt60's C interface the control uses (vxfmut/include/vxfmut/vxfmut.h).
struct MsgOwner {
  void (*post)(void* context, uint32_t message, uintptr_t wparam, intptr_t lparam);
  void* context;
};
using AddToQueue = int32_t (*)(int32_t, const char*, uint32_t, const char*, int32_t, int32_t, int32_t);
using GetCreator = uint32_t (*)();
using CreateTarget = void* (*)(MsgOwner*);
using DeleteTarget = void (*)(void*);

bool same_without_case(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// The names of a handheld path ("\my documents\tallimo\X.PDB"); empty for a bad path.
std::vector<std::string> handheld_names(const std::string& path) {
  std::vector<std::string> names;
  std::string name;
  for (char c : path + "\\") {
    if (c == '\\' || c == '/') {
      if (name == "." || name == "..") return {};
      if (!name.empty()) names.push_back(name);
      name.clear();
    } else {
      name.push_back(c);
    }
  }
  return names;
}

// The entry of `folder` named `name` without regard to case (exact match first).
std::optional<fs::path> entry_without_case(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  if (fs::exists(folder / name, ec)) return folder / name;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (same_without_case(it->path().filename().string(), name)) return it->path();
  }
  return std::nullopt;
}

// Copies through a temporary file beside the target, renamed over it.
bool copy_replacing(const fs::path& from, const fs::path& to) {
  std::error_code ec;
  if (!fs::is_regular_file(from, ec)) return false;
  fs::path temp = to;
  temp += ".part";
  if (!fs::copy_file(from, temp, fs::copy_options::overwrite_existing, ec)) return false;
  fs::rename(temp, to, ec);
  if (ec) fs::remove(temp, ec);
  return !ec;
}

}  // namespace

std::string device_folder(const Session& session) {
  QSettings store(QStringLiteral("Tallimo"), QStringLiteral("Tallimo"));
  store.beginGroup(QStringLiteral("Preferences"));
  std::string folder = store.value(QStringLiteral("Handheld_Folder")).toString().toStdString();
  if (!folder.empty()) return folder;
  return session.application_folder() + "Windows Mobile Device/";
}

struct VexFormsControl::Library {
  void* handle = nullptr;
  AddToQueue add = nullptr;
  GetCreator creator = nullptr;
  CreateTarget create_target = nullptr;
  DeleteTarget delete_target = nullptr;
  void* target = nullptr;
  MsgOwner owner{};
};

VexFormsControl::VexFormsControl(QObject* parent) : QObject(parent) {}

VexFormsControl::~VexFormsControl() {
  if (library_ && library_->target) library_->delete_target(library_->target);
  // The library stays loaded: its shared block is left when the process ends.
}

bool VexFormsControl::load() {
  if (library_) return true;
  auto lib = std::make_unique<Library>();
  std::error_code ec;
  if (const char* named = std::getenv("TALLIMO_VXFMUT_LIBRARY"); named && *named) {
    lib->handle = ::dlopen(named, RTLD_NOW | RTLD_LOCAL);
  }
  fs::path beside = fs::read_symlink("/proc/self/exe", ec).parent_path() / "libVxFmUt60.so";
  if (!lib->handle && !ec && fs::exists(beside, ec)) lib->handle = ::dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib->handle) lib->handle = ::dlopen("libVxFmUt60.so", RTLD_NOW | RTLD_LOCAL);
  if (!lib->handle) {
    const char* why = ::dlerror();
    load_error_ = std::string("cannot load libVxFmUt60.so: ") + (why ? why : "not found");
    return false;
  }
  lib->add = reinterpret_cast<AddToQueue>(::dlsym(lib->handle, "VF_AddToCommandQueueEx"));
  lib->creator = reinterpret_cast<GetCreator>(::dlsym(lib->handle, "VF_GetCreatorId"));
  lib->create_target = reinterpret_cast<CreateTarget>(::dlsym(lib->handle, "VF_CreateMsgTarget"));
  lib->delete_target = reinterpret_cast<DeleteTarget>(::dlsym(lib->handle, "VF_DeleteMsgTarget"));
  if (!lib->add || !lib->creator || !lib->create_target || !lib->delete_target) {
    load_error_ = "libVxFmUt60.so lacks the command queue or message target exports";
    return false;
  }
  library_ = std::move(lib);
  return true;
}

bool VexFormsControl::listen() {
  if (!load()) return false;
  if (!library_->target) {
    library_->owner = {&VexFormsControl::post, this};
    library_->target = library_->create_target(&library_->owner);
  }
  return library_->target != nullptr;
}

QString VexFormsControl::Sync_Creator_ID() const {
  if (!library_) return {};
  return QString::fromStdString(unpack_creator(library_->creator()));
}

void VexFormsControl::post(void* context, uint32_t, uintptr_t wparam, intptr_t lparam) {
  auto* self = static_cast<VexFormsControl*>(context);
  // Handled after the target's own dispatch, as a posted window message would be.
  QMetaObject::invokeMethod(
      self, [self, wparam, lparam]() { self->on_message(wparam, lparam); }, Qt::QueuedConnection);
}

void VexFormsControl::request(bool fetch, const QString& desktop_database, const QString& creator,
                              const QString& library, int32_t value1, uint8_t value2, uint8_t value3) {
  auto fail_later = [this]() {
    QMetaObject::invokeMethod(this, [this]() { emit Sync_Progress(3, 0); }, Qt::QueuedConnection);
  };
  if (!listen()) {
    fail_later();
    return;
  }
  ConvertTarget target{desktop_database.toStdString(), creator.toStdString()};
  std::string file;
  try {
    file = (fs::path(target.template_path).parent_path() / handheld_file_name(target)).string();
    if (!fetch) convert_template_to_pdb(target);
  } catch (const std::exception&) {
    fail_later();
    return;
  }
  std::string library_name = library.toStdString();
  int32_t type = fetch ? kCmdFetchTable : kCmdSendTable;
  if (library_->add(type, file.c_str(), pack_creator(target.creator), library_name.c_str(), value1, value2,
                    value3) == 0) {
    fail_later();
    return;
  }
  pending_.push_back({fetch, target.template_path, target.creator});
}

void VexFormsControl::Fetch_Table(QString& desktop_database, QString& creator, QString& library, int32_t value1,
                                  uint8_t value2, uint8_t value3) {
  request(true, desktop_database, creator, library, value1, value2, value3);
}

void VexFormsControl::Send_Table(QString& desktop_database, QString& creator, QString& library, int32_t value1,
                                 uint8_t value2, uint8_t value3) {
  request(false, desktop_database, creator, library, value1, value2, value3);
}

void VexFormsControl::on_message(uint64_t code, int64_t value) {
  if (code == kMsgSyncStarted) {
    pending_.clear();  // a new HotSync: nothing of an earlier one is still answered
    emit Sync_Progress(1, 1);
  } else if (code == kMsgSyncEnded) {
    pending_.clear();
    emit Sync_Progress(2, static_cast<int32_t>(value));
  } else if (code == kMsgResult) {
    int32_t result = value != 0 ? 1 : 0;
    if (!pending_.empty()) {
      Request done = pending_.front();
      pending_.pop_front();
      if (done.fetch && result) {
        try {
          convert_pdb_to_template({done.template_path, done.creator});
        } catch (const std::exception&) {
          result = 0;  // the table could not be taken over: the step failed
        }
      }
    }
    emit Sync_Progress(3, result);
  }
}

int32_t VexFormsControl::FileGetFromPPC(const QString& desktop_file, const QString& handheld_file) {
  std::error_code ec;
  if (!fs::is_directory(device_, ec)) return kCopyNoDevice;
  std::vector<std::string> names = handheld_names(handheld_file.toStdString());
  if (names.empty()) return kCopyBadPath;
  fs::path at = device_;
  for (const std::string& name : names) {
    std::optional<fs::path> next = entry_without_case(at, name);
    if (!next) return kCopyNoHandheldFile;
    at = *next;
  }
  if (!fs::is_regular_file(at, ec)) return kCopyNoHandheldFile;
  return copy_replacing(at, desktop_file.toStdString()) ? kCopyOk : kCopyFailed;
}

int32_t VexFormsControl::FileSendToPPC(const QString& desktop_file, const QString& handheld_file) {
  std::error_code ec;
  if (!fs::is_directory(device_, ec)) return kCopyNoDevice;
  std::vector<std::string> names = handheld_names(handheld_file.toStdString());
  if (names.empty()) return kCopyBadPath;
  if (!fs::is_regular_file(desktop_file.toStdString(), ec)) return kCopyFailed;
  fs::path at = device_;
  for (std::size_t i = 0; i + 1 < names.size(); ++i) {
    std::optional<fs::path> next = entry_without_case(at, names[i]);
    if (!next) {
      next = at / names[i];
      fs::create_directory(*next, ec);
      if (ec) return kCopyFailed;
    }
    at = *next;
  }
  // An existing file of that name in another case is the same file: replace it.
  std::optional<fs::path> existing = entry_without_case(at, names.back());
  fs::path target = existing ? *existing : at / names.back();
  return copy_replacing(desktop_file.toStdString(), target) ? kCopyOk : kCopyFailed;
}

}  // namespace tallimo::handheld
