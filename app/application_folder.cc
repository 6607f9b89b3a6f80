#include "application_folder.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace tallimo {
namespace {

std::string& override_folder() {
  static std::string folder;
  return folder;
}

std::string with_separator(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// Used when the executable cannot find its own file (no /proc, say).
constexpr const char* kFallbackFolder = "/opt/tallimo/";

}  // namespace

void set_application_folder(const std::string& folder) {
  override_folder() = folder.empty() ? std::string() : with_separator(folder);
}

std::string Application_Folder() {
  if (!override_folder().empty()) return override_folder();
  if (const char* home = std::getenv("TALLIMO_HOME"); home != nullptr && *home != '\0') return with_separator(home);
  char path[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return kFallbackFolder;
  std::string exe(path, static_cast<size_t>(n));
  const auto slash = exe.rfind('/');
  if (slash == std::string::npos) return kFallbackFolder;
  return exe.substr(0, slash + 1);
}

}  // namespace tallimo
