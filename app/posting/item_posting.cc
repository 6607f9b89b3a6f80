// Posting the scanned records of one kind: look the product up, apply the
// kind's rule, and remove the record from Scanner_Data when it was applied.
#include <cmath>
#include <cstdio>
#include <optional>

#include "app/data/products_database.h"
#include "app/error_log.h"
#include "app/history/journal.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "jet/value_conversions.h"
#include "app/null_conversions.h"
#include "app/posting/posting.h"
#include "app/posting/posting_internal.h"
#include "app/posting/posting_run.h"
#include "app/session.h"
#include "app/user_interface.h"

namespace tallimo {
namespace posting {

jet::dao::Database& products(Session& session) {
  jet::dao::Database* db = session.products_database();
  if (db == nullptr || !db->is_open()) {
    throw jet::Error(jet::ErrorCategory::kInvalidArgument, "the products database is not open");
  }
  return *db;
}

std::unique_ptr<jet::dao::Recordset> find_product(Session& session, const std::string& code) {
  return products(session).open_recordset(product_lookup_sql(code));
}

std::string raw_text(const jet::Value& value) {
  if (jet::is_null(value)) return std::string();
  if (const auto* s = std::get_if<std::string>(&value)) return *s;
  return jet::value_to_text(value);
}

namespace {
bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }
// Byte offset of character `count` (or the end).
std::size_t offset_of_char(const std::string& text, std::size_t count) {
  std::size_t i = 0;
  for (std::size_t n = 0; i < text.size() && n < count; ++n) {
    ++i;
    while (i < text.size() && continuation(static_cast<unsigned char>(text[i]))) ++i;
  }
  return i;
}
}  // namespace

std::string first_chars(const std::string& text, std::size_t count) {
  return text.substr(0, offset_of_char(text, count));
}
std::string chars_after(const std::string& text, std::size_t count) { return text.substr(offset_of_char(text, count)); }
std::size_t char_count(const std::string& text) {
  std::size_t n = 0;
  for (char c : text) n += !continuation(static_cast<unsigned char>(c));
  return n;
}

void note_write(Session& session) {
  if (PostingRun* run = session.active_run()) run->note_write();
}

history::RunJournal* run_journal(Session& session) {
  PostingRun* run = session.active_run();
  return run != nullptr ? run->journal() : nullptr;
}

void report_error(Session& session, const std::string& text, const std::string& routine) {
  ++session.last_posting_summary().errors;
  // The error box may run the window's event loop: never inside a group.
  if (PostingRun* run = session.active_run(); run != nullptr && run->pending()) {
    run->defer_report(text, routine);
  } else {
    Error_Routine(session, text, routine);
  }
}

}  // namespace posting

using namespace posting;

void append_quoted_literal(std::string& sql, std::string_view text, char quote) {
  sql += quote;
  for (std::size_t at = 0;;) {
    const std::size_t found = text.find(quote, at);
    if (found == std::string_view::npos) {
      sql.append(text.substr(at));
      break;
    }
    sql.append(text.substr(at, found + 1 - at));
    sql += quote;
    at = found + 1;
  }
  sql += quote;
}

std::string quoted_literal(const std::string& text) {
  std::string out;
  append_quoted_literal(out, text);
  return out;
}

std::string product_lookup_sql(const std::string& code) {
  return std::string("Select *") + kCrLf + "From Product1" + kCrLf + "Where [Product Code] = " + quoted_literal(code);
}

bool Test_To_See_If_Unique(Session& session, const std::string& code) {
  try {
    auto rs = products(session).open_recordset(std::string("Select * ") + kCrLf + "From PRODUCT1" + kCrLf +
                                        "Where  [Product Code]  = " + quoted_literal(code));
    const bool unique = rs->eof();
    rs->close();
    return unique;
  } catch (const std::exception& e) {
    report_error(session, e.what(), "Test_To_See_If_Unique");
  }
  return false;
}

namespace {

// `change_kind`: how the posting history records (and an undo takes back)
// the new stock: history::kChangeQuantity or history::kChangeReplace.
void write_stock(Session& session, jet::dao::Recordset& product, jet::Currency amount, const char* change_kind) {
  history::RunJournal* journal = run_journal(session);
  const jet::Value before = journal != nullptr ? product.field("Inventory Qty") : jet::Value();
  product.edit();
  product.set_field("Inventory Qty", jet::Value(jet::currency_to_double(amount)));
  product.update();
  note_write(session);
  if (journal != nullptr) {
    journal->quantity(raw_text(product.field("Product Code")), before, product.field("Inventory Qty"), change_kind);
  }
}

// The fields "Add New Item" and "Edit Products" write, in their order.
void write_product_fields(jet::dao::Recordset& product, jet::dao::Recordset& scanned, bool add_new_item) {
  product.set_field("Product Code",
                    jet::Value(first_chars(Null_To_Text(scanned.field("Item_Number")), kProductCodeLength)));
  const std::string description = Null_To_Text(scanned.field("Description"));
  if (char_count(description) > 25) {
    product.set_field("Description One", jet::Value(first_chars(description, 25)));
    product.set_field("Description Two", jet::Value(chars_after(description, 25)));
  } else {
    product.set_field("Description One", jet::Value(description));
  }
  if (add_new_item) {
    product.set_field("Standard Price", jet::Value(Null_To_Currency(scanned.field("Standard_Price"))));
  } else {
    product.set_field("Standard Price", scanned.field("Standard_Price"));
  }
  product.set_field("Vendor Code", jet::Value(first_chars(Null_To_Text(scanned.field("Vendor_Code")), 16)));
  if (add_new_item) product.set_field("Current Cost", jet::Value(Null_To_Currency(scanned.field("Current_Cost"))));
  product.set_field("Location", jet::Value(first_chars(Null_To_Text(scanned.field("Location")), 16)));
  if (add_new_item) {
    product.set_field("List Price", jet::Value(Null_To_Currency(scanned.field("List_Price"))));
  } else {
    product.set_field("List Price", scanned.field("List_Price"));
  }
}

void insert_product(Session& session, jet::dao::Recordset& product, jet::dao::Recordset& scanned,
                    bool add_new_item) {
  product.add_new();
  write_product_fields(product, scanned, add_new_item);
  product.update();
  note_write(session);
  if (history::RunJournal* journal = run_journal(session)) {
    product.move_to_last_modified();
    journal->new_item(raw_text(product.field("Product Code")), history::snapshot(product));
  }
}

// "Subtract Inventory" on a product found: a plain subtraction while the
// stock covers it, else packages of its bulk product are broken open.
void subtract_stock(Session& session, std::unique_ptr<jet::dao::Recordset>& product, jet::Currency qty) {
  const jet::Currency left = jet::currency_sub(Null_To_Currency(product->field("Inventory Qty")), qty);
  if (left.ten_thousandths >= 0) {
    write_stock(session, *product, left, history::kChangeQuantity);
    return;
  }
  const std::string code = raw_text(product->field("Product Code"));
  double shortfall = jet::currency_to_double(left);
  product->close();
  Break_Down_Bulk(session, code, shortfall);
}

// "Add New Item": inserted when its code, as it will be stored (the first
// 18 characters), is not in PRODUCT1; else the record gets the note.
bool add_new_item(Session& session, jet::dao::Recordset& product, jet::dao::Recordset& scanned,
                  const jet::Value& item) {
  if (Test_To_See_If_Unique(session, first_chars(Null_To_Text(item), kProductCodeLength))) {
    insert_product(session, product, scanned, /*add_new_item=*/true);
    return true;
  }
  scanned.edit();
  scanned.set_field("Notes", kNotUniqueNote);
  scanned.update();
  note_write(session);
  return false;
}

// "Edit Products": the product's fields are rewritten, or it is inserted.
void edit_product(Session& session, jet::dao::Recordset& product, jet::dao::Recordset& scanned, bool found) {
  if (!found) {
    insert_product(session, product, scanned, /*add_new_item=*/false);
    return;
  }
  history::RunJournal* journal = run_journal(session);
  const auto before = journal != nullptr ? history::snapshot(product) : decltype(history::snapshot(product)){};
  product.edit();
  write_product_fields(product, scanned, /*add_new_item=*/false);
  product.update();
  note_write(session);
  if (journal != nullptr) journal->fields(raw_text(product.field("Product Code")), before, history::snapshot(product));
}

// Applies the rule of `kind` to the scanner record `scanned`; gives whether
// the record was posted.
bool apply_rule(Session& session, int16_t kind, jet::dao::Database& scanner, jet::dao::Recordset& scanned) {
  const jet::Value item = scanned.field("Item_Number");
  if (jet::is_null(item)) {
    throw jet::Error(jet::ErrorCategory::kInvalidArgument,
                     "Scanner_Data record " + raw_text(scanned.field("Scanner_Data_ID")) +
                         " has no Item_Number (Null), so no product can be looked up for it");
  }
  auto product = find_product(session, raw_text(item));
  const bool found = !product->eof();
  const jet::Currency qty = Null_To_Currency(scanned.field("Qty"));
  bool posted = found;
  switch (kind) {
    case kAddToInventory:
      if (found) {
        write_stock(session, *product, jet::currency_add(Null_To_Currency(product->field("Inventory Qty")), qty),
                    history::kChangeQuantity);
      }
      break;
    case kSubtractInventory:
      if (found) subtract_stock(session, product, qty);
      break;
    case kCompareInventory:
      posted = found ? Post_Compare_Records(session, scanner, scanned, *product)
                     : Post_Compare_Records_No_Product(session, scanner, scanned);
      break;
    case kReplaceInventory:
      if (found) write_stock(session, *product, qty, history::kChangeReplace);
      break;
    case kAddNewItem:
      posted = add_new_item(session, *product, scanned, item);
      break;
    case kEditProducts:
      edit_product(session, *product, scanned, found);
      posted = true;
      break;
    default:
      posted = false;
      break;
  }
  if (product->is_open()) product->close();
  return posted;
}

// Posts the record `rs` stands on and removes it when it was applied. A
// failure is reported; gives false when it left part of the record in the
// files: the whole group (this record and the uncommitted ones before it,
// effects and removals alike) is then rolled back, and the caller leaves the
// kind - those records stay for the next run.
bool post_record(Session& session, PostingRun& run, int16_t kind, jet::dao::Database& scanner,
                 jet::dao::Recordset& rs) {
  history::RunJournal* journal = run.journal();
  try {
    if (journal != nullptr) journal->begin_record(rs);
    const bool posted = apply_rule(session, kind, scanner, rs);
    if (posted) {
      rs.delete_current();
      run.note_write();
    }
    if (journal != nullptr) journal->end_record(posted);
  } catch (const std::exception& e) {
    if (journal != nullptr) journal->end_record(false);
    report_error(session, e.what(), "Process_Post_Individual_Item");
    if (run.record_wrote()) {
      run.rollback();
      return false;
    }
  }
  return true;
}

}  // namespace

void Process_Post_Individual_Item(Session& session, int16_t File_Type, jet::dao::Database& scanner) {
  UserInterface& ui = session.ui();
  if (!kind_selected(ui, File_Type)) return;

  // Called outside a run (no driver), the kind commits on its own.
  std::optional<PostingRun> own_run;
  PostingRun* run = session.active_run();
  const std::string caption = file_type_label(File_Type);
  try {
    if (run == nullptr) {
      const PostingOptions& options = session.posting_options();
      own_run.emplace(session, scanner, products(session), options.records_per_commit, options.seconds_per_commit);
      run = &*own_run;
    }
    auto rs = scanner.open_recordset(std::string("Select * ") + kCrLf + "from Scanner_Data" + kCrLf +
                                     "Where File_Type = " + std::to_string(File_Type));
    long total = 0;
    if (!rs->eof()) {
      rs->move_last();
      rs->move_first();
      total = static_cast<long>(rs->record_count());
    }
    long count = 0;
    ui.Display_Status_Message(std::string("Processing ") + kCrLf + caption);
    while (!rs->eof()) {
      run->start_record();
      if (!post_record(session, *run, File_Type, scanner, *rs)) break;
      ++count;
      // The status line with the progress bar at count of total.
      ui.Update_Status(caption + kCrLf + "Rec: " + std::to_string(count) + " / " + std::to_string(total), count, total);
      // Deleting the last live record leaves the recordset at its end.
      if (!rs->eof()) rs->move_next();
      // Events run only once the group is committed.
      if (run->end_record()) ui.do_events();
      if (session.abort_requested()) break;
    }
    rs->close();
    if (own_run) own_run->commit();
    ui.Update_Status("", 0, 0);
  } catch (const std::exception& e) {
    if (run != nullptr) run->rollback();
    report_error(session, e.what(), "Process_Post_Individual_Item");
  }
}

}  // namespace tallimo
