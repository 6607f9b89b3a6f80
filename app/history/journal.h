// The posting history: a journal of every posting run and every undo, kept in
// a database file of its own, PostingHistory.mdb, beside POS_Scanner.MDB (so
// the scanner database keeps exactly its documented tables). The file is a
// plain Jet 4 file that our engine creates when it is missing; mdb-export and
// Access read it.
//
// Tables (every value that came from PRODUCT1 is kept as its text form, the
// one jet::value_text gives, in a memo column; Null stays Null):
//
//   History_Runs      one row per run
//     Run_ID        long, primary key (1, 2, ...)
//     Run_Kind      text  "Post" (a posting run) or "Undo" (an undo of one)
//     Started       date/time, local time the run began
//     Ended         date/time, Null while the run is under way or after it
//                   was interrupted (a killed run is completed by the next
//                   run, which continues the same Run_ID)
//     Computer      text  the computer's name
//     User_Name     text  the account that ran it
//     Kinds         text  the kinds ticked, as File_Type codes in posting
//                   order ("4,5,0,1,3,2"); for an undo the kinds it returned
//     Products_File text  the products database the run wrote
//     Records       long  records posted (or, for an undo, returned)
//     Undoes_Run    long  an undo: the posting run it takes back
//     Undone_By     long  a posting run: the undo that takes it back
//
//   History_Records   one row per record a run posted (Run_ID, Record_No;
//                     indexed by Run_ID): the Scanner_Data row as it was before it
//                     was posted (Scanner_Data_ID, Qty, Item_Number,
//                     Item_Order, Description, Vendor_Code, Standard_Price,
//                     Current_Cost, Location, List_Price, File_Type, Notes:
//                     the scanner table's own columns and types), the
//                     Product_Code it was applied to, and Source_Record (an
//                     undo: the Record_No of the posting run it returned;
//                     its Scanner_Data_ID is then that of the row put back).
//
//   History_Changes   one row per change to PRODUCT1 (Run_ID, Record_No,
//                     Change_No in the order they were written; indexed by
//                     Run_ID)
//     Product_Code  text  the product (as stored after the change)
//     Change_Kind   text  "Quantity"  Inventory Qty added to or subtracted
//                                     from ("Add to Inventory", "Subtract
//                                     Inventory"); undone by its delta
//                         "Package"   Inventory Qty of a bulk product whose
//                                     packages were broken open; Units is
//                                     the units they gave the product below;
//                                     undone by its delta
//                         "Replace"   Inventory Qty replaced ("Replace
//                                     Inventory")
//                         "Field"     a product field edited ("Edit
//                                     Products")
//                         "New Item"  a column of a product the record
//                                     inserted (one row per column it holds)
//                         "Removed"   an undo removed a product the run had
//                                     inserted (Old_Value: its Description One)
//                         "Conflict"  an undo left the column alone: the
//                                     product no longer holds what the run
//                                     wrote (Old_Value: what the run had
//                                     written, New_Value: what it holds now;
//                                     Column_Name "*" for a whole new item)
//     Column_Name   text  the PRODUCT1 column
//     Old_Value     memo  the value before the change
//     New_Value     memo  the value after it
//     Qty_Delta     double  for quantities: new - old (an empty stock
//                   counting as 0)
//     Units         double  "Package" rows: units credited below
//
// Writing: a posting run's journal rows are written through the run's own
// multi-file transaction (app/posting/posting_run.h), so a commit group's
// changes to PRODUCT1 and Scanner_Data and its journal rows reach the three
// files together or not at all.
//
// Pruning: runs that started more than Settings::History_Keep_Days days ago
// are removed with their records and changes, and the file is compacted.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jet/value.h"

namespace jet {
class Database;
}
namespace jet::dao {
class Database;
class Recordset;
}  // namespace jet::dao

namespace tallimo {
class Session;
}

namespace tallimo::history {

inline constexpr const char* kJournalFileName = "PostingHistory.mdb";
inline constexpr const char* kRunsTable = "History_Runs";
inline constexpr const char* kRecordsTable = "History_Records";
inline constexpr const char* kChangesTable = "History_Changes";

inline constexpr const char* kRunPost = "Post";
inline constexpr const char* kRunUndo = "Undo";

inline constexpr const char* kChangeQuantity = "Quantity";
inline constexpr const char* kChangePackage = "Package";
inline constexpr const char* kChangeReplace = "Replace";
inline constexpr const char* kChangeField = "Field";
inline constexpr const char* kChangeNewItem = "New Item";
inline constexpr const char* kChangeRemoved = "Removed";
inline constexpr const char* kChangeConflict = "Conflict";

// The journal file of the session's application folder.
std::string journal_path(const Session& session);

// A journalled value: Null, or the text form of a stored value.
using JournalValue = std::optional<std::string>;
JournalValue journal_value(const jet::Value& value);
// A stored number as a double; Null and anything that is not a number count
// as 0 (an empty stock).
double number_or_zero(const jet::Value& value);
// Text for showing a journalled value ("(empty)" for Null).
std::string shown(const JournalValue& value);

struct RunInfo {
  long id = 0;
  std::string kind;       // kRunPost or kRunUndo
  std::string started;    // "YYYY-MM-DD HH:MM:SS"
  std::string ended;      // empty while under way or interrupted
  std::string computer;
  std::string user;
  std::string kinds;      // "4,5,0,1,3,2"
  std::string products_file;
  long records = 0;
  long undoes_run = 0;    // an undo: the run it takes back
  long undone_by = 0;     // a posting run: its undo
  bool finished() const { return !ended.empty(); }
};

// "posted", "undone by run 3", "undo of run 2", "interrupted".
std::string run_state(const RunInfo& run);
// The kinds of a run by their labels ("Add New Item, Edit Products, ...").
std::string kinds_labels(const std::string& codes);

struct ChangeInfo {
  long change_no = 0;
  std::string product_code;
  std::string kind;  // kChangeQuantity, ...
  std::string column;
  JournalValue old_value;
  JournalValue new_value;
  double delta = 0;
  double units = 0;
};

// The Scanner_Data columns a record keeps, in the table's order.
inline constexpr const char* kScannerColumns[12] = {
    "Scanner_Data_ID", "Qty",      "Item_Number", "Item_Order", "Description", "Vendor_Code",
    "Standard_Price",  "Current_Cost", "Location",    "List_Price", "File_Type",   "Notes"};

struct RecordInfo {
  long record_no = 0;
  jet::Value scanner[12];  // the Scanner_Data row, by kScannerColumns
  std::string product_code;
  long source_record = 0;  // an undo: the posting record it returned
  std::vector<ChangeInfo> changes;
  int16_t file_type() const;
  std::string item_number() const;
};

// The open journal file. Writes made while the engine database takes part in
// a jet::Transaction belong to it.
class Journal {
 public:
  // Opens the session's journal (through its workspace), creating the file
  // with its tables when it is missing. Throws jet::Error.
  static std::unique_ptr<Journal> open(Session& session);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  jet::Database& engine();
  jet::dao::Database& file() { return *db_; }
  const std::string& path() const { return path_; }

  // ---- writing ----
  // A new run row (Ended Null); returns its Run_ID.
  long add_run(const std::string& kind, const std::string& kinds, const std::string& products_file,
               long undoes_run = 0);
  // Sets Ended (now), Records and Kinds of a run.
  void finish_run(long run, long records, const std::string& kinds);
  void set_undone_by(long run, long undo_run);
  // The newest run of `kind` that has not ended (for an undo: of run
  // `undoes_run`), or 0.
  long unfinished_run(const std::string& kind, long undoes_run = 0);
  // The next Record_No of a run (1 for a run without records).
  long next_record_no(long run);
  // Writes a record and its changes.
  void add_record(long run, const RecordInfo& record);

  // ---- reading ----
  std::vector<RunInfo> runs();  // newest first
  std::optional<RunInfo> run(long id);
  // A run's records with their changes, in Record_No order.
  std::vector<RecordInfo> records(long run);

  // Removes the runs that started before `days` days ago with their records
  // and changes; returns how many went. The caller compacts the file once it
  // is closed (compact()).
  long remove_runs_older_than(int days);
  void close();

 private:
  Journal() = default;
  std::string path_;
  std::unique_ptr<jet::dao::Database> db_;
};

// Prunes the session's journal (Settings::History_Keep_Days; 0 or less keeps
// everything) and compacts it when runs were removed. Returns the runs
// removed. The file must not be open in the session. Throws jet::Error.
long prune_journal(Session& session);

// The computer's and the account's names, for run rows.
std::string computer_name();
std::string user_name();

// ---- the journal of one posting run (the posting engine's hooks) ----
//
// The posting run holds one; the engine tells it what each record changed,
// and it writes the record (with its changes) when the record was posted.
// A record that was not posted, or whose group was rolled back, leaves
// nothing in the journal.
class RunJournal {
 public:
  RunJournal(Journal& journal, long run, long first_record_no)
      : journal_(journal), run_(run), next_record_no_(first_record_no) {}

  long run() const { return run_; }
  // Records of the run in the journal (those of earlier, interrupted parts
  // of the run included), committed or pending.
  long records_total() const { return next_record_no_ - 1; }
  Journal& journal() { return journal_; }

  // The record the recordset stands on is about to be posted.
  void begin_record(const jet::dao::Recordset& scanned);
  // A product change of the current record.
  void quantity(const std::string& code, const jet::Value& before, const jet::Value& after, const char* kind,
                double units = 0);
  void fields(const std::string& code, const std::vector<std::pair<std::string, jet::Value>>& before,
              const std::vector<std::pair<std::string, jet::Value>>& after);
  void new_item(const std::string& code, const std::vector<std::pair<std::string, jet::Value>>& after);
  // The record was posted (written to the journal) or not (forgotten).
  void end_record(bool posted);
  // The transaction the records since the last commit belong to was rolled
  // back: their count is taken back.
  void group_committed() { committed_next_ = next_record_no_; }
  void group_rolled_back() {
    next_record_no_ = committed_next_;
    in_record_ = false;
  }

 private:
  void add_change(ChangeInfo change);
  Journal& journal_;
  long run_;
  long next_record_no_;
  long committed_next_ = next_record_no_;
  bool in_record_ = false;
  RecordInfo current_;
};

// Every field of the row a recordset stands on.
std::vector<std::pair<std::string, jet::Value>> snapshot(const jet::dao::Recordset& rs);

}  // namespace tallimo::history
