#include "app/gui/startup.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "app/application_folder.h"

namespace tallimo::gui {

std::string data_folder_for(const std::string& program_folder, bool program_folder_writable,
                            const std::string& xdg_data_home, const std::string& home) {
  auto with_slash = [](std::string s) {
    if (s.empty() || s.back() != '/') s += '/';
    return s;
  };
  if (program_folder_writable) return with_slash(program_folder);
  // XDG: a relative $XDG_DATA_HOME is invalid and is ignored.
  if (!xdg_data_home.empty() && xdg_data_home.front() == '/') return with_slash(xdg_data_home) + "Tallimo/";
  return with_slash(home) + ".local/share/Tallimo/";
}

std::string choose_application_folder() {
  const std::string program = Application_Folder();
  const char* fixed = std::getenv("TALLIMO_HOME");
  if (fixed != nullptr && *fixed != '\0') return program;
  const bool writable = ::access(program.c_str(), W_OK) == 0;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  const char* home = std::getenv("HOME");
  const std::string folder = data_folder_for(program, writable, xdg ? xdg : "", home ? home : "");
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return folder;
}

}  // namespace tallimo::gui
