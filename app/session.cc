#include "app/session.h"

#include "app/application_folder.h"
#include "jet/dao.h"

namespace tallimo {
namespace {
std::string with_separator(std::string folder) {
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}
}  // namespace

Session::Session(UserInterface& ui, const std::string& application_folder) : ui_(&ui) {
  set_application_folder(application_folder);
}

Session::~Session() {
  // A handle still open at the end is closed quietly: the program is ending
  // and nothing is left to report to.
  for (auto* handle : {&products_database_, &scanner_database_}) {
    try {
      if (*handle) (*handle)->close();
    } catch (...) {
    }
    handle->reset();
  }
}

void Session::set_application_folder(const std::string& folder) {
  application_folder_ = folder.empty() ? Application_Folder() : with_separator(folder);
}

void Session::end_program() {
  ended_ = true;
  ui_->unload_main_window();
}

}  // namespace tallimo
