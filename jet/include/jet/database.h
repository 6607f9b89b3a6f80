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

 private:
  struct Impl;
  Database();
  std::unique_ptr<Impl> impl_;
};

}  // namespace jet
