#include "app/application_folder.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>

namespace tallimo {
namespace {

std::string with_separator(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

// Used when the executable cannot find its own file (no /proc, say).
constexpr const char* kFallbackFolder = "/opt/tallimo/";

}  // namespace

std::string Application_Folder() {
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
