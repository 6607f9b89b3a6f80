// The program's own working store, POS_Scanner.MDB in the application folder:
// table Scanner_Data (scanned or staged records) and table Compare (compare
// counts of the latest posting run).
#pragma once

#include <memory>
#include <string>

namespace jet::dao {
class Database;
}

namespace tallimo {

class Session;

inline constexpr const char* kScannerDatabaseName = "POS_Scanner.MDB";

// The table definitions, exactly as the program executes them.
std::string scanner_data_table_sql();
std::string compare_table_sql();

// The session's application folder + "POS_Scanner.MDB".
std::string Scanner_Database_Path(const Session& session);

// The session's scanner database handle: the open database, or null while it
// is closed.
jet::dao::Database* Scanner_Database(const Session& session);

// Creates an empty Jet 4 file at `path` (English locale, code page 1252) and
// holds it open as the scanner database handle. Errors are reported through
// Error_Routine as "Create_Scanner_Database"; the handle then stays empty.
void Create_Scanner_Database(Session& session, const std::string& path);

// Executes the two table definitions, Scanner_Data first, on the open
// scanner database handle. Throws jet::Error (no handler of its own).
void Create_Scanner_Tables(Session& session);

// Opens the file at `path`, adds the column Item_Order to Scanner_Data
// (ignoring the failure of that one statement: the column exists already)
// and closes the file. Errors opening or closing the file are thrown.
void Add_Item_Order_Column(Session& session, const std::string& path);

// Makes sure the scanner database exists and is current (creating it with
// both tables, or adding Item_Order to an older file), then holds it open.
// Errors are reported through Error_Routine as "Open_Scanner_Data_File".
// Returns whether the handle is open afterwards.
bool Open_Scanner_Data_File(Session& session);

// Closes the scanner database handle (the program's end; tests).
void Close_Scanner_Data_File(Session& session);

// Compacts POS_Scanner.MDB when more than half of its pages are free (every
// upload empties Scanner_Data and fills it again). The session's handle is
// closed for the compaction and opened again if it was open. Compaction needs
// the file to itself: while another handle or process has it open, or on any
// other failure, the file is left as it is and the next start or upload tries
// again. Returns whether the file was compacted.
bool compact_scanner_database_when_mostly_free(Session& session);

// Enables the "&Comparison" menu item exactly when Compare holds a row. Opens
// the scanner database file a second time (read-only) for it; errors are
// reported as "Update_Comparision_Menu".
void Update_Comparision_Menu(Session& session);

}  // namespace tallimo
