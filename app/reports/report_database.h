// The report database: a fresh, dated Jet file per report request holding
// three tables built from the scanner database's Compare table and the
// products table PRODUCT1:
//
//   Comparison        counted items that PRODUCT1 knows (counted beside recorded)
//   Not_In_Inventory  counted items that PRODUCT1 does not know
//   Not_Scanned       products that were not counted (Scanner_Qty 0)
//
// Create_Comparison_Reports() builds it and returns its path; the caller
// deletes the file when the report is done (delete_report_database). Every
// step reports its own failure through Error_Routine under its own name and
// the build goes on with the next step; a failure to make the file or its
// tables ends the build, removes what was made and returns an empty path.
#pragma once

#include <ctime>
#include <memory>
#include <string>

#include "jet/dao.h"

namespace tallimo {

class Session;

// The three table definitions, exactly as the builder executes them.
std::string comparison_table_sql();
std::string not_in_inventory_table_sql();
std::string not_scanned_table_sql();

// The statements the builder runs (see the step functions below).
std::string copy_of_master_table_sql(const std::string& report_path);
std::string comparison_data_sql(const std::string& report_path);

// "MMDDYYYYHHMMSS" of the local time `when` (month, day, four-digit year,
// hour 00-23, minute, second).
std::string report_date_stamp(std::time_t when);

// A file name in `folder` for a report made at `when` that no file holds:
// folder + stamp + ".mdb", or, when that exists (two requests within one
// second), folder + stamp + "_2.mdb", "_3.mdb", ...
std::string free_report_database_path(const std::string& folder, std::time_t when);

// One report database while it is built: its path and its open database
// object (null while closed).
struct ReportDatabase {
  std::string Report_Database_Path;
  std::unique_ptr<jet::dao::Database> Report_Database;
};

// Builds the report database in the session's application folder: the status steps
// "Creating Report", "Getting Data from Master Database", "Getting Data from
// Scanner Database", "Building Item Not In Inventory Report", "Building Item
// Not Scanned Report", "Done" (0 to 5 of 5). Returns the file's full path,
// or an empty text when the file or its tables could not be made.
std::string Create_Comparison_Reports(Session& session);

// The steps, in the order the build calls them.
// Creates the file (English locale, Jet 4 format), closes it and opens it
// again as Report_Database. Errors: reported as "Create_Report_Database".
void Create_Report_Database(Session& session, ReportDatabase& report, const std::string& path);
// The three CREATE TABLE statements on Report_Database. Throws.
void Create_Report_Tables(ReportDatabase& report);
// Copies PRODUCT1 into Not_Scanned with one INSERT ... IN run on the
// products database. Errors: "Get_Copy_of_Master_Table".
void Get_Copy_of_Master_Table(Session& session, ReportDatabase& report);
// Copies Compare into Comparison with one INSERT ... IN run on the scanner
// database. Errors: "Get_Comparison_Data".
void Get_Comparison_Data(Session& session, ReportDatabase& report);
// Moves each Comparison row whose item number no product of Not_Scanned
// carries into Not_In_Inventory, row by row. Errors: "Build_Not_In_Inventory".
void Build_Not_In_Inventory(Session& session, ReportDatabase& report);
// Removes from Not_Scanned every product that Comparison holds.
// Errors: "Build_Not_Scanned".
void Build_Not_Scanned(Session& session, ReportDatabase& report);

// Deletes the report database file at `path` (and its lock file); a missing
// file or a failure is ignored, as the request is over either way.
void delete_report_database(const std::string& path);

}  // namespace tallimo
