#include "jet/database.h"

#include <map>

#include "header.h"
#include "jet/env.h"
#include "jet/error.h"
#include "journal.h"
#include "lock_file.h"
#include "pager.h"
#include "table_def.h"

namespace jet {
namespace {

// The catalog, MSysObjects, always has its definition on page 2 (format
// notes; every fixture). Columns used: Id (object id; for tables the low 24
// bits are the definition page), ParentId, Name, Type (1 = local table),
// Flags (0x80000000 or 0x00000002 = system object).
constexpr uint32_t kCatalogTdefPage = 2;
constexpr int16_t kObjectTypeTable = 1;
constexpr uint32_t kSystemObjectFlags = 0x80000002u;

int64_t as_integer(const Value& v) {
  if (auto p = std::get_if<int32_t>(&v)) return *p;
  if (auto p = std::get_if<int16_t>(&v)) return *p;
  if (auto p = std::get_if<uint8_t>(&v)) return *p;
  return 0;
}

std::string lower_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

}  // namespace

OpenOptions OpenOptions::from_connect_string(std::string_view connect) {
  OpenOptions options;
  std::size_t pos = 0;
  while (pos <= connect.size()) {
    std::size_t end = connect.find(';', pos);
    if (end == std::string_view::npos) end = connect.size();
    std::string_view part = connect.substr(pos, end - pos);
    std::size_t eq = part.find('=');
    if (eq != std::string_view::npos) {
      std::string_view key = part.substr(0, eq);
      while (!key.empty() && key.front() == ' ') key.remove_prefix(1);
      while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
      if (names_equal(key, "pwd") || names_equal(key, "password") || names_equal(key, "jet oledb:database password")) {
        options.password = std::string(part.substr(eq + 1));
      }
    }
    pos = end + 1;
  }
  return options;
}

struct Database::Impl {
  std::string path;
  std::unique_ptr<LockFile> lock_file;  // read-write opens; left after the pager closes
  std::unique_ptr<Pager> pager;
  DatabaseHeader header;
  DatabaseInfo info;
  std::vector<TableEntry> catalog;  // every local table, system ones included
  std::map<std::string, std::unique_ptr<Table>> open_tables;  // by lower-case name
  std::vector<std::unique_ptr<Table>> retired_tables;  // replaced after a schema change
};

Database::Database() : impl_(std::make_unique<Impl>()) {}
Database::~Database() = default;

const std::string& Database::path() const { return impl_->path; }
const DatabaseInfo& Database::info() const { return impl_->info; }
PageSource& Database::pages() { return *impl_->pager; }
Pager& Database::pager() { return *impl_->pager; }

namespace {

// Takes the writer's lock on a file opened read-write, or says who holds it.
void lock_for_writing(File& file, const std::string& path) {
  if (!file.try_lock(LockKind::kExclusive)) {
    throw Error(ErrorCategory::kLocked,
                path + ": the database is already open for writing by another program or connection; "
                       "it can be opened read-only, or for writing once that one closes it");
  }
}

// A journal beside the file is hot when no live writer owns it. A writer
// (holding the lock) judges it itself; a reader takes the writer's lock on
// a second, read-write handle for as long as recovery runs, and leaves the
// journal alone when a live writer holds that lock (the writer is
// mid-commit, or keeps its cold journal while open). A reader that cannot
// write the file fails only when the journal is hot.
void recover_if_needed(Env& env, const std::string& path, File* writer_file) {
  if (!journal::journal_exists(env, path)) return;
  if (writer_file) {
    journal::recover(env, path, *writer_file);
    return;
  }
  std::unique_ptr<File> rw;
  try {
    rw = env.open_file(path, OpenMode::kReadWrite);
  } catch (const Error& e) {
    if (!journal::journal_is_hot(env, path)) return;  // leftover of a finished commit: harmless
    throw Error(ErrorCategory::kIo, path + ": a crash left an unfinished commit (" + journal::journal_path(path) +
                                        ") that must be rolled back, but the file cannot be opened for writing (" +
                                        e.what() + ")");
  }
  if (!rw->try_lock(LockKind::kExclusive)) return;
  journal::recover(env, path, *rw);
  rw->unlock();
}

}  // namespace

std::unique_ptr<Database> Database::open(const std::string& path, const OpenOptions& options) {
  Env* env = options.env ? options.env : Env::posix();
  std::unique_ptr<Database> db(new Database());
  Impl& d = *db->impl_;
  d.path = path;
  auto file = env->open_file(path, options.read_write ? OpenMode::kReadWrite : OpenMode::kReadOnly);
  if (options.read_write) {
    lock_for_writing(*file, path);
    d.lock_file = std::make_unique<LockFile>(*env, path, env->computer_name(), options.user_name);
  }
  recover_if_needed(*env, path, options.read_write ? file.get() : nullptr);
  d.pager = std::make_unique<Pager>(std::move(file), options.cache_pages, env, options.read_write);
  d.pager->set_durability(options.durability);
  Pager& pager = *d.pager;
  if (pager.page_count() == 0) {
    uint64_t size = pager.file().size();
    throw Error(ErrorCategory::kCorruption, path + ": not a Jet database: the file is " + std::to_string(size) +
                                                " bytes long, shorter than one 4096-byte page");
  }
  d.header = parse_header(pager.page(0), kPageSize, path);
  check_password(d.header, options.password, path);
  pager.set_encoding_key(d.header.database_key);
  d.info.jet_version = d.header.jet_version;
  d.info.code_page = d.header.code_page;
  d.info.sort_order = d.header.sort_order;
  d.info.creation_date = DateTime{d.header.creation_date};
  d.info.has_password = !d.header.password.empty();
  d.info.encoded = d.header.database_key != 0;
  d.info.page_count = pager.page_count();
  if (pager.page_count() <= kCatalogTdefPage) {
    throw Error(ErrorCategory::kCorruption, path + ": the file is cut short: it has " +
                                                std::to_string(pager.page_count()) +
                                                " pages and no catalog (page 2)");
  }

  // The catalog is a table like any other; open it under its own name.
  Table& catalog = *d.open_tables
                        .emplace("msysobjects", std::unique_ptr<Table>(new Table(
                                                    *db, read_table_def(pager, kCatalogTdefPage, "MSysObjects"))))
                        .first->second;
  const TableDef& cdef = catalog.def();
  int c_id = cdef.find_column("Id"), c_name = cdef.find_column("Name"), c_type = cdef.find_column("Type"),
      c_flags = cdef.find_column("Flags");
  if (c_id < 0 || c_name < 0 || c_type < 0) {
    throw Error(ErrorCategory::kCorruption, path + ": the catalog (MSysObjects, page 2) lacks its Id, Name or Type column");
  }
  for (RowCursor c = catalog.scan(); c.next();) {
    const Row& r = c.row();
    if (as_integer(r[c_type]) != kObjectTypeTable) continue;
    const std::string* name = std::get_if<std::string>(&r[c_name]);
    if (!name) continue;
    TableEntry e;
    e.name = *name;
    e.tdef_page = static_cast<uint32_t>(as_integer(r[c_id])) & 0x00FFFFFF;
    e.flags = c_flags >= 0 ? static_cast<uint32_t>(as_integer(r[c_flags])) : 0;
    e.system = (e.flags & kSystemObjectFlags) != 0 || e.name.rfind("MSys", 0) == 0;
    d.catalog.push_back(std::move(e));
  }
  return db;
}

std::vector<TableEntry> Database::tables(bool include_system) const {
  std::vector<TableEntry> out;
  for (const TableEntry& e : impl_->catalog) {
    if (include_system || !e.system) out.push_back(e);
  }
  return out;
}

bool Database::has_table(std::string_view name) const {
  for (const TableEntry& e : impl_->catalog) {
    if (names_equal(e.name, name)) return true;
  }
  return false;
}

Table& Database::table(std::string_view name) {
  std::string key = lower_ascii(name);
  auto it = impl_->open_tables.find(key);
  if (it != impl_->open_tables.end()) return *it->second;
  for (const TableEntry& e : impl_->catalog) {
    if (!names_equal(e.name, name)) continue;
    TableDef def = read_table_def(*impl_->pager, e.tdef_page, e.name);
    def.system = def.system || e.system;
    auto table = std::unique_ptr<Table>(new Table(*this, std::move(def)));
    return *impl_->open_tables.emplace(key, std::move(table)).first->second;
  }
  throw Error(ErrorCategory::kNotFound, impl_->path + ": no table named '" + std::string(name) + "'");
}

void Database::catalog_add(const TableEntry& entry) { impl_->catalog.push_back(entry); }

void Database::forget_table(std::string_view name) {
  auto it = impl_->open_tables.find(lower_ascii(name));
  if (it == impl_->open_tables.end()) return;
  // Callers may still hold the Table: keep it alive (with its old
  // definition) until the Database closes.
  impl_->retired_tables.push_back(std::move(it->second));
  impl_->open_tables.erase(it);
}

}  // namespace jet
