#include "app/phone/phone_store.h"

#include <cmath>

#include "app/ir/ir_runs.h"
#include "app/null_conversions.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/schema.h"
#include "jet/table.h"
#include "jet/transaction.h"

namespace tallimo::phone {
namespace {

[[noreturn]] void refuse(const std::string& text) { throw jet::Error(jet::ErrorCategory::kInvalidArgument, text); }

bool has_control_characters(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7f) return true;
  }
  return false;
}

// Characters of a UTF-8 text (the columns' lengths count characters); -1 for
// text that is not UTF-8.
long utf8_length(const std::string& text) {
  long count = 0;
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return -1;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return -1;
    }
    i += n;
    ++count;
  }
  return count;
}

void check_text(const std::string& text, const char* what, size_t limit, bool required) {
  if (required && text.empty()) refuse(std::string("the ") + what + " is empty");
  const long length = utf8_length(text);
  if (length < 0) refuse(std::string("the ") + what + " is not UTF-8 text");
  if (static_cast<size_t>(length) > limit)
    refuse(std::string("the ") + what + " is longer than " + std::to_string(limit) + " characters");
  if (has_control_characters(text)) refuse(std::string("the ") + what + " holds control characters");
}

double as_double(jet::Currency amount) { return static_cast<double>(amount.ten_thousandths) / 10000.0; }

// Quantities are summed as the infrared read sums them: as money amounts.
double money_sum(const jet::Value& a, double b) {
  return as_double(jet::Currency{Null_To_Currency(a).ten_thousandths + Null_To_Currency(jet::Value(b)).ten_thousandths});
}

}  // namespace

bool valid_scan_id(const std::string& id) {
  const size_t colon = id.find(':');
  if (colon == std::string::npos || colon < 8 || colon > 40) return false;
  for (size_t i = 0; i < colon; ++i) {
    const char c = id[i];
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_'))
      return false;
  }
  const size_t digits = id.size() - colon - 1;
  if (digits < 1 || digits > 15) return false;
  for (size_t i = colon + 1; i < id.size(); ++i) {
    if (id[i] < '0' || id[i] > '9') return false;
  }
  return true;
}

void validate_scan(const PhoneScan& scan) {
  if (!valid_scan_id(scan.id)) refuse("the scan id is not of the form PHONE:SEQUENCE");
  check_text(scan.item, "item number", kMaxItemLength, true);
  if (scan.item.front() == ' ' || scan.item.back() == ' ') refuse("the item number starts or ends with a blank");
  check_text(scan.description, "description", kMaxDescriptionLength, false);
  if (scan.kind < 0 || scan.kind > 5) refuse("the kind " + std::to_string(scan.kind) + " is not one of 0 to 5");
  if (!std::isfinite(scan.qty)) refuse("the quantity is not a number");
  if (scan.qty < 0 || scan.qty > kMaxQuantity)
    refuse("the quantity is outside 0 to " + std::to_string(static_cast<long>(kMaxQuantity)));
  // A count of nothing means something only for a stock count or a replacement.
  if (scan.qty == 0 && scan.kind != 2 && scan.kind != 3) refuse("the quantity is 0");
  const double scaled = scan.qty * 10000;
  if (std::fabs(scaled - std::round(scaled)) > 1e-6) refuse("the quantity has more than four decimals");
}

PhoneStore::PhoneStore(jet::dao::Database& scanner) : db_(scanner) { ensure_table(); }

void PhoneStore::ensure_table() {
  jet::Database& engine = db_.engine();
  if (engine.has_table(kPhoneScansTable)) return;
  jet::TableSpec spec;
  spec.name = kPhoneScansTable;
  spec.columns = {jet::column_spec("Scan_Id", jet::ColumnType::kText, kMaxScanIdLength),
                  jet::column_spec("Undo_Of", jet::ColumnType::kText, kMaxScanIdLength),
                  jet::column_spec("Item_Number", jet::ColumnType::kText, 255),
                  jet::column_spec("File_Type", jet::ColumnType::kInteger),
                  jet::column_spec("Qty", jet::ColumnType::kDouble),
                  jet::column_spec("Row_Id", jet::ColumnType::kLong)};
  jet::IndexSpec key;
  key.name = "Scan_Key";
  key.columns = {{"Scan_Id", true}};
  key.unique = true;
  jet::IndexSpec undo;
  undo.name = "Undo_Key";
  undo.columns = {{"Undo_Of", true}};
  spec.indexes = {key, undo};
  jet::Transaction tx(engine);
  engine.create_table(spec);
  tx.commit();
}

bool PhoneStore::applied(const std::string& id) {
  const jet::Value key[] = {jet::Value(id)};
  return !db_.engine().table(kPhoneScansTable).seek("Scan_Key", key).empty();
}

long PhoneStore::recorded() {
  auto rs = db_.open_recordset(std::string("Select Count(*) As N From ") + kPhoneScansTable);
  const long n = Null_To_Long(rs->field("N"));
  rs->close();
  return n;
}

ApplyResult PhoneStore::apply(const PhoneScan& scan, const std::string& description) {
  validate_scan(scan);
  jet::Transaction tx(db_.engine());
  ApplyResult result = apply_one(scan, description);
  tx.commit();
  return result;
}

std::vector<ApplyResult> PhoneStore::apply_all(const std::vector<PhoneScan>& scans,
                                               const std::vector<std::string>& descriptions) {
  for (const PhoneScan& scan : scans) validate_scan(scan);
  std::vector<ApplyResult> results;
  results.reserve(scans.size());
  jet::Transaction tx(db_.engine());
  for (size_t i = 0; i < scans.size(); ++i)
    results.push_back(apply_one(scans[i], i < descriptions.size() ? descriptions[i] : std::string()));
  tx.commit();
  return results;
}

ApplyResult PhoneStore::apply_one(const PhoneScan& scan, const std::string& description) {
  ApplyResult result;
  result.item = scan.item;
  result.kind = scan.kind;
  auto row = db_.open_recordset(ir::scanner_data_lookup_sql(scan.item, scan.kind));
  if (applied(scan.id)) {
    result.duplicate = true;
    if (!row->eof()) result.row_qty = as_double(Null_To_Currency(row->field("Qty")));
    row->close();
    return result;
  }
  double qty;
  if (row->eof()) {
    row->add_new();
    qty = as_double(Null_To_Currency(jet::Value(scan.qty)));
  } else {
    row->edit();
    qty = money_sum(row->field("Qty"), scan.qty);
  }
  row->set_field("Qty", jet::Value(qty));
  row->set_field("Item_Number", scan.item);
  const std::string& text = scan.description.empty() ? description : scan.description;
  if (!text.empty()) row->set_field("Description", text);
  row->set_field("File_Type", jet::Value(scan.kind));
  row->update();
  row->move_to_last_modified();
  const jet::Value row_id = row->field("Scanner_Data_ID");
  row->close();

  jet::Table& scans = db_.engine().table(kPhoneScansTable);
  jet::Row record(scans.def().columns.size(), jet::Value());
  record[static_cast<size_t>(scans.def().find_column("Scan_Id"))] = jet::Value(scan.id);
  record[static_cast<size_t>(scans.def().find_column("Item_Number"))] = jet::Value(scan.item);
  record[static_cast<size_t>(scans.def().find_column("File_Type"))] = jet::Value(scan.kind);
  record[static_cast<size_t>(scans.def().find_column("Qty"))] = jet::Value(scan.qty);
  record[static_cast<size_t>(scans.def().find_column("Row_Id"))] = row_id;
  scans.insert(record);
  result.row_qty = qty;
  return result;
}

ApplyResult PhoneStore::undo(const std::string& undo_id, const std::string& scan_id) {
  if (!valid_scan_id(undo_id)) refuse("the undo id is not of the form PHONE:SEQUENCE");
  if (!valid_scan_id(scan_id)) refuse("the scan id is not of the form PHONE:SEQUENCE");
  jet::Table& scans = db_.engine().table(kPhoneScansTable);
  const jet::TableDef& def = scans.def();
  const size_t item_at = static_cast<size_t>(def.find_column("Item_Number"));
  const size_t kind_at = static_cast<size_t>(def.find_column("File_Type"));
  const size_t qty_at = static_cast<size_t>(def.find_column("Qty"));
  const size_t undo_at = static_cast<size_t>(def.find_column("Undo_Of"));

  jet::Transaction tx(db_.engine());
  const jet::Value key[] = {jet::Value(scan_id)};
  const std::vector<jet::RowId> found = scans.seek("Scan_Key", key);
  if (found.empty()) throw jet::Error(jet::ErrorCategory::kNotFound, "the scan " + scan_id + " was never received");
  jet::Row original;
  scans.read_row(found.front(), original);
  if (!jet::is_null(original[undo_at])) refuse("the scan " + scan_id + " is itself an undo");
  ApplyResult result;
  result.item = Null_To_Text(original[item_at]);
  result.kind = static_cast<int16_t>(Null_To_Long(original[kind_at]));
  const double qty = jet::is_null(original[qty_at]) ? 0 : as_double(Null_To_Currency(original[qty_at]));
  const int32_t row_id = Null_To_Long(original[static_cast<size_t>(def.find_column("Row_Id"))]);

  // The scan's own row: posted rows are deleted, and a later scan of the item makes
  // a new row with another id, which an old scan must not be taken from.
  auto row = db_.open_recordset(ir::scanner_data_lookup_sql(result.item, result.kind) +
                                " AND Scanner_Data_ID = " + std::to_string(row_id));
  const jet::Value undo_key[] = {jet::Value(undo_id)};
  const jet::Value undone_key[] = {jet::Value(scan_id)};
  if (!scans.seek("Scan_Key", undo_key).empty() || !scans.seek("Undo_Key", undone_key).empty()) {
    result.duplicate = true;
    if (!row->eof()) result.row_qty = as_double(Null_To_Currency(row->field("Qty")));
    row->close();
    return result;
  }
  if (row->eof()) {
    row->close();
    throw jet::Error(jet::ErrorCategory::kConstraint,
                     "the row of " + result.item + " is gone (posted or deleted): the scan cannot be taken back");
  }
  const double left = money_sum(row->field("Qty"), -qty);
  // A row left with nothing goes, in every kind: an undone count must never stand
  // as a count of zero (a replacement would set the stock to 0).
  if (left <= 0) {
    row->delete_current();
  } else {
    row->edit();
    row->set_field("Qty", jet::Value(left));
    row->update();
  }
  row->close();
  jet::Row record(def.columns.size(), jet::Value());
  record[static_cast<size_t>(def.find_column("Scan_Id"))] = jet::Value(undo_id);
  record[undo_at] = jet::Value(scan_id);
  record[item_at] = jet::Value(result.item);
  record[kind_at] = jet::Value(result.kind);
  record[qty_at] = jet::Value(-qty);
  scans.insert(record);
  tx.commit();
  result.row_qty = left > 0 ? left : 0;
  return result;
}

}  // namespace tallimo::phone
