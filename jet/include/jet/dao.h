// DAO-style access to Jet 4 databases: open or create a database, execute
// statements in Jet's SQL dialect, and work through recordsets.
//
//   auto db = jet::dao::Database::open("products.mdb", {.connect = ";pwd=secret"});
//   db->execute("UPDATE PRODUCT1 SET [Inventory Qty] = 0 WHERE [Product Code] = \"A1\"");
//   auto rs = db->open_recordset("Select * From PRODUCT1 Where [Product Code] = \"A1\"");
//   if (!rs->eof()) { rs->edit(); rs->set_field("Inventory Qty", 5.0); rs->update(); }
//   rs->close();
//
// Workspaces: handles opened through one Workspace on the same file share
// one engine database (and see each other's changes at once); two
// workspaces never share anything. The program's session owns its
// workspace; Database::open and create use a process-wide default
// workspace, kept for callers that have no session (tools, tests, ADO).
//
// Ownership: a Database owns its handle on the file. A recordset refers to
// its database without owning it: used after the database was closed or
// destroyed it throws kInvalidArgument ("... is closed"), never touches
// freed memory. Not thread-safe: one thread uses a workspace's handles.
// Errors: every failure throws jet::Error (jet/error.h): kSyntax naming the
// statement and the position, kNotFound naming an unknown table, column or
// missing file, kConstraint for a type mismatch (with the value) or a
// duplicate key, kInvalidArgument for a recordset operation without a
// current record or out of order (Update without Edit or AddNew).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/table.h"
#include "jet/transaction.h"
#include "jet/value.h"

namespace jet {
class Database;
}
namespace jet::sql {
class OpenFiles;
}

namespace jet::dao {

// The locale string the program creates its databases with (English, code
// page 1252), and the creation option for Jet 4.0 files.
inline constexpr std::string_view kLangGeneral = ";LANGID=0x0409;CP=1252;COUNTRY=0";
inline constexpr int kVersion40 = 64;

class Database;
class Recordset;

// Splits a script into statements at ";" outside literals and brackets;
// blank pieces are dropped.
std::vector<std::string> split_statements(std::string_view script);

// `v` converted for storing in `column` of `table` by the rules statements
// use (texts of numbers and dates parsed, ranges checked). Throws kConstraint
// or kOverflow naming the table, column and value.
Value convert_for_column(const Value& v, const ColumnDef& column, const std::string& table);

struct OpenOptions {
  bool exclusive = false;  // accepted; the engine's own locking decides
  bool read_only = false;  // false: shared, read-write (DAO's default)
  // DAO connect string: ";pwd=password" and/or a type prefix such as
  // "Access 2000;" (ignored). Unknown keys are ignored.
  std::string connect;
  // Whether each commit is fsync'ed (jet/transaction.h). kFast suits bulk
  // staging in the program's own files, never the products file.
  Durability durability = Durability::kDurable;
};

enum class EditMode { kNone, kEdit, kAddNew };

// A set of open files (DAO's Workspace): see the top of this file.
class Workspace {
 public:
  Workspace();
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  // As Database::open / Database::create, within this workspace.
  std::unique_ptr<Database> open_database(const std::string& path, const OpenOptions& options = {});
  std::unique_ptr<Database> create_database(const std::string& path, std::string_view locale = kLangGeneral,
                                            int format = kVersion40);

  // Files this workspace has open for writing through at least one handle.
  std::size_t open_file_count() const;

  // The workspace of Database::open and Database::create.
  static Workspace& default_workspace();

 private:
  std::shared_ptr<sql::OpenFiles> files_;
};

// One column of a recordset.
struct FieldInfo {
  std::string name;
  ColumnType type = ColumnType::kText;
  uint16_t size = 0;        // bytes for fixed types, characters for text
  bool auto_number = false; // a counter: assigned by the engine
  bool updatable = false;   // a column of the table the recordset reads
};

// Where a record of a table is stored; a bookmark stays valid across
// requery() as long as the record exists.
struct Bookmark {
  RowId row;
  friend bool operator==(const Bookmark&, const Bookmark&) = default;
};

class Database {
 public:
  // Opens an existing file in the default workspace. Throws kNotFound (no
  // such file, naming the path), kPassword, kCorruption, kIo.
  static std::unique_ptr<Database> open(const std::string& path, const OpenOptions& options = {});
  // Creates a new, empty Jet 4 file in the default workspace (`locale` as kLangGeneral, optionally
  // followed by ";pwd=..."; `format` must be kVersion40) and opens it.
  // Throws kConstraint when the file exists.
  static std::unique_ptr<Database> create(const std::string& path, std::string_view locale = kLangGeneral,
                                          int format = kVersion40);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Runs a statement that returns no rows (INSERT, UPDATE, DELETE, CREATE
  // TABLE, ALTER TABLE). A SELECT is refused with kInvalidArgument. The
  // statement's changes are made in one unit: all or nothing.
  void execute(std::string_view sql);
  // Rows the last execute() inserted, updated or deleted.
  uint64_t records_affected() const;

  // A recordset on a table name (all its rows, updatable) or on a SELECT
  // (updatable when it reads one table of this database). A table-name
  // recordset is a keyset: opening it lists where the rows are stored and
  // reads a row only when it is reached, so a grid showing 40 rows of a
  // large table reads those 40.
  std::unique_ptr<Recordset> open_recordset(std::string_view source);

  // Closes the file. Further calls throw kInvalidArgument.
  void close();
  bool is_open() const;
  const std::string& path() const;

  // The engine's database object (read API).
  jet::Database& engine();

 private:
  friend class Recordset;
  friend class Workspace;
  struct Impl;
  Database();
  std::shared_ptr<Impl> impl_;  // recordsets hold it weakly
};

class Recordset {
 public:
  ~Recordset();
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // Before the first record / after the last one. Both are true for an empty
  // recordset. A new recordset stands on its first record.
  bool bof() const;
  bool eof() const;

  // Moves. Throws kInvalidArgument ("no current record") when the recordset
  // is empty, for move_next at EOF and move_previous at BOF. A move cancels
  // a pending Edit or AddNew.
  void move_first();
  void move_last();
  void move_next();
  void move_previous();

  // Records of the recordset, as DAO counts them: for a table recordset
  // always all of them; for a SELECT the records visited so far, so that the
  // full count is known after move_last(). Deleted records do not count.
  int64_t record_count() const;

  // Every record of the recordset now (unlike record_count(), without
  // move_last first); records deleted through it do not count.
  int64_t row_count() const;
  // The current record's position, 0 to row_count() - 1; -1 when there is
  // no current record.
  int64_t absolute_position() const;
  // Makes the record at `position` current (cancelling a pending edit);
  // throws kInvalidArgument outside 0 .. row_count() - 1.
  void set_absolute_position(int64_t position);

  // The current record's bookmark (recordsets reading one table; else
  // kInvalidArgument), and back to it, after a requery too. Throws
  // kNotFound when that record is no longer in the recordset.
  Bookmark bookmark() const;
  void move_to_bookmark(const Bookmark& bookmark);

  // Changing records (updatable recordsets only, else kInvalidArgument):
  // add_new() starts a new record with every field Null; edit() starts
  // changing the current record; set_field() writes into that copy;
  // update() stores it (a counter is assigned by the engine) and leaves the
  // current record where it was; cancel_update() drops it. delete_current()
  // deletes the current record at once; the recordset then has no current
  // record until it moves.
  void add_new();
  void edit();
  void update();
  void cancel_update();
  void delete_current();
  EditMode edit_mode() const;
  // Makes the record that update() stored last the current one (DAO's
  // "Bookmark = LastModified").
  void move_to_last_modified();

  // Fields of the current record, by name (case-insensitive) or position.
  // Throws kNotFound naming an unknown field, kInvalidArgument without a
  // current record. set_field converts to the column's type at once and
  // throws kConstraint naming the column and value on a type mismatch.
  Value field(std::string_view name) const;
  Value field(std::size_t index) const;
  void set_field(std::string_view name, const Value& value);
  void set_field(std::string_view name, std::string_view text);
  void set_field(std::string_view name, const char* text);
  void set_field(std::string_view name, const std::string& text);
  std::size_t field_count() const;
  const std::string& field_name(std::size_t index) const;
  // The position of the field named `name` (case-insensitive), for reading
  // many records by position; throws kNotFound naming an unknown field.
  std::size_t field_index(std::string_view name) const;
  // Name, type and size of a field; throws kNotFound for a wrong index.
  FieldInfo field_info(std::size_t index) const;

  // Makes the first record matching `criteria` (a WHERE condition such as
  // "Scanner_Data_ID = 12") current; no_match() tells whether none did, and
  // then the current record does not change.
  bool find_first(std::string_view criteria);
  bool find_next(std::string_view criteria);
  bool no_match() const;

  // Runs the recordset's query again (seeing changes made through other
  // handles) and stands on the first record.
  void requery();
  void close();
  bool is_open() const;
  bool updatable() const;

  // How the rows were found: "seek PRODUCT1.PrimaryKey", "scan T", ...
  const std::string& plan() const;

 private:
  friend class Database;
  struct Impl;
  explicit Recordset(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace jet::dao
