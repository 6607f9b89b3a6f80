#include "data/scanner_database.h"

#include <filesystem>

#include "application_folder.h"
#include "error_log.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "user_interface.h"

namespace tallimo {
namespace {

std::unique_ptr<jet::dao::Database>& scanner_handle() {
  static std::unique_ptr<jet::dao::Database> handle;
  return handle;
}

// A normal file of that name exists (a directory of that name does not count).
bool file_exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(path, ec);
}

}  // namespace

std::string scanner_data_table_sql() {
  return std::string("CREATE TABLE [Scanner_Data] (") + "[Scanner_Data_ID]" +
         " Counter Constraint PrimaryKey Primary Key, " + "[Qty] double, " + "[Item_Number] text (255), " +
         "[Item_Order] text (255), " + "[Description] text (255), " + "[Vendor_Code] text(255), " +
         "[Standard_Price] currency, " + "[Current_Cost] currency, " + "[Location] text(255), " +
         "[List_Price] currency, " + "[File_Type] Integer, " + "[Notes] text(255) " + ")";
}

std::string compare_table_sql() {
  return std::string("CREATE TABLE [Compare] (") + "[Scanner_Qty] currency, " + "[Orvex_Qty] currency, " +
         "[Item_Number] text (255), " + "[Description] text (255), " + "[Vendor_Code] text(255), " +
         "[Standard_Price] currency, " + "[Current_Cost] currency, " + "[Location] text(255), " +
         "[List_Price] currency " + ")";
}

std::string Scanner_Database_Path() { return Application_Folder() + kScannerDatabaseName; }

jet::dao::Database* Scanner_Database() { return scanner_handle().get(); }

void Create_Scanner_Database(const std::string& path) {
  try {
    scanner_handle().reset();
    scanner_handle() = jet::dao::Database::create(path, jet::dao::kLangGeneral, jet::dao::kVersion40);
  } catch (const std::exception& e) {
    Error_Routine(e.what(), "Create_Scanner_Database");
  }
}

void Create_Scanner_Tables() {
  jet::dao::Database* db = Scanner_Database();
  if (db == nullptr) {
    throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                     "the scanner database is not open, so its tables cannot be created");
  }
  db->execute(scanner_data_table_sql());
  db->execute(compare_table_sql());
}

void Add_Item_Order_Column(const std::string& path) {
  auto db = jet::dao::Database::open(path);
  try {
    db->execute("ALTER TABLE Scanner_Data ADD COLUMN Item_Order TEXT(255);");
  } catch (const jet::Error&) {
    // The expected case: the column is there already.
  }
  db->close();
}

bool Open_Scanner_Data_File() {
  try {
    const std::string path = Scanner_Database_Path();
    scanner_handle().reset();
    if (file_exists(path)) {
      Add_Item_Order_Column(path);
    } else {
      Create_Scanner_Database(path);
      if (Scanner_Database() == nullptr) return false;  // reported already
      Create_Scanner_Tables();
      scanner_handle()->close();
      scanner_handle().reset();
    }
    scanner_handle() = jet::dao::Database::open(path);
  } catch (const std::exception& e) {
    scanner_handle().reset();
    Error_Routine(e.what(), "Open_Scanner_Data_File");
  }
  return Scanner_Database() != nullptr;
}

void Close_Scanner_Data_File() {
  if (scanner_handle()) scanner_handle()->close();
  scanner_handle().reset();
}

void Update_Comparision_Menu() {
  try {
    jet::dao::OpenOptions options;
    options.read_only = true;
    auto db = jet::dao::Database::open(Scanner_Database_Path(), options);
    auto table = db->open_recordset("Compare");
    App_UI().set_comparison_menu_enabled(!table->bof());
    table->close();
    db->close();
  } catch (const std::exception& e) {
    Error_Routine(e.what(), "Update_Comparision_Menu");
  }
}

}  // namespace tallimo
