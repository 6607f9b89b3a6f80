#include "app/history/journal.h"

#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <algorithm>
#include <map>

#include "app/session.h"
#include "app/user_interface.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/schema.h"
#include "jet/table.h"
#include "jet/transaction.h"
#include "jet/value_text.h"

namespace tallimo::history {

namespace {

// Column positions of the three tables (the order create_tables gives them).
enum RunColumn { kRunId, kRunKind, kStarted, kEnded, kComputer, kUser, kKinds, kProductsFile, kRecords,
                 kUndoesRun, kUndoneBy, kRunColumns };
enum RecordColumn { kRecRun, kRecNo, kRecScanner /* 12 columns */, kRecProductCode = kRecScanner + 12,
                    kRecSource, kRecordColumns };
enum ChangeColumn { kChRun, kChRecord, kChNo, kChProduct, kChKind, kChColumn, kChOld, kChNew, kChDelta,
                    kChUnits, kChangeColumns };

jet::ColumnSpec text_column(const char* name, uint16_t length = 255) {
  return jet::column_spec(name, jet::ColumnType::kText, length);
}
jet::ColumnSpec column(const char* name, jet::ColumnType type) { return jet::column_spec(name, type); }
jet::IndexSpec primary_key(std::vector<const char*> columns) {
  jet::IndexSpec index;
  index.name = "PrimaryKey";
  index.primary_key = true;
  for (const char* c : columns) index.columns.push_back({c, true});
  return index;
}
// The index a run's rows are found by. Not unique (its rows are numbered by
// the writer, one run at a time): each insert only adds its entry.
jet::IndexSpec run_index() {
  jet::IndexSpec index;
  index.name = "Run_ID";
  index.columns.push_back({"Run_ID", true});
  return index;
}

void create_tables(jet::Database& db) {
  using T = jet::ColumnType;
  jet::TableSpec runs{kRunsTable,
                      {column("Run_ID", T::kLong), text_column("Run_Kind", 16), column("Started", T::kDateTime),
                       column("Ended", T::kDateTime), text_column("Computer", 64), text_column("User_Name", 64),
                       text_column("Kinds", 32), text_column("Products_File"), column("Records", T::kLong),
                       column("Undoes_Run", T::kLong), column("Undone_By", T::kLong)},
                      {primary_key({"Run_ID"})}};
  jet::TableSpec records{kRecordsTable,
                         {column("Run_ID", T::kLong), column("Record_No", T::kLong),
                          column("Scanner_Data_ID", T::kLong), column("Qty", T::kDouble), text_column("Item_Number"),
                          text_column("Item_Order"), text_column("Description"), text_column("Vendor_Code"),
                          column("Standard_Price", T::kCurrency), column("Current_Cost", T::kCurrency),
                          text_column("Location"), column("List_Price", T::kCurrency), column("File_Type", T::kInteger),
                          text_column("Notes"), text_column("Product_Code"), column("Source_Record", T::kLong)},
                         {run_index()}};
  jet::TableSpec changes{kChangesTable,
                         {column("Run_ID", T::kLong), column("Record_No", T::kLong), column("Change_No", T::kLong),
                          text_column("Product_Code"), text_column("Change_Kind", 16), text_column("Column_Name", 64),
                          column("Old_Value", T::kMemo), column("New_Value", T::kMemo), column("Qty_Delta", T::kDouble),
                          column("Units", T::kDouble)},
                         {run_index()}};
  jet::Transaction tx(db);
  db.create_table(runs);
  db.create_table(records);
  db.create_table(changes);
  tx.commit();
}

jet::DateTime now_date() {
  const auto t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm tm{};
  localtime_r(&t, &tm);
  return jet::from_civil({tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec});
}

jet::Value text_or_null(const JournalValue& v) { return v ? jet::Value(*v) : jet::Value(); }
JournalValue journal_of_field(const jet::Value& v) {
  if (jet::is_null(v)) return std::nullopt;
  return jet::value_text(v);
}
std::string text_of(const jet::Value& v) { return jet::is_null(v) ? std::string() : jet::value_text(v); }
long long_of(const jet::Value& v) {
  if (const auto* i = std::get_if<int32_t>(&v)) return *i;
  if (const auto* s = std::get_if<int16_t>(&v)) return *s;
  return 0;
}
double double_of(const jet::Value& v) {
  if (const auto* d = std::get_if<double>(&v)) return *d;
  return 0;
}
jet::Value long_value(long v) { return jet::Value(static_cast<int32_t>(v)); }

RunInfo run_of(const jet::Row& row) {
  RunInfo r;
  r.id = long_of(row[kRunId]);
  r.kind = text_of(row[kRunKind]);
  r.started = text_of(row[kStarted]);
  r.ended = text_of(row[kEnded]);
  r.computer = text_of(row[kComputer]);
  r.user = text_of(row[kUser]);
  r.kinds = text_of(row[kKinds]);
  r.products_file = text_of(row[kProductsFile]);
  r.records = long_of(row[kRecords]);
  r.undoes_run = long_of(row[kUndoesRun]);
  r.undone_by = long_of(row[kUndoneBy]);
  return r;
}

std::optional<jet::RowId> find_run_row(jet::Table& runs, long id) {
  const jet::Value key[] = {long_value(id)};
  auto ids = runs.seek("PrimaryKey", key);
  if (ids.empty()) return std::nullopt;
  return ids.front();
}

}  // namespace

std::string run_state(const RunInfo& r) {
  if (!r.finished()) return "interrupted";
  if (r.kind == kRunUndo) return "undo of run " + std::to_string(r.undoes_run);
  if (r.undone_by != 0) return "undone by run " + std::to_string(r.undone_by);
  return "posted";
}

std::string kinds_labels(const std::string& codes) {
  std::string out;
  std::size_t start = 0;
  while (start < codes.size()) {
    std::size_t comma = codes.find(',', start);
    if (comma == std::string::npos) comma = codes.size();
    const std::string code = codes.substr(start, comma - start);
    if (code.size() == 1 && code[0] >= '0' && code[0] <= '5') {
      if (!out.empty()) out += ", ";
      out += file_type_label(code[0] - '0');
    }
    start = comma + 1;
  }
  return out;
}

std::string journal_path(const Session& session) { return session.application_folder() + kJournalFileName; }

JournalValue journal_value(const jet::Value& value) { return journal_of_field(value); }
std::string shown(const JournalValue& value) { return value ? *value : std::string("(empty)"); }

int16_t RecordInfo::file_type() const {
  const jet::Value& v = scanner[10];
  if (const auto* s = std::get_if<int16_t>(&v)) return *s;
  return static_cast<int16_t>(long_of(v));
}
std::string RecordInfo::item_number() const { return text_of(scanner[2]); }

std::unique_ptr<Journal> Journal::open(Session& session) {
  std::unique_ptr<Journal> j(new Journal());
  j->path_ = journal_path(session);
  if (!std::filesystem::exists(j->path_)) {
    // Built under a temporary name and renamed into place, so a crash never
    // leaves a journal without its tables.
    const std::string building = j->path_ + ".new";
    std::filesystem::remove(building);
    {
      auto created = session.workspace().create_database(building);
      create_tables(created->engine());
      created->close();
    }
    std::filesystem::rename(building, j->path_);
  }
  // Posting goes on only with its history: a file that cannot serve stops
  // the run, with what to do about it.
  const std::string advice =
      "; posting needs its history: repair the file or move it away (a new, empty history is then started)";
  try {
    j->db_ = session.workspace().open_database(j->path_);
  } catch (const jet::Error& e) {
    throw jet::Error(e.category(), "the posting history " + j->path_ + " cannot be opened: " + e.what() + advice);
  }
  jet::Database& db = j->db_->engine();
  for (const char* table : {kRunsTable, kRecordsTable, kChangesTable}) {
    if (!db.has_table(table)) {
      throw jet::Error(jet::ErrorCategory::kCorruption,
                       j->path_ + " is not a posting history: it has no table " + table + advice);
    }
  }
  return j;
}

Journal::~Journal() {
  try {
    close();
  } catch (...) {
  }
}

void Journal::close() {
  if (db_ && db_->is_open()) db_->close();
  db_.reset();
}

jet::Database& Journal::engine() {
  if (!db_) throw jet::Error(jet::ErrorCategory::kInvalidArgument, "the posting history " + path_ + " is closed");
  return db_->engine();
}

long Journal::add_run(const std::string& kind, const std::string& kinds, const std::string& products_file,
                      long undoes_run) {
  jet::Table& runs = engine().table(kRunsTable);
  long id = 1;
  const auto ids = runs.scan_index("PrimaryKey");
  if (!ids.empty()) {
    jet::Row last;
    runs.read_row(ids.back(), last);
    id = long_of(last[kRunId]) + 1;
  }
  jet::Row row(kRunColumns);
  row[kRunId] = long_value(id);
  row[kRunKind] = jet::Value(kind);
  row[kStarted] = jet::Value(now_date());
  row[kComputer] = jet::Value(computer_name());
  row[kUser] = jet::Value(user_name());
  row[kKinds] = jet::Value(kinds);
  std::error_code ec;
  const auto absolute = std::filesystem::weakly_canonical(products_file, ec);
  row[kProductsFile] = jet::Value(ec || products_file.empty() ? products_file : absolute.string());
  row[kRecords] = long_value(0);
  if (undoes_run != 0) row[kUndoesRun] = long_value(undoes_run);
  runs.insert(row);
  return id;
}

void Journal::finish_run(long run, long records, const std::string& kinds) {
  jet::Table& runs = engine().table(kRunsTable);
  const auto at = find_run_row(runs, run);
  if (!at) throw jet::Error(jet::ErrorCategory::kNotFound, "no run " + std::to_string(run) + " in " + path_);
  jet::Row row;
  runs.read_row(*at, row);
  row[kEnded] = jet::Value(now_date());
  row[kRecords] = long_value(records);
  row[kKinds] = jet::Value(kinds);
  runs.update(*at, row);
}

void Journal::set_undone_by(long run, long undo_run) {
  jet::Table& runs = engine().table(kRunsTable);
  const auto at = find_run_row(runs, run);
  if (!at) throw jet::Error(jet::ErrorCategory::kNotFound, "no run " + std::to_string(run) + " in " + path_);
  jet::Row row;
  runs.read_row(*at, row);
  row[kUndoneBy] = long_value(undo_run);
  runs.update(*at, row);
}

long Journal::unfinished_run(const std::string& kind, long undoes_run) {
  long found = 0;
  auto cursor = engine().table(kRunsTable).scan();
  while (cursor.next()) {
    const RunInfo r = run_of(cursor.row());
    if (r.kind == kind && !r.finished() && (undoes_run == 0 || r.undoes_run == undoes_run) && r.id > found) {
      found = r.id;
    }
  }
  return found;
}

long Journal::next_record_no(long run) {
  jet::Table& records = engine().table(kRecordsTable);
  const jet::Value key[] = {long_value(run)};
  long last = 0;
  jet::Row row;
  for (const jet::RowId& id : records.seek("Run_ID", key)) {
    records.read_row(id, row);
    last = std::max(last, long_of(row[kRecNo]));
  }
  return last + 1;
}

void Journal::add_record(long run, const RecordInfo& record) {
  jet::Database& db = engine();
  jet::Row row(kRecordColumns);
  row[kRecRun] = long_value(run);
  row[kRecNo] = long_value(record.record_no);
  for (int i = 0; i < 12; ++i) row[kRecScanner + i] = record.scanner[i];
  row[kRecProductCode] = jet::Value(record.product_code);
  if (record.source_record != 0) row[kRecSource] = long_value(record.source_record);
  db.table(kRecordsTable).insert(row);
  jet::Table& changes = db.table(kChangesTable);
  for (const ChangeInfo& c : record.changes) {
    jet::Row ch(kChangeColumns);
    ch[kChRun] = long_value(run);
    ch[kChRecord] = long_value(record.record_no);
    ch[kChNo] = long_value(c.change_no);
    ch[kChProduct] = jet::Value(c.product_code);
    ch[kChKind] = jet::Value(c.kind);
    ch[kChColumn] = jet::Value(c.column);
    ch[kChOld] = text_or_null(c.old_value);
    ch[kChNew] = text_or_null(c.new_value);
    if (c.delta != 0 || c.kind == kChangeQuantity || c.kind == kChangePackage || c.kind == kChangeReplace) {
      ch[kChDelta] = jet::Value(c.delta);
    }
    if (c.units != 0) ch[kChUnits] = jet::Value(c.units);
    changes.insert(ch);
  }
}

std::vector<RunInfo> Journal::runs() {
  std::vector<RunInfo> out;
  jet::Table& runs = engine().table(kRunsTable);
  const auto ids = runs.scan_index("PrimaryKey");
  jet::Row row;
  for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
    runs.read_row(*it, row);
    out.push_back(run_of(row));
  }
  return out;
}

std::optional<RunInfo> Journal::run(long id) {
  jet::Table& runs = engine().table(kRunsTable);
  const auto at = find_run_row(runs, id);
  if (!at) return std::nullopt;
  jet::Row row;
  runs.read_row(*at, row);
  return run_of(row);
}

std::vector<RecordInfo> Journal::records(long run) {
  jet::Database& db = engine();
  const jet::Value key[] = {long_value(run)};
  std::vector<RecordInfo> out;
  std::map<long, std::size_t> by_no;
  jet::Table& records = db.table(kRecordsTable);
  jet::Row row;
  for (const jet::RowId& id : records.seek("Run_ID", key)) {
    records.read_row(id, row);
    RecordInfo r;
    r.record_no = long_of(row[kRecNo]);
    for (int i = 0; i < 12; ++i) r.scanner[i] = row[kRecScanner + i];
    r.product_code = text_of(row[kRecProductCode]);
    r.source_record = long_of(row[kRecSource]);
    out.push_back(std::move(r));
  }
  std::sort(out.begin(), out.end(), [](const RecordInfo& a, const RecordInfo& b) { return a.record_no < b.record_no; });
  for (std::size_t i = 0; i < out.size(); ++i) by_no[out[i].record_no] = i;
  jet::Table& changes = db.table(kChangesTable);
  for (const jet::RowId& id : changes.seek("Run_ID", key)) {
    changes.read_row(id, row);
    const auto at = by_no.find(long_of(row[kChRecord]));
    if (at == by_no.end()) continue;
    ChangeInfo c;
    c.change_no = long_of(row[kChNo]);
    c.product_code = text_of(row[kChProduct]);
    c.kind = text_of(row[kChKind]);
    c.column = text_of(row[kChColumn]);
    c.old_value = journal_of_field(row[kChOld]);
    c.new_value = journal_of_field(row[kChNew]);
    c.delta = double_of(row[kChDelta]);
    c.units = double_of(row[kChUnits]);
    out[at->second].changes.push_back(std::move(c));
  }
  for (RecordInfo& r : out) {
    std::sort(r.changes.begin(), r.changes.end(),
              [](const ChangeInfo& a, const ChangeInfo& b) { return a.change_no < b.change_no; });
  }
  return out;
}

long Journal::remove_runs_older_than(int days) {
  if (days <= 0) return 0;
  jet::Database& db = engine();
  const double limit = now_date().days - days;
  jet::Table& runs = db.table(kRunsTable);
  std::vector<std::pair<long, jet::RowId>> old;
  auto cursor = runs.scan();
  while (cursor.next()) {
    const auto* started = std::get_if<jet::DateTime>(&cursor.row()[kStarted]);
    if (started != nullptr && started->days < limit) old.emplace_back(long_of(cursor.row()[kRunId]), cursor.id());
  }
  if (old.empty()) return 0;
  jet::Transaction tx(db);
  for (const auto& [id, at] : old) {
    const jet::Value key[] = {long_value(id)};
    for (const char* table : {kChangesTable, kRecordsTable}) {
      jet::Table& t = db.table(table);
      for (const jet::RowId& row : t.seek("Run_ID", key)) t.remove(row);
    }
    runs.remove(at);
  }
  tx.commit();
  return static_cast<long>(old.size());
}

long prune_journal(Session& session) {
  const int days = session.settings().History_Keep_Days;
  if (days <= 0 || !std::filesystem::exists(journal_path(session))) return 0;
  long removed = 0;
  {
    auto journal = Journal::open(session);
    removed = journal->remove_runs_older_than(days);
    journal->close();
  }
  if (removed > 0) jet::Database::compact(journal_path(session));
  return removed;
}

std::string computer_name() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
  return name;
}

std::string user_name() {
  if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_name != nullptr) return pw->pw_name;
  if (const char* u = std::getenv("USER")) return u;
  return std::to_string(getuid());
}

std::vector<std::pair<std::string, jet::Value>> snapshot(const jet::dao::Recordset& rs) {
  std::vector<std::pair<std::string, jet::Value>> out;
  const std::size_t n = rs.field_count();
  out.reserve(n);
  for (std::size_t i = 0; i < n; ++i) out.emplace_back(rs.field_name(i), rs.field(i));
  return out;
}

// ---- RunJournal ----

void RunJournal::begin_record(const jet::dao::Recordset& scanned) {
  current_ = RecordInfo{};
  in_record_ = true;
  for (int i = 0; i < 12; ++i) {
    try {
      current_.scanner[i] = scanned.field(kScannerColumns[i]);
    } catch (const jet::Error&) {
      current_.scanner[i] = jet::Value();  // an older file without the column
    }
  }
  current_.product_code = current_.item_number();
}

void RunJournal::add_change(ChangeInfo change) {
  if (!in_record_) return;
  change.change_no = static_cast<long>(current_.changes.size()) + 1;
  current_.product_code = change.product_code;
  current_.changes.push_back(std::move(change));
}

double number_or_zero(const jet::Value& v) {
  if (const auto* d = std::get_if<double>(&v)) return *d;
  if (const auto* f = std::get_if<float>(&v)) return *f;
  if (const auto* i = std::get_if<int32_t>(&v)) return *i;
  if (const auto* s = std::get_if<int16_t>(&v)) return *s;
  if (const auto* b = std::get_if<uint8_t>(&v)) return *b;
  if (const auto* c = std::get_if<jet::Currency>(&v)) return static_cast<double>(c->ten_thousandths) / 10000.0;
  return 0;
}

void RunJournal::quantity(const std::string& code, const jet::Value& before, const jet::Value& after,
                          const char* kind, double units) {
  ChangeInfo c;
  c.product_code = code;
  c.kind = kind;
  c.column = "Inventory Qty";
  c.old_value = journal_of_field(before);
  c.new_value = journal_of_field(after);
  c.delta = number_or_zero(after) - number_or_zero(before);
  c.units = units;
  add_change(std::move(c));
}

void RunJournal::fields(const std::string& code, const std::vector<std::pair<std::string, jet::Value>>& before,
                        const std::vector<std::pair<std::string, jet::Value>>& after) {
  for (std::size_t i = 0; i < after.size() && i < before.size(); ++i) {
    const JournalValue old_value = journal_of_field(before[i].second);
    const JournalValue new_value = journal_of_field(after[i].second);
    if (old_value == new_value) continue;
    ChangeInfo c;
    c.product_code = code;
    c.kind = kChangeField;
    c.column = after[i].first;
    c.old_value = old_value;
    c.new_value = new_value;
    add_change(std::move(c));
  }
}

void RunJournal::new_item(const std::string& code, const std::vector<std::pair<std::string, jet::Value>>& after) {
  for (const auto& [name, value] : after) {
    if (jet::is_null(value)) continue;
    ChangeInfo c;
    c.product_code = code;
    c.kind = kChangeNewItem;
    c.column = name;
    c.new_value = journal_of_field(value);
    add_change(std::move(c));
  }
}

void RunJournal::end_record(bool posted) {
  if (!in_record_) return;
  in_record_ = false;
  if (!posted) return;
  current_.record_no = next_record_no_++;
  journal_.add_record(run_, current_);
}

}  // namespace tallimo::history
