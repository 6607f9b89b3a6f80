// DAO-style access to Jet 4 databases: open or create a database, execute
// statements in Jet's SQL dialect, and work through recordsets.
//
//   auto db = jet::dao::Database::open("products.mdb", {.connect = ";pwd=secret"});
//   db->execute("UPDATE PRODUCT1 SET [Inventory Qty] = 0 WHERE [Product Code] = \"A1\"");
//   auto rs = db->open_recordset("Select * From PRODUCT1 Where [Product Code] = \"A1\"");
//   if (!rs->eof()) { rs->edit(); rs->set_field("Inventory Qty", 5.0); rs->update(); }
//   rs->close();
//
// Ownership: a Database owns its file; recordsets opened from it refer to it
// and must be closed (or destroyed) before it is. Not thread-safe.
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

#include "jet/transaction.h"
#include "jet/value.h"

namespace jet {
class Database;
}

namespace jet::dao {

// The locale string the program creates its databases with (English, code
// page 1252), and the creation option for Jet 4.0 files.
inline constexpr std::string_view kLangGeneral = ";LANGID=0x0409;CP=1252;COUNTRY=0";
inline constexpr int kVersion40 = 64;

class Recordset;

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

class Database {
 public:
  // Opens an existing file. Throws kNotFound (no such file, naming the path),
  // kPassword, kCorruption, kIo.
  static std::unique_ptr<Database> open(const std::string& path, const OpenOptions& options = {});
  // Creates a new, empty Jet 4 file (`locale` as kLangGeneral, optionally
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
  // (updatable when it reads one table of this database).
  std::unique_ptr<Recordset> open_recordset(std::string_view source);

  // Closes the file. Further calls throw kInvalidArgument.
  void close();
  bool is_open() const;
  const std::string& path() const;

  // The engine's database object (read API).
  jet::Database& engine();

 private:
  friend class Recordset;
  struct Impl;
  Database();
  std::unique_ptr<Impl> impl_;
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
