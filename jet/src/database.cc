#include "jet/database.h"

#include <algorithm>
#include <map>

#include <chrono>

#include "file_locks.h"
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
ReadSnapshot::ReadSnapshot(Database& db) : db_(db) { db_.pager().begin_read(); }
ReadSnapshot::~ReadSnapshot() { db_.pager().end_read(); }

int Database::lock_file_slot() const { return impl_->lock_file ? impl_->lock_file->slot() : -1; }

namespace {

// A journal beside the file is hot when no live writer owns it: only a
// holder of the writer's lock (file_locks.h) judges it. A read-write opener
// takes that lock on its own handle for as long as recovery runs; a reader
// takes it on a second, read-write handle. When a live writer holds the
// lock the journal is that writer's business (it is mid-commit, or it
// recovers the file itself when it next takes the lock). A reader that
// cannot write the file fails only when the journal is hot.
void recover_if_needed(Env& env, const std::string& path, File* writer_file) {
  if (!journal::journal_exists(env, path)) return;
  if (writer_file) {
    if (!writer_file->try_lock_range(file_locks::kWriterByte, 1, LockKind::kExclusive)) return;
    try {
      journal::recover(env, path, *writer_file);
    } catch (...) {
      writer_file->unlock_range(file_locks::kWriterByte, 1);
      throw;
    }
    writer_file->unlock_range(file_locks::kWriterByte, 1);
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
  if (!rw->try_lock_range(file_locks::kWriterByte, 1, LockKind::kExclusive)) return;
  journal::recover(env, path, *rw);
  rw->unlock_range(file_locks::kWriterByte, 1);
}

// Recovery while the file is open (file_locks.h): another handle's commit
// was cut short by a crash. `pager_holds_writer`: this handle holds the
// writer's lock and its file is read-write; otherwise a second handle takes
// the locks. Readers are kept out while the file is played back.
void recover_shared(Env& env, const std::string& path, Pager& pager, bool pager_holds_writer,
                    std::chrono::milliseconds timeout) {
  if (!journal::journal_is_hot(env, path)) return;
  auto locked = [&](const char* what) {
    return Error(ErrorCategory::kLocked, path + ": locked: " + what + "; gave up after " +
                                             std::to_string(timeout.count()) + " ms, try again later");
  };
  std::unique_ptr<File> own;
  File* f = &pager.file();
  if (!pager_holds_writer) {
    try {
      own = env.open_file(path, OpenMode::kReadWrite);
    } catch (const Error& e) {
      throw Error(ErrorCategory::kIo, path + ": another program's commit was cut short (" + journal::journal_path(path) +
                                          ") and must be rolled back, but the file cannot be opened for writing (" +
                                          e.what() + ")");
    }
    f = own.get();
    if (!file_locks::lock_writer_waiting(*f, timeout)) {
      throw locked("another program or connection is changing the database");
    }
  }
  bool pending = false, reader = false;
  try {
    pending = file_locks::lock_waiting(*f, file_locks::kPendingByte, LockKind::kExclusive, timeout);
    reader = pending && file_locks::lock_waiting(*f, file_locks::kReaderByte, LockKind::kExclusive, timeout);
    if (!reader) throw locked("other programs or connections keep reading the database");
    if (journal::journal_is_hot(env, path)) journal::recover(env, path, *f);
  } catch (...) {
    if (reader) f->unlock_range(file_locks::kReaderByte, 1);
    if (pending) f->unlock_range(file_locks::kPendingByte, 1);
    if (own) f->unlock_range(file_locks::kWriterByte, 1);
    throw;
  }
  f->unlock_range(file_locks::kReaderByte, 1);
  f->unlock_range(file_locks::kPendingByte, 1);
  if (own) f->unlock_range(file_locks::kWriterByte, 1);
}

}  // namespace

std::unique_ptr<Database> Database::open(const std::string& path, const OpenOptions& options) {
  Env* env = options.env ? options.env : Env::posix();
  std::unique_ptr<Database> db(new Database());
  Impl& d = *db->impl_;
  d.path = path;
  auto file = env->open_file(path, options.read_write ? OpenMode::kReadWrite : OpenMode::kReadOnly);
  if (options.read_write) {
    d.lock_file = std::make_unique<LockFile>(*env, path, env->computer_name(), options.user_name);
  }
  recover_if_needed(*env, path, options.read_write ? file.get() : nullptr);
  d.pager = std::make_unique<Pager>(std::move(file), options.cache_pages, env, options.read_write);
  d.pager->set_durability(options.durability);
  Pager& pager = *d.pager;
  {
    // Sharing the file with other handles (file_locks.h).
    Database* self = db.get();
    const int own_slot = d.lock_file ? d.lock_file->slot() : -1;
    const auto timeout = std::chrono::milliseconds(options.lock_timeout_ms);
    Sharing sharing;
    sharing.commit_counter = [env, path] { return LockFile::read_commit_counter(*env, path); };
    sharing.bump_commit_counter = [self] {
      if (!self->impl_->lock_file) {
        throw Error(ErrorCategory::kInvalidArgument, self->impl_->path + ": the database is open read-only");
      }
      self->impl_->lock_file->bump_commit_counter();
    };
    sharing.reload = [self] { self->reload_after_other_commit(); };
    sharing.recover = [env, path, self, timeout](bool holding_writer) {
      recover_shared(*env, path, *self->impl_->pager, holding_writer, timeout);
    };
    sharing.journal_hot = [env, path] { return journal::journal_is_hot(*env, path); };
    sharing.other_users = [env, path, own_slot] {
      std::string out;
      for (const std::string& u : LockFile::users(*env, path, own_slot)) out += (out.empty() ? "" : ", ") + u;
      return out;
    };
    sharing.lock_timeout = timeout;
    pager.set_sharing(std::move(sharing));
  }
  ReadOperation reading(pager);
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
  d.open_tables.emplace("msysobjects", std::unique_ptr<Table>(new Table(
                                           *db, read_table_def(pager, kCatalogTdefPage, "MSysObjects"))));
  db->load_catalog();
  return db;
}

void Database::load_catalog() {
  Impl& d = *impl_;
  const std::string& path = d.path;
  Table& catalog = *d.open_tables.at("msysobjects");
  const TableDef& cdef = catalog.def();
  int c_id = cdef.find_column("Id"), c_name = cdef.find_column("Name"), c_type = cdef.find_column("Type"),
      c_flags = cdef.find_column("Flags");
  if (c_id < 0 || c_name < 0 || c_type < 0) {
    throw Error(ErrorCategory::kCorruption, path + ": the catalog (MSysObjects, page 2) lacks its Id, Name or Type column");
  }
  std::vector<TableEntry> catalog_rows;
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
    catalog_rows.push_back(std::move(e));
  }
  d.catalog = std::move(catalog_rows);
}

void Database::reload_after_other_commit() {
  // Another handle committed: every open table's definition may have
  // changed (row counts, counters, index roots), tables may have come.
  Impl& d = *impl_;
  for (auto& [key, table] : d.open_tables) {
    try {
      TableDef def = read_table_def(*d.pager, table->def_.tdef_page, table->def_.name);
      def.system = def.system || table->def_.system;
      table->reload(std::move(def));
    } catch (const Error&) {
      // Dropped or damaged: reading it again reports that.
    }
  }
  if (d.open_tables.count("msysobjects")) load_catalog();  // not while opening
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
  ReadOperation reading(*impl_->pager);
  for (const TableEntry& e : impl_->catalog) {
    if (!names_equal(e.name, name)) continue;
    TableDef def = read_table_def(*impl_->pager, e.tdef_page, e.name);
    def.system = def.system || e.system;
    auto table = std::unique_ptr<Table>(new Table(*this, std::move(def)));
    return *impl_->open_tables.emplace(key, std::move(table)).first->second;
  }
  throw Error(ErrorCategory::kNotFound, impl_->path + ": no table named '" + std::string(name) + "'");
}

void Database::drop_table(std::string_view name) {
  Table& t = table(name);
  if (t.def().system) {
    throw Error(ErrorCategory::kInvalidArgument, impl_->path + ": '" + t.name() + "' is a system table and cannot be dropped");
  }
  const std::string real_name = t.name();
  const uint32_t id = t.def().tdef_page;
  {
    WriteScope scope(*impl_->pager);
    t.free_storage();
    // Its catalog row and the permissions granted on it.
    auto remove_rows = [&](const char* table_name, const char* id_column) {
      if (!has_table(table_name)) return;
      Table& sys = table(table_name);
      const int c = sys.def().find_column(id_column);
      if (c < 0) return;
      std::vector<RowId> gone;
      for (RowCursor cur = sys.scan(); cur.next();) {
        if (as_integer(cur.row()[c]) == int64_t(int32_t(id)) && (std::string(table_name) != "MSysObjects" ||
                                                                 as_integer(cur.row()[sys.def().find_column("Type")]) ==
                                                                     kObjectTypeTable)) {
          gone.push_back(cur.id());
        }
      }
      for (RowId r : gone) sys.remove(r);
    };
    remove_rows("MSysObjects", "Id");
    remove_rows("MSysACEs", "ObjectId");
    scope.commit();
  }
  forget_table(real_name);
  auto& cat = impl_->catalog;
  cat.erase(std::remove_if(cat.begin(), cat.end(), [&](const TableEntry& e) { return names_equal(e.name, real_name); }),
            cat.end());
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
