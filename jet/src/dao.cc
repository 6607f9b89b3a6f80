// DAO-style Workspace, Database and Recordset over the SQL executor.
//
// A SELECT recordset holds its rows in memory: the values of each row and,
// when it reads one table, where the row is stored. A table-name recordset
// is a keyset: it lists where the rows are stored and reads (and keeps) a
// row's values when the row is first reached. Changes go to the table at
// once through the write seam and the recordset's copy is refreshed from the
// stored row afterwards.
#include "jet/dao.h"

#include <filesystem>

#include "jet/database.h"
#include "jet/error.h"
#include "jet/schema.h"
#include "sql/executor.h"
#include "sql/open_files.h"
#include "sql/parser.h"
#include "sql/values.h"
#include "sql/writes.h"

namespace jet::dao {

using sql::Executor;
using sql::ResultSet;

struct Database::Impl {
  std::string path;
  std::shared_ptr<sql::OpenFiles> files;  // the workspace's registry
  std::shared_ptr<jet::Database> db;  // shared with other handles on the file
  std::unique_ptr<Executor> exec;
  sql::StatementParser parser;  // execute()'s statements
  bool read_only = false;
  uint64_t affected = 0;

  Executor& executor() {
    if (!exec) throw Error(ErrorCategory::kInvalidArgument, "the database " + path + " is closed");
    return *exec;
  }
};

std::vector<std::string> split_statements(std::string_view script) { return sql::split_statements(script); }

Value convert_for_column(const Value& v, const ColumnDef& column, const std::string& table) {
  return sql::convert_for_column(v, column, table);
}

Workspace::Workspace() : files_(std::make_shared<sql::OpenFiles>()) {}
Workspace::~Workspace() = default;

Workspace& Workspace::default_workspace() {
  static Workspace workspace;
  return workspace;
}

std::size_t Workspace::open_file_count() const { return files_->open_count(); }

std::unique_ptr<Database> Workspace::open_database(const std::string& path, const OpenOptions& options) {
  jet::OpenOptions o = jet::OpenOptions::from_connect_string(options.connect);
  o.read_write = !options.read_only;
  o.durability = options.durability;
  std::unique_ptr<Database> d(new Database());
  d->impl_->path = path;
  d->impl_->files = files_;
  d->impl_->db = files_->open(path, o);
  d->impl_->read_only = options.read_only;
  d->impl_->exec = std::make_unique<Executor>(*d->impl_->db, files_);
  return d;
}

Database::Database() : impl_(std::make_shared<Impl>()) {}
Database::~Database() = default;

std::unique_ptr<Database> Database::open(const std::string& path, const OpenOptions& options) {
  return Workspace::default_workspace().open_database(path, options);
}

std::unique_ptr<Database> Database::create(const std::string& path, std::string_view locale, int format) {
  return Workspace::default_workspace().create_database(path, locale, format);
}

std::unique_ptr<Database> Workspace::create_database(const std::string& path, std::string_view locale, int format) {
  if (format != kVersion40)
    throw Error(ErrorCategory::kUnsupported,
                "creating " + path + ": only the Jet 4.0 format (option " + std::to_string(kVersion40) + ") is supported");
  std::error_code ec;
  if (std::filesystem::exists(path, ec))
    throw Error(ErrorCategory::kConstraint, "creating " + path + ": the file already exists");
  sql::writes::create_database(path, std::string(locale));
  OpenOptions o;
  o.connect = std::string(locale);
  return open_database(path, o);
}

void Database::execute(std::string_view text) {
  sql::Statement st = impl_->parser.parse(text);
  if (st.kind == sql::StatementKind::kSelect)
    throw Error(ErrorCategory::kInvalidArgument,
                "a SELECT returns rows and cannot be executed; open a recordset on it instead");
  if (impl_->read_only)
    throw Error(ErrorCategory::kInvalidArgument, impl_->path + " is open read-only; it cannot run: " + std::string(text));
  impl_->affected = impl_->executor().run(st).records_affected;
}

uint64_t Database::records_affected() const { return impl_->affected; }

void Database::close() {
  impl_->exec.reset();
  impl_->db.reset();
}
bool Database::is_open() const { return impl_->db != nullptr; }
const std::string& Database::path() const { return impl_->path; }
jet::Database& Database::engine() {
  if (!impl_->db) throw Error(ErrorCategory::kInvalidArgument, "the database " + impl_->path + " is closed");
  return *impl_->db;
}

// ---------------------------------------------------------------------------

struct Recordset::Impl {
  std::weak_ptr<Database::Impl> owner_ref;
  std::string owner_path;
  std::string source;
  bool is_table = false;
  bool open = true;
  ResultSet rs;  // for a keyset, rows[i] stays empty until row i is read
  std::vector<bool> deleted;
  std::size_t deleted_count = 0;  // how many entries of `deleted` are set
  int64_t pos = 0;  // -1: BOF, rows.size(): EOF
  int64_t visited = 0;  // records reached so far (dynaset RecordCount)
  bool at_deleted = false;
  bool no_match = true;
  EditMode mode = EditMode::kNone;
  Row buffer;               // the record being edited or added, in result columns
  std::vector<bool> dirty;  // result columns set since edit()/add_new()
  Row base_buffer;          // the same in the base table's columns
  std::optional<std::size_t> last_modified;

  std::size_t live_count() const { return deleted.size() - deleted_count; }

  // The database, while it is open; the error names it once it is not.
  Database::Impl& owner() const {
    auto o = owner_ref.lock();
    if (!o || !o->exec)
      throw Error(ErrorCategory::kInvalidArgument,
                  "the database " + owner_path + " is closed; its recordset on " + short_source() + " cannot be used");
    return *o;  // the Database object holding `o` outlives this call
  }

  void load() {
    Executor& ex = owner().executor();
    if (is_table) {
      Table& t = ex.database().table(source);
      rs = ResultSet{};
      for (std::size_t c = 0; c < t.columns().size(); ++c) {
        const ColumnDef& cd = t.columns()[c];
        rs.columns.push_back(sql::ResultColumn{cd.name, cd.type, cd.auto_number, static_cast<int>(c)});
      }
      rs.row_ids = t.row_ids();
      rs.rows.assign(rs.row_ids.size(), Row{});
      rs.base_table = &t;
      rs.plan = "keyset " + t.name();
    } else {
      sql::Statement st = sql::parse_statement(source);
      if (st.kind != sql::StatementKind::kSelect)
        throw Error(ErrorCategory::kInvalidArgument,
                    "a recordset needs a table name or a SELECT; use execute() for: " + source);
      rs = ex.run(st).result;
    }
    deleted.assign(rs.rows.size(), false);
    deleted_count = 0;
    pos = 0;
    visited = rs.rows.empty() ? 0 : 1;
    at_deleted = false;
    mode = EditMode::kNone;
    last_modified.reset();
  }

  // The values of entry `i`, read from the table the first time.
  const Row& row(std::size_t i) {
    Row& r = rs.rows[i];
    if (r.empty() && !rs.columns.empty()) {
      owner();
      try {
        rs.base_table->read_row(rs.row_ids[i], r);
      } catch (const Error& e) {
        r.clear();
        if (e.category() != ErrorCategory::kNotFound) throw;
        throw Error(ErrorCategory::kNotFound, "record " + std::to_string(i + 1) + " of the recordset on " +
                                                  short_source() + " was deleted through another handle; requery");
      }
    }
    return r;
  }

  void check_open() const {
    if (!open) throw Error(ErrorCategory::kInvalidArgument, "the recordset is closed");
    owner();
  }
  bool empty() const { return live_count() == 0; }
  // A recordset whose records were all deleted through it keeps its position
  // (no current record) until it moves, as DAO's does.
  bool bof() const { return rs.rows.empty() || pos < 0; }
  bool eof() const { return rs.rows.empty() || pos >= static_cast<int64_t>(rs.rows.size()); }

  [[noreturn]] void no_current() const {
    throw Error(ErrorCategory::kInvalidArgument, "no current record in the recordset on: " + short_source());
  }
  std::string short_source() const {
    std::string s = source;
    for (char& c : s) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    return s.size() > 120 ? s.substr(0, 117) + "..." : s;
  }

  std::size_t current() const {
    check_open();
    if (bof() || eof() || at_deleted || deleted[pos]) no_current();
    return static_cast<std::size_t>(pos);
  }

  void note_visit() { visited = std::max(visited, pos + 1); }

  void seek_live(int64_t from, int step) {
    pos = from;
    while (pos >= 0 && pos < static_cast<int64_t>(rs.rows.size()) && deleted[pos]) pos += step;
    at_deleted = false;
    if (pos >= 0 && pos < static_cast<int64_t>(rs.rows.size())) note_visit();
  }

  // Entry index of the live record at `position` (0-based), or -1.
  int64_t entry_of_position(int64_t position) const {
    if (position < 0 || position >= static_cast<int64_t>(live_count())) return -1;
    if (deleted_count == 0) return position;
    for (std::size_t i = 0; i < deleted.size(); ++i) {
      if (!deleted[i] && position-- == 0) return static_cast<int64_t>(i);
    }
    return -1;
  }

  int column(std::string_view name) const {
    int c = rs.find_column(name);
    if (c < 0) throw Error(ErrorCategory::kNotFound, "unknown field '" + std::string(name) + "' in the recordset on: " +
                                                         short_source());
    return c;
  }

  void require_updatable() const {
    Database::Impl& o = owner();
    if (o.read_only)
      throw Error(ErrorCategory::kInvalidArgument, o.path + " is open read-only; its recordsets cannot change rows");
    if (rs.base_table == nullptr)
      throw Error(ErrorCategory::kInvalidArgument,
                  "the recordset is not updatable (it does not read exactly one table): " + short_source());
  }

  bool find_from(std::string_view criteria, std::size_t from) {
    sql::Executor& ex = owner().executor();
    sql::ExprPtr e = sql::parse_criteria(criteria);
    for (std::size_t i = from; i < rs.rows.size(); ++i) {
      if (deleted[i]) continue;
      if (ex.matches(*e, rs, row(i))) {
        pos = static_cast<int64_t>(i);
        at_deleted = false;
        mode = EditMode::kNone;
        note_visit();
        no_match = false;
        return true;
      }
    }
    no_match = true;
    return false;
  }

  // The result row of the stored row `id`, for the recordset's columns.
  Row project(RowId id, Row& base) {
    rs.base_table->read_row(id, base);
    Row out(rs.columns.size());
    for (std::size_t c = 0; c < rs.columns.size(); ++c) {
      if (rs.columns[c].base_column >= 0) out[c] = base[rs.columns[c].base_column];
    }
    return out;
  }
};

Recordset::Recordset(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Recordset::~Recordset() = default;

std::unique_ptr<Recordset> Database::open_recordset(std::string_view source) {
  impl_->executor();
  auto r = std::make_unique<Recordset::Impl>();
  r->owner_ref = impl_;
  r->owner_path = impl_->path;
  r->source = std::string(source);
  std::size_t first = r->source.find_first_not_of(" \t\r\n");
  std::string head = first == std::string::npos ? std::string() : r->source.substr(first, 6);
  r->is_table = !names_equal(head, "SELECT");
  if (r->is_table) {
    // A bracketed name or a bare name: the table itself.
    std::string name = r->source;
    while (!name.empty() && (name.back() == ' ' || name.back() == '\r' || name.back() == '\n')) name.pop_back();
    name.erase(0, name.find_first_not_of(" \t\r\n"));
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    r->source = name;
  }
  r->load();
  return std::unique_ptr<Recordset>(new Recordset(std::move(r)));
}

bool Recordset::bof() const {
  impl_->check_open();
  return impl_->bof();
}
bool Recordset::eof() const {
  impl_->check_open();
  return impl_->eof();
}

void Recordset::move_first() {
  impl_->check_open();
  if (impl_->empty()) impl_->no_current();
  impl_->mode = EditMode::kNone;
  impl_->seek_live(0, 1);
}
void Recordset::move_last() {
  impl_->check_open();
  if (impl_->empty()) impl_->no_current();
  impl_->mode = EditMode::kNone;
  impl_->visited = static_cast<int64_t>(impl_->rs.rows.size());
  impl_->seek_live(static_cast<int64_t>(impl_->rs.rows.size()) - 1, -1);
}
void Recordset::move_next() {
  impl_->check_open();
  if (impl_->eof()) impl_->no_current();
  impl_->mode = EditMode::kNone;
  impl_->seek_live(impl_->pos + 1, 1);
}
void Recordset::move_previous() {
  impl_->check_open();
  if (impl_->bof()) impl_->no_current();
  impl_->mode = EditMode::kNone;
  impl_->seek_live(impl_->pos - 1, -1);
}

int64_t Recordset::record_count() const {
  impl_->check_open();
  int64_t upto = impl_->is_table ? static_cast<int64_t>(impl_->rs.rows.size())
                                 : std::min<int64_t>(impl_->visited, static_cast<int64_t>(impl_->rs.rows.size()));
  if (upto == static_cast<int64_t>(impl_->rs.rows.size())) return static_cast<int64_t>(impl_->live_count());
  int64_t n = 0;
  for (int64_t i = 0; i < upto; ++i) n += !impl_->deleted[i];
  return n;
}

int64_t Recordset::row_count() const {
  impl_->check_open();
  return static_cast<int64_t>(impl_->live_count());
}

int64_t Recordset::absolute_position() const {
  impl_->check_open();
  auto& r = *impl_;
  if (r.bof() || r.eof() || r.at_deleted || r.deleted[r.pos]) return -1;
  if (r.deleted_count == 0) return r.pos;
  int64_t n = 0;
  for (int64_t i = 0; i < r.pos; ++i) n += !r.deleted[i];
  return n;
}

void Recordset::set_absolute_position(int64_t position) {
  impl_->check_open();
  int64_t entry = impl_->entry_of_position(position);
  if (entry < 0)
    throw Error(ErrorCategory::kInvalidArgument, "position " + std::to_string(position) + " is outside the " +
                                                     std::to_string(impl_->live_count()) +
                                                     " records of the recordset on: " + impl_->short_source());
  impl_->mode = EditMode::kNone;
  impl_->pos = entry;
  impl_->at_deleted = false;
  impl_->note_visit();
}

Bookmark Recordset::bookmark() const {
  std::size_t cur = impl_->current();
  if (impl_->rs.base_table == nullptr)
    throw Error(ErrorCategory::kInvalidArgument,
                "the recordset has no bookmarks (it does not read exactly one table): " + impl_->short_source());
  return Bookmark{impl_->rs.row_ids[cur]};
}

void Recordset::move_to_bookmark(const Bookmark& bookmark) {
  impl_->check_open();
  auto& r = *impl_;
  const auto& ids = r.rs.row_ids;
  for (std::size_t i = 0; i < ids.size() && r.rs.base_table != nullptr; ++i) {
    if (ids[i] == bookmark.row && !r.deleted[i]) {
      r.mode = EditMode::kNone;
      r.pos = static_cast<int64_t>(i);
      r.at_deleted = false;
      r.note_visit();
      return;
    }
  }
  throw Error(ErrorCategory::kNotFound, "the bookmarked record (page " + std::to_string(bookmark.row.page) + ", row " +
                                            std::to_string(bookmark.row.row) +
                                            ") is not in the recordset on: " + r.short_source());
}

void Recordset::add_new() {
  impl_->check_open();
  impl_->require_updatable();
  impl_->mode = EditMode::kAddNew;
  impl_->buffer.assign(impl_->rs.columns.size(), Value{});
  impl_->dirty.assign(impl_->rs.columns.size(), false);
  impl_->base_buffer.assign(impl_->rs.base_table->columns().size(), Value{});
}

void Recordset::edit() {
  std::size_t cur = impl_->current();
  impl_->require_updatable();
  impl_->buffer = impl_->row(cur);
  impl_->mode = EditMode::kEdit;
  impl_->dirty.assign(impl_->rs.columns.size(), false);
  impl_->rs.base_table->read_row(impl_->rs.row_ids[cur], impl_->base_buffer);
}

void Recordset::update() {
  impl_->check_open();
  auto& r = *impl_;
  if (r.mode == EditMode::kNone)
    throw Error(ErrorCategory::kInvalidArgument, "update() without edit() or add_new() on: " + r.short_source());
  Table& t = *r.rs.base_table;
  {
    sql::writes::Unit unit({&r.owner().executor().database()});
    if (r.mode == EditMode::kAddNew) {
      RowId id = sql::writes::insert_row(t, r.base_buffer);
      unit.commit();
      Row base;
      Row projected = r.project(id, base);
      r.rs.rows.push_back(std::move(projected));
      r.rs.row_ids.push_back(id);
      r.deleted.push_back(false);
      r.last_modified = r.rs.rows.size() - 1;
      if (r.empty() || r.live_count() == 1) {
        r.pos = 0;
        r.visited = std::max<int64_t>(r.visited, 1);
      }
    } else {
      std::size_t cur = r.current();
      sql::writes::update_row(t, r.rs.row_ids[cur], r.base_buffer);
      unit.commit();
      Row base;
      Row projected = r.project(r.rs.row_ids[cur], base);
      Row& kept = r.rs.rows[cur];
      if (kept.empty()) {
        kept = std::move(projected);  // a keyset row: the whole stored row
      } else {
        for (std::size_t c = 0; c < projected.size(); ++c) {
          if (r.rs.columns[c].base_column >= 0) kept[c] = std::move(projected[c]);
        }
      }
      r.last_modified = cur;
    }
  }
  r.mode = EditMode::kNone;
}

void Recordset::cancel_update() {
  impl_->check_open();
  impl_->mode = EditMode::kNone;
}

void Recordset::delete_current() {
  std::size_t cur = impl_->current();
  impl_->require_updatable();
  if (impl_->mode != EditMode::kNone) impl_->mode = EditMode::kNone;
  sql::writes::Unit unit({&impl_->owner().executor().database()});
  sql::writes::remove_row(*impl_->rs.base_table, impl_->rs.row_ids[cur]);
  unit.commit();
  impl_->deleted[cur] = true;
  ++impl_->deleted_count;
  impl_->at_deleted = true;
}

EditMode Recordset::edit_mode() const { return impl_->mode; }

void Recordset::move_to_last_modified() {
  impl_->check_open();
  if (!impl_->last_modified || impl_->deleted[*impl_->last_modified])
    throw Error(ErrorCategory::kInvalidArgument, "no record was stored through this recordset");
  impl_->mode = EditMode::kNone;
  impl_->pos = static_cast<int64_t>(*impl_->last_modified);
  impl_->at_deleted = false;
  impl_->note_visit();
}

Value Recordset::field(std::string_view name) const {
  impl_->check_open();
  const auto index = static_cast<std::size_t>(impl_->column(name));
  if (impl_->mode != EditMode::kNone) return impl_->buffer[index];
  return impl_->row(impl_->current())[index];
}

Value Recordset::field(std::size_t index) const {
  impl_->check_open();
  if (index >= impl_->rs.columns.size())
    throw Error(ErrorCategory::kNotFound, "field number " + std::to_string(index) + " does not exist (the recordset has " +
                                              std::to_string(impl_->rs.columns.size()) + ")");
  if (impl_->mode != EditMode::kNone) return impl_->buffer[index];
  return impl_->row(impl_->current())[index];
}

void Recordset::set_field(std::string_view name, const Value& value) {
  auto& r = *impl_;
  r.check_open();
  int c = r.column(name);
  if (r.mode == EditMode::kNone)
    throw Error(ErrorCategory::kInvalidArgument,
                "field '" + std::string(name) + "' set without edit() or add_new() on: " + r.short_source());
  int base = r.rs.columns[c].base_column;
  if (base < 0)
    throw Error(ErrorCategory::kInvalidArgument, "field '" + std::string(name) + "' is an expression and cannot be set");
  const ColumnDef& cd = r.rs.base_table->columns()[base];
  if (cd.auto_number && r.mode == EditMode::kEdit)
    throw Error(ErrorCategory::kConstraint, "field '" + cd.name + "' is a Counter and cannot be changed");
  Value v = sql::convert_for_column(value, cd, r.rs.base_table->name());
  r.base_buffer[base] = v;
  r.buffer[c] = std::move(v);
  r.dirty[c] = true;
}

void Recordset::set_field(std::string_view name, std::string_view text) { set_field(name, Value(std::string(text))); }
void Recordset::set_field(std::string_view name, const char* text) { set_field(name, Value(std::string(text))); }
void Recordset::set_field(std::string_view name, const std::string& text) { set_field(name, Value(text)); }

std::size_t Recordset::field_count() const { return impl_->rs.columns.size(); }
std::size_t Recordset::field_index(std::string_view name) const { return static_cast<std::size_t>(impl_->column(name)); }
const std::string& Recordset::field_name(std::size_t index) const {
  if (index >= impl_->rs.columns.size())
    throw Error(ErrorCategory::kNotFound, "field number " + std::to_string(index) + " does not exist");
  return impl_->rs.columns[index].name;
}

FieldInfo Recordset::field_info(std::size_t index) const {
  impl_->check_open();
  const auto& r = *impl_;
  if (index >= r.rs.columns.size())
    throw Error(ErrorCategory::kNotFound, "field number " + std::to_string(index) + " does not exist (the recordset has " +
                                              std::to_string(r.rs.columns.size()) + ")");
  const sql::ResultColumn& rc = r.rs.columns[index];
  FieldInfo info;
  info.name = rc.name;
  info.type = rc.type;
  info.auto_number = rc.auto_number;
  if (rc.base_column >= 0 && r.rs.base_table != nullptr) {
    const ColumnDef& cd = r.rs.base_table->columns()[rc.base_column];
    info.size = cd.type == ColumnType::kText ? static_cast<uint16_t>(cd.length / 2) : cd.length;
    info.updatable = !r.owner().read_only && !cd.auto_number;
  }
  return info;
}

bool Recordset::find_first(std::string_view criteria) {
  impl_->check_open();
  return impl_->find_from(criteria, 0);
}

bool Recordset::find_next(std::string_view criteria) {
  impl_->check_open();
  std::size_t from = impl_->pos < 0 ? 0 : static_cast<std::size_t>(impl_->pos + 1);
  return impl_->find_from(criteria, from);
}

bool Recordset::no_match() const { return impl_->no_match; }

void Recordset::requery() {
  impl_->check_open();
  impl_->load();
}

void Recordset::close() {
  impl_->open = false;
  impl_->rs = ResultSet{};
  impl_->deleted.clear();
  impl_->deleted_count = 0;
}
bool Recordset::is_open() const { return impl_->open; }
bool Recordset::updatable() const {
  auto owner = impl_->owner_ref.lock();
  return impl_->open && impl_->rs.base_table != nullptr && owner && owner->exec;
}
const std::string& Recordset::plan() const { return impl_->rs.plan; }

}  // namespace jet::dao
