#include "data/products_database.h"

#include <filesystem>
#include <memory>

#include "error_log.h"
#include "jet/dao.h"
#include "settings.h"
#include "user_interface.h"

namespace tallimo {
namespace {

std::unique_ptr<jet::dao::Database>& products_handle() {
  static std::unique_ptr<jet::dao::Database> handle;
  return handle;
}

bool file_exists(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

}  // namespace

jet::dao::Database* Orvex_Database() { return products_handle().get(); }

bool Open_Orvex_DataBase() {
  UserInterface& ui = App_UI();
  try {
    // The user gets one chance to point the settings at the file.
    for (bool asked = false;; asked = true) {
      const std::string path = App_Settings().Orvex_Location;
      if (file_exists(path)) {
        jet::dao::OpenOptions options;
        options.connect = std::string(";pwd=") + kOrvexPassword;
        products_handle().reset();
        products_handle() = jet::dao::Database::open(path, options);
        return true;
      }
      if (asked) break;
      ui.message_box(std::string("Unable to locate the ") + "Tallimo" + "files." + "\r\n\r\n" +
                     "Please locate it for me.");
      ui.show_preferences();
      Save_Settings();
    }
    ui.message_box("Program is incorrectly configured. Please contact technical support for help.");
    ui.unload_main_window();
  } catch (const std::exception& e) {
    products_handle().reset();
    Error_Routine(e.what(), "Open_Orvex_DataBase");
  }
  return false;
}

void Close_Orvex_DataBase() {
  if (products_handle()) products_handle()->close();
  products_handle().reset();
}

}  // namespace tallimo
