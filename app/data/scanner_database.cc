#include "app/data/scanner_database.h"

#include <filesystem>

#include "app/error_log.h"
#include "app/session.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/error.h"

namespace tallimo {
namespace {

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

std::string Scanner_Database_Path(const Session& session) {
  return session.application_folder() + kScannerDatabaseName;
}

jet::dao::Database* Scanner_Database(const Session& session) { return session.scanner_database(); }

void Create_Scanner_Database(Session& session, const std::string& path) {
  try {
    session.scanner_handle().reset();
    session.scanner_handle() = session.workspace().create_database(path, jet::dao::kLangGeneral, jet::dao::kVersion40);
  } catch (const std::exception& e) {
    Error_Routine(session, e.what(), "Create_Scanner_Database");
  }
}

void Create_Scanner_Tables(Session& session) {
  jet::dao::Database* db = session.scanner_database();
  if (db == nullptr) {
    throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                     "the scanner database is not open, so its tables cannot be created");
  }
  db->execute(scanner_data_table_sql());
  db->execute(compare_table_sql());
}

void Add_Item_Order_Column(Session& session, const std::string& path) {
  auto db = session.workspace().open_database(path);
  try {
    db->execute("ALTER TABLE Scanner_Data ADD COLUMN Item_Order TEXT(255);");
  } catch (const jet::Error&) {
    // The expected case: the column is there already.
  }
  db->close();
}

bool Open_Scanner_Data_File(Session& session) {
  std::unique_ptr<jet::dao::Database>& handle = session.scanner_handle();
  try {
    const std::string path = Scanner_Database_Path(session);
    handle.reset();
    if (file_exists(path)) {
      Add_Item_Order_Column(session, path);
      compact_scanner_database_when_mostly_free(session);
    } else {
      Create_Scanner_Database(session, path);
      if (handle == nullptr) return false;  // reported already
      Create_Scanner_Tables(session);
      handle->close();
      handle.reset();
    }
    handle = session.workspace().open_database(path);
  } catch (const std::exception& e) {
    handle.reset();
    Error_Routine(session, e.what(), "Open_Scanner_Data_File");
  }
  return handle != nullptr;
}

void Close_Scanner_Data_File(Session& session) {
  std::unique_ptr<jet::dao::Database>& handle = session.scanner_handle();
  if (handle) handle->close();
  handle.reset();
}

bool compact_scanner_database_when_mostly_free(Session& session) {
  const std::string path = Scanner_Database_Path(session);
  if (!file_exists(path)) return false;
  const bool was_open = session.scanner_database() != nullptr;
  bool compacted = false;
  try {
    double free_share = 0;
    {
      auto probe = jet::Database::open(path);
      free_share = probe->free_space_fraction();
    }
    if (free_share > 0.5) {
      Close_Scanner_Data_File(session);
      jet::Database::compact(path);
      compacted = true;
    }
  } catch (const jet::Error&) {
    // Left as it is (another user has it open, or the copy could not be
    // made); the file stays whole either way.
  }
  if (was_open && session.scanner_database() == nullptr) {
    try {
      session.scanner_handle() = session.workspace().open_database(path);
    } catch (const std::exception& e) {
      Error_Routine(session, e.what(), "Open_Scanner_Data_File");
    }
  }
  return compacted;
}

void Update_Comparision_Menu(Session& session) {
  try {
    jet::dao::OpenOptions options;
    options.read_only = true;
    auto db = session.workspace().open_database(Scanner_Database_Path(session), options);
    auto table = db->open_recordset("Compare");
    session.ui().set_comparison_menu_enabled(!table->bof());
    table->close();
    db->close();
  } catch (const std::exception& e) {
    Error_Routine(session, e.what(), "Update_Comparision_Menu");
  }
}

}  // namespace tallimo
