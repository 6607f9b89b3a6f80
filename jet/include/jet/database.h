// Opening a Jet 4 (Access 2000/2002/2003) database file.
//
//   auto db = jet::Database::open("products.mdb",
//                                 jet::OpenOptions::from_connect_string(";pwd=secret"));
//   for (const auto& t : db->tables()) ...
//   jet::Table& products = db->table("PRODUCT1");
//
// A Database owns its file, its page cache and the tables it has opened.
// Not thread-safe; other handles on the same file (in this or other
// processes) are fine (see OpenOptions::read_write). All failures throw jet::Error (jet/error.h) whose text
// names the file and what is wrong.
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

class Env;
class PageSource;
class Pager;

struct OpenOptions {
  // The database password (Jet compares it case-sensitively). Ignored for
  // files without one.
  std::string password;
  // false: read-only. true: read-write. Several handles, in this and in
  // other processes, may have a file open read-write: each write unit (a
  // Transaction, or one statement outside one) holds the file's writer
  // lock from its first change to its commit, and a read operation (a
  // scan, a row read, an index search) never sees half of another handle's
  // commit; every handle notices commits of the others and reads their
  // pages afresh (the protocol: src/file_locks.h). A read-write opener
  // enters itself in the Jet lock file ("<name>.ldb") so that Access-based
  // programs see another user.
  bool read_write = false;
  // Where file I/O goes; null = Env::posix().
  Env* env = nullptr;
  // Pages kept in memory (4 KiB each).
  std::size_t cache_pages = 4096;
  // Whether commits are fsync'ed (see jet/transaction.h). Read-write only.
  Durability durability = Durability::kDurable;
  // The security account name a read-write opener enters in the Jet lock
  // file, beside this computer's name (Jet's default account is "Admin").
  std::string user_name = "Admin";
  // How long a read or a write waits for another handle (in this or
  // another process) that holds the file's lock, before it fails with
  // kLocked naming the file and the other users.
  int lock_timeout_ms = 10000;

  // Options from a DAO/ODBC-style connect string: ";pwd=secret". Keys are
  // case-insensitive and separated by ';'; unknown keys are ignored.
  static OpenOptions from_connect_string(std::string_view connect);
};

// Facts from the database's header page.
struct DatabaseInfo {
  uint32_t jet_version = 1;     // 1 = Jet 4
  uint16_t code_page = 0x04E4;  // default code page
  uint32_t sort_order = 0x0409; // default text sort order (General)
  DateTime creation_date;
  bool has_password = false;
  bool encoded = false;         // pages are RC4-encrypted ("encode")
  uint32_t page_count = 0;
};

// How Database::create makes a new file.
struct CreateOptions {
  // DAO's locale string: ";LANGID=0x0409;CP=1252;COUNTRY=0". LANGID 0x0409
  // (the "General" sort order) and code page 1252 are the ones supported.
  std::string locale = ";LANGID=0x0409;CP=1252;COUNTRY=0";
  // DAO's creation options: 64 (dbVersion40) makes a Jet 4 (Access 2000)
  // file; other versions and the encryption flag are refused.
  int format_options = 64;
  // The database password (up to 20 characters); empty = none.
  std::string password;
  Env* env = nullptr;
  Durability durability = Durability::kDurable;
};

// How Database::compact reads its source.
struct CompactOptions {
  // The database password; the compacted copy keeps it.
  std::string password;
  Env* env = nullptr;
  // Entered in the Jet lock file while the source is held (see OpenOptions).
  std::string user_name = "Admin";
};

// What a compaction did.
struct CompactResult {
  uint32_t pages_before = 0;
  uint32_t pages_after = 0;
  uint32_t tables = 0;
  uint64_t rows = 0;
};

// An entry of the catalog (MSysObjects) that is a local table.
struct TableEntry {
  std::string name;
  uint32_t tdef_page = 0;
  bool system = false;  // MSys* tables and other objects Jet marks as system
  uint32_t flags = 0;   // raw catalog flags
};

class Database {
 public:
  // Opens `path`. Throws: kNotFound (no such file), kIo (cannot read),
  // kCorruption (not a Jet database, damaged header or catalog),
  // kUnsupported (Jet 3 or ACE files), kPassword (protected file and
  // missing or wrong password).
  static std::unique_ptr<Database> open(const std::string& path, const OpenOptions& options = {});
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  const std::string& path() const;
  const DatabaseInfo& info() const;

  // Local tables in catalog order; system tables only when asked.
  std::vector<TableEntry> tables(bool include_system = false) const;
  bool has_table(std::string_view name) const;

  // The table named `name` (ASCII case-insensitive), opened on first use and
  // owned by this Database. Throws kNotFound when there is no such table,
  // kCorruption when its definition is damaged.
  Table& table(std::string_view name);

  // The share of the file's pages (0..1) that its page map marks free:
  // space that new rows take before the file grows, and that compaction
  // gives back. The program compacts its own scanner file when this passes
  // one half.
  double free_space_fraction();

  // ---- compaction (compact.cc) ----

  // Writes a copy of the database at `path` holding its live rows only:
  // every user table with its columns, indexes (rebuilt), rows, counter
  // values and last counter value; the password, sort order and code page
  // kept. With `out_path` empty the copy replaces `path`, else it goes to
  // `out_path` (replacing a file there). The copy is written under a
  // temporary name beside the target and renamed into place once durable,
  // so a crash at any moment leaves the old file or the new one whole.
  // The source is held with the writer's lock meanwhile. Throws kLocked
  // when another writer has it open, kPassword, kUnsupported when the file
  // holds what the copy would lose (stored queries, relationships, linked
  // tables, forms, reports, modules; another sort order or code page), and
  // kIo; the target is then unchanged.
  static CompactResult compact(const std::string& path, const std::string& out_path = "",
                               const CompactOptions& options = {});

  // Internal: the page source of this file, for engine modules.
  PageSource& pages();
  // Internal: this handle's slot in the Jet lock file (-1: read-only).
  int lock_file_slot() const;
  // Internal: the pager, for writing modules (WriteScope, page_for_write).
  Pager& pager();

  // ---- creating databases and tables (database_create.cc) ----

  // Creates a new, empty Jet 4 database at `path` holding the system tables
  // the Jet engine creates (MSysObjects, MSysACEs, MSysQueries,
  // MSysRelationships) with their catalog rows and permissions, and opens
  // it read-write. The file is built beside `path` and renamed into place,
  // so a failure never leaves a half-written file there. Throws
  // kInvalidArgument when `path` exists or an option is malformed,
  // kUnsupported for another format version, sort order or code page, kIo
  // when the file cannot be written.
  static std::unique_ptr<Database> create(const std::string& path, const CreateOptions& options = {});

  // Creates a table (one statement: all or nothing). Throws
  // kInvalidArgument for a bad name, a duplicate column, an index naming a
  // column the table lacks, more than one primary key, a counter that is
  // not the only one; kConstraint when a table of that name exists.
  Table& create_table(const TableSpec& spec);

  // Drops table `name` (one statement: all or nothing): its catalog row and
  // permissions go, and every page it used (rows, long values, indexes,
  // maps, its definition) becomes free for new data. References to that
  // Table obtained before must not be used again. Throws kNotFound for an
  // unknown table, kInvalidArgument for a system table.
  void drop_table(std::string_view name);

  // Adds a column at the end of table `table`'s columns; rows already
  // stored read it as Null. Throws kNotFound for an unknown table,
  // kConstraint when the column exists, kInvalidArgument for a bad spec.
  // References to that Table obtained before stay valid but keep the old
  // definition; call table() again.
  void add_column(std::string_view table, const ColumnSpec& column);

 private:
  struct Impl;
  Database();
  // Reads the catalog's table entries (open and after other commits).
  void load_catalog();
  // Another handle committed: open tables' definitions and the catalog are
  // read again.
  void reload_after_other_commit();
  // Catalog upkeep for create_table / add_column.
  void catalog_add(const TableEntry& entry);
  void forget_table(std::string_view name);
  std::unique_ptr<Impl> impl_;
};

// Several reads that must see one state of the file (a report over two
// tables; a statement that scans twice): while a ReadSnapshot lives, other
// handles' commits wait (each up to its lock time limit) instead of being
// written into the file, and every read of `db` sees the file as of the
// snapshot's start. Single reads (a scan, a row read, a search) are
// consistent on their own. Throws kLocked when a commit keeps the file
// past the time limit.
class ReadSnapshot {
 public:
  explicit ReadSnapshot(Database& db);
  ~ReadSnapshot();
  ReadSnapshot(const ReadSnapshot&) = delete;
  ReadSnapshot& operator=(const ReadSnapshot&) = delete;

 private:
  Database& db_;
};

}  // namespace jet
