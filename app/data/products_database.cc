#include "app/data/products_database.h"

#include <filesystem>
#include <memory>

#include "app/error_log.h"
#include "jet/dao.h"
#include "app/session.h"
#include "app/settings.h"

namespace tallimo {
namespace {

bool file_exists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

}  // namespace

jet::dao::Database* Orvex_Database(const Session& session) { return session.products_database(); }

bool Open_Orvex_DataBase(Session& session) {
  UserInterface& ui = session.ui();
  std::unique_ptr<jet::dao::Database>& handle = session.products_handle();
  try {
    // The user gets one chance to point the settings at the file.
    for (bool asked = false;; asked = true) {
      const std::string path = session.settings().Orvex_Location;
      if (file_exists(path)) {
        jet::dao::OpenOptions options;
        options.connect = std::string(";pwd=") + kOrvexPassword;
        handle.reset();
        handle = jet::dao::Database::open(path, options);
        return true;
      }
      if (asked) break;
      message(ui, std::string("Unable to locate the ") + "Tallimo" + "files." + "\r\n\r\n" +
                     "Please locate it for me.");
      ui.show_preferences();
      Save_Settings(session);
    }
    message(ui, "Program is incorrectly configured. Please contact technical support for help.");
    session.end_program();
  } catch (const std::exception& e) {
    handle.reset();
    Error_Routine(session, e.what(), "Open_Orvex_DataBase");
  }
  return false;
}

void Close_Orvex_DataBase(Session& session) {
  std::unique_ptr<jet::dao::Database>& handle = session.products_handle();
  if (handle) handle->close();
  handle.reset();
}

}  // namespace tallimo
