// Opening a Jet 4 (Access 2000/2002/2003) database file.
//
//   auto db = jet::Database::open("products.mdb",
//                                 jet::OpenOptions::from_connect_string(";pwd=secret"));
//   for (const auto& t : db->tables()) ...
//   jet::Table& products = db->table("PRODUCT1");
//
// A Database owns its file, its page cache and the tables it has opened.
// Not thread-safe. All failures throw jet::Error (jet/error.h) whose text
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
  // false: read-only. true: read-write. A read-write opener holds the
  // writer's lock on the file until it is closed: a second read-write
  // opener (in this or another process) gets kLocked; read-only openers
  // still open it. It also enters itself in the Jet lock file
  // ("<name>.ldb") so that Access-based programs see another user.
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

  // Internal: the page source of this file, for engine modules.
  PageSource& pages();
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

  // Adds a column at the end of table `table`'s columns; rows already
  // stored read it as Null. Throws kNotFound for an unknown table,
  // kConstraint when the column exists, kInvalidArgument for a bad spec.
  // References to that Table obtained before stay valid but keep the old
  // definition; call table() again.
  void add_column(std::string_view table, const ColumnSpec& column);

 private:
  struct Impl;
  Database();
  // Catalog upkeep for create_table / add_column.
  void catalog_add(const TableEntry& entry);
  void forget_table(std::string_view name);
  std::unique_ptr<Impl> impl_;
};

}  // namespace jet
