#include "app/reports/report_database.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <unordered_set>
#include <vector>

#include "app/data/products_database.h"
#include "app/data/scanner_database.h"
#include "app/error_log.h"
#include "app/session.h"
#include "app/user_interface.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "jet/transaction.h"

namespace tallimo {
namespace {

jet::dao::Database& open_report_database(ReportDatabase& report) {
  if (!report.Report_Database) {
    throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                     "the report database " + report.Report_Database_Path + " is not open");
  }
  return *report.Report_Database;
}

std::string table_sql(const std::string& table) {
  return "CREATE TABLE [" + table + "] (" + "[" + table + "_ID] Counter Constraint PrimaryKey Primary Key, " +
         "[Scanner_Qty] currency, " + "[Orvex_Qty] currency, " + "[Item_Number] text (255), " +
         "[Description] text (255), " + "[Vendor_Code] text(255), " + "[Standard_Price] currency, " +
         "[Current_Cost] currency, " + "[Location] text(255), " + "[List_Price] currency " + ")";
}

// The fields a Not_In_Inventory row takes from its Comparison row, in the
// order they are set.
constexpr const char* kMovedFields[] = {"Scanner_Qty",    "Orvex_Qty",    "Item_Number",
                                        "Description",    "Vendor_Code",  "Standard_Price",
                                        "Current_Cost",   "Location",     "List_Price"};

// Rows moved per commit in Build_Not_In_Inventory, and the longest a group
// may keep the window waiting.
constexpr int kMovesPerCommit = 2000;
constexpr auto kLongestGroup = std::chrono::milliseconds(50);

bool exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

}  // namespace

std::string comparison_table_sql() { return table_sql("Comparison"); }
std::string not_in_inventory_table_sql() { return table_sql("Not_In_Inventory"); }
std::string not_scanned_table_sql() { return table_sql("Not_Scanned"); }

std::string copy_of_master_table_sql(const std::string& report_path) {
  return std::string(
             "INSERT INTO Not_Scanned ( Item_Number, Orvex_Qty, Description, Vendor_Code, Standard_Price, "
             "Current_Cost, Scanner_Qty, Location, List_Price )") +
         "\r\n" + "IN '" + report_path + "'" + "\r\n" +
         "SELECT PRODUCT1.[Product Code] AS Item_Number, PRODUCT1.[Inventory Qty] AS Orvex_Qty, "
         "PRODUCT1.[Description One] AS Description, PRODUCT1.[Vendor Code] AS Vendor_Code, "
         "PRODUCT1.[Standard Price] AS Standard_Price, PRODUCT1.[Current Cost] AS Current_Cost, 0 AS "
         "Scanner_Qty,  PRODUCT1.Location, PRODUCT1.[List Price] as List_Price" +
         "\r\n" + "FROM PRODUCT1";
}

std::string comparison_data_sql(const std::string& report_path) {
  return std::string(
             "INSERT INTO Comparison ( Scanner_Qty, Orvex_Qty, Item_Number, Description, Vendor_Code, "
             "Standard_Price, Current_Cost, Location , List_price )") +
         "\r\n" + "IN '" + report_path + "'" + "\r\n" +
         "SELECT Compare.Scanner_Qty, Compare.Orvex_Qty, Compare.Item_Number, Compare.Description, "
         "Compare.Vendor_Code, Compare.Standard_Price, Compare.Current_Cost, Compare.Location, "
         "Compare.List_Price" +
         "\r\n" + "FROM Compare";
}

std::string report_date_stamp(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d%02d%04d%02d%02d%02d", local.tm_mon + 1, local.tm_mday,
                local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

std::string free_report_database_path(const std::string& folder, std::time_t when) {
  const std::string stem = folder + report_date_stamp(when);
  std::string path = stem + ".mdb";
  for (int n = 2; exists(path); ++n) path = stem + "_" + std::to_string(n) + ".mdb";
  return path;
}

void Create_Report_Database(Session& session, ReportDatabase& report, const std::string& path) {
  try {
    report.Report_Database.reset();
    session.workspace().create_database(path, jet::dao::kLangGeneral, jet::dao::kVersion40)->close();
    // The file is ours and lives only for one request: commits need not
    // survive a power cut, which makes the row-by-row pass far quicker.
    jet::dao::OpenOptions options;
    options.durability = jet::Durability::kFast;
    // In the session's workspace, where the products and scanner databases
    // find it open when their INSERT ... IN statements write into it.
    report.Report_Database = session.workspace().open_database(path, options);
  } catch (const std::exception& e) {
    report.Report_Database.reset();
    Error_Routine(session, e.what(), "Create_Report_Database");
  }
}

void Create_Report_Tables(ReportDatabase& report) {
  jet::dao::Database& db = open_report_database(report);
  db.execute(comparison_table_sql());
  db.execute(not_in_inventory_table_sql());
  db.execute(not_scanned_table_sql());
}

void Get_Copy_of_Master_Table(Session& session, ReportDatabase& report) {
  try {
    if (!Open_Orvex_DataBase(session)) {
      throw jet::Error(jet::ErrorCategory::kNotFound,
                       "the products database could not be opened, so no products were copied into " +
                           report.Report_Database_Path);
    }
    struct Closer {
      Session& session;
      ~Closer() { Close_Orvex_DataBase(session); }
    } closer{session};
    Orvex_Database(session)->execute(copy_of_master_table_sql(report.Report_Database_Path));
  } catch (const std::exception& e) {
    Error_Routine(session, e.what(), "Get_Copy_of_Master_Table");
  }
}

void Get_Comparison_Data(Session& session, ReportDatabase& report) {
  try {
    jet::dao::Database* scanner = Scanner_Database(session);
    if (scanner == nullptr) {
      throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                       "the scanner database is not open, so no counted items were copied into " +
                           report.Report_Database_Path);
    }
    scanner->execute(comparison_data_sql(report.Report_Database_Path));
  } catch (const std::exception& e) {
    Error_Routine(session, e.what(), "Get_Comparison_Data");
  }
}

void Build_Not_In_Inventory(Session& session, ReportDatabase& report) {
  try {
    jet::dao::Database& db = open_report_database(report);
    UserInterface& ui = session.ui();
    // Which counted rows no product carries, found in one pass: the engine
    // matches the item numbers by hashing (no scan of Not_Scanned per row,
    // and no item number is ever spliced into a statement).
    std::unordered_set<int32_t> unknown;
    {
      auto lookup = db.open_recordset(
          "SELECT Comparison.Comparison_ID FROM Comparison LEFT JOIN Not_Scanned ON "
          "Comparison.Item_Number = Not_Scanned.Item_Number WHERE Not_Scanned.Not_Scanned_ID Is Null");
      for (; !lookup->eof(); lookup->move_next()) {
        unknown.insert(std::get<int32_t>(lookup->field(std::size_t{0})));
      }
    }
    auto missing = db.open_recordset("Not_In_Inventory");
    auto comparison = db.open_recordset("Comparison");
    // Moves are committed in groups, and the window gets its events between
    // groups, never while a group is open.
    auto group = std::make_unique<jet::Transaction>(db.engine());
    int in_group = 0;
    auto group_start = std::chrono::steady_clock::now();
    auto close_group = [&](bool last) {
      group->commit();
      group.reset();
      ui.do_events();
      if (!last) group = std::make_unique<jet::Transaction>(db.engine());
      in_group = 0;
      group_start = std::chrono::steady_clock::now();
    };
    while (!comparison->eof()) {
      const jet::Value id = comparison->field("Comparison_ID");
      if (!jet::is_null(id) && unknown.count(std::get<int32_t>(id)) != 0) {
        missing->add_new();
        for (const char* field : kMovedFields) missing->set_field(field, comparison->field(field));
        missing->update();
        comparison->delete_current();
        ++in_group;
      }
      comparison->move_next();
      if (in_group >= kMovesPerCommit || std::chrono::steady_clock::now() - group_start > kLongestGroup) {
        close_group(false);
      }
    }
    close_group(true);
    missing->close();
    comparison->close();
  } catch (const std::exception& e) {
    Error_Routine(session, e.what(), "Build_Not_In_Inventory");
  }
}

void Build_Not_Scanned(Session& session, ReportDatabase& report) {
  try {
    jet::dao::Database& db = open_report_database(report);
    // Every copied product has Scanner_Qty 0, so a Null there marks the
    // counted ones by their key alone; a product's own description can never
    // be taken for the mark.
    db.execute(
        "UPDATE Comparison INNER JOIN Not_Scanned ON Comparison.Item_Number = Not_Scanned.Item_Number SET "
        "Not_Scanned.Scanner_Qty = Null");
    db.execute(std::string("DELETE Not_Scanned.Scanner_Qty") + "\r\n" + "FROM Not_Scanned" + "\r\n" +
               "Where Not_Scanned.Scanner_Qty Is Null");
  } catch (const std::exception& e) {
    Error_Routine(session, e.what(), "Build_Not_Scanned");
  }
}

std::string Create_Comparison_Reports(Session& session) {
  UserInterface& ui = session.ui();
  ReportDatabase report;
  std::string& path = report.Report_Database_Path;
  try {
    path = free_report_database_path(session.application_folder(), std::time(nullptr));
    ui.Update_Status("Creating Report", 0, 5);
    Create_Report_Database(session, report, path);
    Create_Report_Tables(report);
    ui.Update_Status("Getting Data from Master Database", 1, 5);
    Get_Copy_of_Master_Table(session, report);
    ui.Update_Status("Getting Data from Scanner Database", 2, 5);
    Get_Comparison_Data(session, report);
    ui.Update_Status("Building Item Not In Inventory Report", 3, 5);
    Build_Not_In_Inventory(session, report);
    ui.Update_Status("Building Item Not Scanned Report", 4, 5);
    Build_Not_Scanned(session, report);
    ui.Update_Status("Done", 5, 5);
    report.Report_Database->close();
    report.Report_Database.reset();
  } catch (const std::exception& e) {
    report.Report_Database.reset();
    Error_Routine(session, e.what(), "Create_Comparison_Reports");
    // Nobody will delete a file whose path is not handed out.
    if (!path.empty()) delete_report_database(path);
    path.clear();
  }
  return path;
}

void delete_report_database(const std::string& path) {
  if (path.empty()) return;
  std::error_code ec;
  std::filesystem::remove(path, ec);
  std::filesystem::path lock(path);
  lock.replace_extension(".ldb");
  std::filesystem::remove(lock, ec);
}

}  // namespace tallimo
