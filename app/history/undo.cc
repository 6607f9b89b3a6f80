#include "app/history/undo.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "app/data/products_database.h"
#include "app/data/scanner_database.h"
#include "app/posting/posting.h"
#include "app/session.h"
#include "app/user_interface.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/table.h"
#include "jet/transaction.h"
#include "jet/value_text.h"

namespace tallimo::history {

namespace {

using Clock = std::chrono::steady_clock;

jet::Value value_of(const JournalValue& v) { return v ? jet::Value(*v) : jet::Value(); }

std::string same_file_key(const std::string& path) {
  std::error_code ec;
  auto p = std::filesystem::weakly_canonical(std::filesystem::path(path), ec);
  return ec ? path : p.string();
}

// One undo (or its preview): the open files and the figures.
class Undoer {
 public:
  Undoer(Session& session, jet::dao::Database& scanner, jet::dao::Database& products, Journal& journal,
         const RunInfo& run, const UndoOptions& options, UndoSummary& summary)
      : session_(session), scanner_(scanner), products_(products), journal_(journal), run_(run),
        options_(options), summary_(summary) {}

  // Takes back every record not in `done`, continuing undo run `undo_run`
  // (0: a new one). Returns the undo's Run_ID.
  long run_all(const std::vector<RecordInfo>& records, long undo_run, const std::set<long>& done);

 private:
  void begin_group();
  void commit_group();
  void undo_record(const RecordInfo& record, RecordInfo& undo_record);
  void undo_change(const RecordInfo& record, const ChangeInfo& change, RecordInfo& out);
  void undo_new_item(const RecordInfo& record, const std::vector<const ChangeInfo*>& columns, RecordInfo& out);
  void conflict(const RecordInfo& record, const ChangeInfo& change, const JournalValue& now, const std::string& reason,
                RecordInfo& out, const std::string& column = std::string());
  void return_to_scanner(const RecordInfo& record, RecordInfo& out);
  // The product lookup of `code`, kept open while the record's changes are
  // on the same product (an edit changes several of its fields).
  jet::dao::Recordset* product_for(const std::string& code);
  void forget_product() {
    if (product_ && product_->is_open()) product_->close();
    product_.reset();
  }
  std::unique_ptr<jet::dao::Recordset> product_;
  std::string product_code_;

  Session& session_;
  jet::dao::Database& scanner_;
  jet::dao::Database& products_;
  Journal& journal_;
  const RunInfo& run_;
  const UndoOptions& options_;
  UndoSummary& summary_;
  std::optional<jet::Transaction> tx_;
  Clock::time_point group_started_;
  int records_in_group_ = 0;
};

void Undoer::begin_group() {
  if (tx_ && tx_->active()) return;
  tx_.reset();
  tx_.emplace(std::initializer_list<jet::Database*>{&scanner_.engine(), &products_.engine(), &journal_.engine()});
  group_started_ = Clock::now();
  records_in_group_ = 0;
}

void Undoer::commit_group() {
  forget_product();
  if (!tx_ || !tx_->active()) return;
  if (options_.apply) {
    tx_->commit();
  } else {
    tx_->rollback();
  }
  tx_.reset();
  records_in_group_ = 0;
}

void Undoer::conflict(const RecordInfo& record, const ChangeInfo& change, const JournalValue& now,
                      const std::string& reason, RecordInfo& out, const std::string& column) {
  UndoConflict c;
  c.record_no = record.record_no;
  c.product_code = change.product_code;
  c.column = column.empty() ? change.column : column;
  c.run_wrote = change.new_value;
  c.now = now;
  c.reason = reason;
  summary_.conflicts.push_back(c);
  ChangeInfo j;
  j.change_no = static_cast<long>(out.changes.size()) + 1;
  j.product_code = c.product_code;
  j.kind = kChangeConflict;
  j.column = c.column;
  j.old_value = c.run_wrote;
  j.new_value = now;
  out.changes.push_back(std::move(j));
}

void Undoer::undo_change(const RecordInfo& record, const ChangeInfo& change, RecordInfo& out) {
  jet::dao::Recordset* product = product_for(change.product_code);
  if (product->eof()) {
    conflict(record, change, std::nullopt, "the product is no longer in PRODUCT1", out);
    return;
  }
  const jet::Value current = product->field(change.column);
  const JournalValue now = journal_value(current);
  const bool delta_kind = change.kind == kChangeQuantity || change.kind == kChangePackage;
  jet::Value restored;
  if (now == change.new_value) {
    // The product holds what the run wrote: the old value comes back as it was.
    restored = value_of(change.old_value);
  } else if (delta_kind) {
    // Changed since (sales, counts): only the run's own difference is taken back.
    restored = jet::Value(number_or_zero(current) - change.delta);
  } else {
    conflict(record, change, now,
             "the product holds " + shown(now) + " now, not the " + shown(change.new_value) + " the run wrote", out);
    return;
  }
  product->edit();
  product->set_field(change.column, restored);
  product->update();
  ChangeInfo j;
  j.change_no = static_cast<long>(out.changes.size()) + 1;
  j.product_code = change.product_code;
  j.kind = change.kind;
  j.column = change.column;
  j.old_value = now;
  j.new_value = journal_value(product->field(change.column));
  if (delta_kind || change.kind == kChangeReplace) j.delta = number_or_zero(product->field(change.column)) - number_or_zero(current);
  j.units = -change.units;
  out.changes.push_back(std::move(j));
  if (delta_kind) {
    ++summary_.quantities;
    if (change.kind == kChangePackage) ++summary_.packages;
  } else {
    ++summary_.fields;
  }
}

jet::dao::Recordset* Undoer::product_for(const std::string& code) {
  if (!product_ || product_code_ != code) {
    forget_product();
    product_ = posting::find_product(session_, code);
    product_code_ = code;
  }
  return product_.get();
}

void Undoer::undo_new_item(const RecordInfo& record, const std::vector<const ChangeInfo*>& columns, RecordInfo& out) {
  const ChangeInfo& first = *columns.front();
  forget_product();
  auto product = posting::find_product(session_, first.product_code);
  if (product->eof()) {
    conflict(record, first, std::nullopt, "the new item is no longer in PRODUCT1 (removed since)", out, "*");
    return;
  }
  std::map<std::string, JournalValue> wrote;
  for (const ChangeInfo* c : columns) wrote[c->column] = c->new_value;
  for (std::size_t i = 0; i < product->field_count(); ++i) {
    const std::string& name = product->field_name(i);
    const auto it = wrote.find(name);
    const JournalValue expected = it == wrote.end() ? JournalValue() : it->second;
    const JournalValue now = journal_value(product->field(i));
    if (now != expected) {
      ChangeInfo as_written = first;
      as_written.column = name;
      as_written.new_value = expected;
      conflict(record, as_written, now,
               "the new item was changed since (" + name + " holds " + shown(now) + ", the run wrote " +
                   shown(expected) + "); it stays",
               out);
      return;
    }
  }
  ChangeInfo j;
  j.change_no = static_cast<long>(out.changes.size()) + 1;
  j.product_code = first.product_code;
  j.kind = kChangeRemoved;
  j.column = "Description One";
  j.old_value = journal_value(product->field("Description One"));
  out.changes.push_back(std::move(j));
  product->delete_current();
  product->close();
  ++summary_.new_items_removed;
}

void Undoer::return_to_scanner(const RecordInfo& record, RecordInfo& out) {
  jet::Table& table = scanner_.engine().table("Scanner_Data");
  const jet::TableDef& def = table.def();
  jet::Row row(def.columns.size());
  for (int i = 1; i < 12; ++i) {  // the counter gives the row a new Scanner_Data_ID
    const int at = def.find_column(kScannerColumns[i]);
    if (at >= 0) row[at] = record.scanner[i];
  }
  jet::Row stored;
  table.insert(row, &stored);
  for (int i = 0; i < 12; ++i) {
    const int at = def.find_column(kScannerColumns[i]);
    out.scanner[i] = at >= 0 ? stored[at] : jet::Value();
  }
}

void Undoer::undo_record(const RecordInfo& record, RecordInfo& out) {
  out.source_record = record.record_no;
  out.product_code = record.product_code;
  // Newest change first; the columns of a new item are taken back together.
  std::set<std::string> new_items_done;
  for (auto it = record.changes.rbegin(); it != record.changes.rend(); ++it) {
    const ChangeInfo& change = *it;
    if (change.kind == kChangeNewItem) {
      if (!new_items_done.insert(change.product_code).second) continue;
      std::vector<const ChangeInfo*> columns;
      for (const ChangeInfo& c : record.changes) {
        if (c.kind == kChangeNewItem && c.product_code == change.product_code) columns.push_back(&c);
      }
      undo_new_item(record, columns, out);
    } else if (change.kind == kChangeQuantity || change.kind == kChangePackage || change.kind == kChangeReplace ||
               change.kind == kChangeField) {
      undo_change(record, change, out);
    }
  }
  forget_product();
  return_to_scanner(record, out);
  ++summary_.records;
}

long Undoer::run_all(const std::vector<RecordInfo>& records, long undo_run, const std::set<long>& done) {
  UserInterface& ui = session_.ui();
  // A new undo's run row and the undone run's mark go with the first group.
  begin_group();
  if (undo_run == 0) {
    undo_run = journal_.add_run(kRunUndo, run_.kinds, run_.products_file, run_.id);
    journal_.set_undone_by(run_.id, undo_run);
  }
  long next_record_no = journal_.next_record_no(undo_run);
  const std::string caption = (options_.apply ? "Undo run " : "Checking undo of run ") + std::to_string(run_.id);
  long total = 0;
  for (const RecordInfo& r : records) total += done.count(r.record_no) == 0;
  long count = 0;
  ui.Display_Status_Message(std::string("Processing ") + "\r\n" + caption);
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    if (done.count(it->record_no) != 0) continue;
    begin_group();
    RecordInfo out;
    out.record_no = next_record_no;
    undo_record(*it, out);
    journal_.add_record(undo_run, out);
    ++next_record_no;
    ++count;
    ++records_in_group_;
    ui.Update_Status(caption + "\r\n" + "Rec: " + std::to_string(count) + " / " + std::to_string(total), count,
                     total);
    if (options_.apply && (records_in_group_ >= options_.records_per_commit ||
                           std::chrono::duration<double>(Clock::now() - group_started_).count() >=
                               options_.seconds_per_commit)) {
      commit_group();
      ui.do_events();
    }
    if (session_.abort_requested()) break;
  }
  begin_group();
  if (count == total) {
    journal_.finish_run(undo_run, next_record_no - 1, run_.kinds);
    summary_.completed = true;
  }
  commit_group();
  ui.Update_Status("", 0, 0);
  return undo_run;
}

}  // namespace

UndoSummary Undo_Run(Session& session, long run_id, const UndoOptions& options) {
  const auto started = Clock::now();
  UndoSummary summary;
  summary.run = run_id;
  if (!std::filesystem::exists(journal_path(session))) {
    throw jet::Error(jet::ErrorCategory::kNotFound,
                     "there is no posting history (" + journal_path(session) + "): no run to undo");
  }
  auto journal = Journal::open(session);
  const auto run = journal->run(run_id);
  if (!run) {
    throw jet::Error(jet::ErrorCategory::kNotFound,
                     "run " + std::to_string(run_id) + " is not in the posting history " + journal->path());
  }
  if (run->kind != kRunPost) {
    throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                     "run " + std::to_string(run_id) + " is an undo (of run " + std::to_string(run->undoes_run) +
                         "); an undo cannot be undone");
  }
  if (!run->finished()) {
    throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                     "run " + std::to_string(run_id) +
                         " did not finish (it was interrupted); post again to complete it before undoing it");
  }
  long undo_run = journal->unfinished_run(kRunUndo, run_id);
  if (run->undone_by != 0 && undo_run != run->undone_by) {
    const auto by = journal->run(run->undone_by);
    throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                     "run " + std::to_string(run_id) + " was undone already, by run " + std::to_string(run->undone_by) +
                         (by ? " on " + by->ended : std::string()) + "; it cannot be undone twice");
  }
  if (same_file_key(run->products_file) != same_file_key(session.settings().Orvex_Location)) {
    throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                     "run " + std::to_string(run_id) + " posted to the products database " + run->products_file +
                         ", not to " + session.settings().Orvex_Location + " (the one set now); nothing was undone");
  }

  std::vector<RecordInfo> records = journal->records(run_id);
  std::set<long> done;
  if (undo_run != 0) {
    summary.resumed = true;
    for (const RecordInfo& r : journal->records(undo_run)) done.insert(r.source_record);
  }

  if (!Open_Orvex_DataBase(session) || session.program_ended()) {
    throw jet::Error(jet::ErrorCategory::kNotFound,
                     "the products database " + session.settings().Orvex_Location + " could not be opened");
  }
  std::unique_ptr<jet::dao::Database> own_scanner;
  jet::dao::Database* scanner = session.scanner_database();
  try {
    if (scanner == nullptr || !scanner->is_open()) {
      own_scanner = session.workspace().open_database(Scanner_Database_Path(session));
      scanner = own_scanner.get();
    }
    Undoer undoer(session, *scanner, *session.products_database(), *journal, *run, options, summary);
    const long id = undoer.run_all(records, undo_run, done);
    undo_run = options.apply ? id : 0;
    summary.undo_run = undo_run;
  } catch (...) {
    Close_Orvex_DataBase(session);
    own_scanner.reset();
    throw;
  }
  Close_Orvex_DataBase(session);
  if (own_scanner) own_scanner->close();
  journal->close();
  session.ui().refresh_grid();
  summary.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  return summary;
}

std::string describe(const UndoConflict& c) {
  std::string text = "record " + std::to_string(c.record_no) + ", product \"" + c.product_code + "\"";
  if (c.column != "*") text += ", " + c.column;
  return text + ": " + c.reason + " - left alone";
}

std::string describe_counts(const UndoSummary& s) {
  auto plural = [](long n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  std::string text = plural(s.records, "record", "records") + " returned to Scanner_Data, " +
                     plural(s.quantities, "stock change", "stock changes") + " taken back";
  if (s.packages > 0) text += " (" + plural(s.packages, "bulk package stock", "bulk package stocks") + ")";
  text += ", " + plural(s.fields, "field", "fields") + " restored, " +
          plural(s.new_items_removed, "new item", "new items") + " removed; " +
          plural(static_cast<long>(s.conflicts.size()), "conflict", "conflicts");
  return text;
}

}  // namespace tallimo::history
