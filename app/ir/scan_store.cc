#include "app/ir/scan_store.h"

#include <cstdio>

#include "app/ir/cls_serial_ir.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/schema.h"
#include "jet/table.h"
#include "jet/transaction.h"
#include "app/null_conversions.h"
#include "app/posting/posting.h"

namespace tallimo::ir {
namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int16_t kRunMark = -1;

jet::Value money(double value) { return jet::Value(Null_To_Currency(jet::Value(value))); }

double as_double(jet::Currency amount) { return static_cast<double>(amount.ten_thousandths) / 10000.0; }

// Sets the row's columns from `record` in the order the read sets them, Qty first:
// `qty` is the row's new quantity.
void set_row(jet::dao::Recordset& rs, double qty, const jet::Value& item, const jet::Value& description,
             const jet::Value& vendor, const jet::Value& standard, const jet::Value& cost, const jet::Value& location,
             const jet::Value& list, int16_t file) {
  rs.set_field("Qty", jet::Value(qty));
  rs.set_field("Item_Number", item);
  rs.set_field("Description", description);
  rs.set_field("Vendor_Code", vendor);
  rs.set_field("Standard_Price", standard);
  rs.set_field("Current_Cost", cost);
  rs.set_field("Location", location);
  rs.set_field("List_Price", list);
  rs.set_field("File_Type", jet::Value(file));
}

// The row's quantity plus `add` (both as money amounts).
double summed(const jet::Value& present, const jet::Value& add) {
  return as_double(jet::Currency{Null_To_Currency(present).ten_thousandths + Null_To_Currency(add).ten_thousandths});
}

std::string rows_of_kind_sql(const char* table, int16_t file) {
  return std::string("Select * From ") + table + " Where File_Type = " + std::to_string(file);
}

}  // namespace

std::string record_text(const ScannerRecord& r) {
  auto number = [](double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", v);
    return std::string(text);
  };
  return std::to_string(r.Record_Mode) + "~" + r.Item_Number + "~" + r.Description + "~" + number(r.Standard_Price) +
         "~" + number(r.Current_Cost) + "~" + number(r.Qty) + "~" + r.Vendor_Code + "~" + r.Location + "~" +
         number(r.List_Price);
}

std::string records_digest(const std::vector<ScannerRecord>& records, size_t count) {
  // FNV-1a, 64 bits, over each record's text followed by a separator byte.
  uint64_t hash = 0xcbf29ce484222325ull;
  auto add = [&](unsigned char c) {
    hash ^= c;
    hash *= 0x100000001b3ull;
  };
  for (size_t i = 0; i < count && i < records.size(); ++i) {
    for (unsigned char c : record_text(records[i])) add(c);
    add(0);
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

std::string scanner_data_lookup_sql(const std::string& item_number, int16_t file_type) {
  return std::string("Select * ") + kCrLf + "From Scanner_Data" + kCrLf + "Where (" +
         "   (Scanner_Data.Item_Number = " + quoted_literal(item_number) + ")" + kCrLf +
         " AND  (Scanner_Data.File_Type = " + std::to_string(file_type) + ")" + kCrLf + ")" + kCrLf;
}

ScanStore::ScanStore(jet::dao::Database& scanner) : db_(scanner) { ensure_tables(); }

void ScanStore::ensure_tables() {
  jet::Database& engine = db_.engine();
  if (!engine.has_table(kReadMarkTable)) {
    jet::TableSpec spec;
    spec.name = kReadMarkTable;
    spec.columns = {jet::column_spec("File_Type", jet::ColumnType::kInteger),
                    jet::column_spec("Records", jet::ColumnType::kLong),
                    jet::column_spec("Digest", jet::ColumnType::kText, 32)};
    engine.create_table(spec);
  }
  if (!engine.has_table(kHoldTable)) {
    jet::TableSpec spec;
    spec.name = kHoldTable;
    spec.columns = {jet::column_spec("Qty", jet::ColumnType::kDouble),
                    jet::column_spec("Item_Number", jet::ColumnType::kText, 255),
                    jet::column_spec("Description", jet::ColumnType::kText, 255),
                    jet::column_spec("Vendor_Code", jet::ColumnType::kText, 255),
                    jet::column_spec("Standard_Price", jet::ColumnType::kCurrency),
                    jet::column_spec("Current_Cost", jet::ColumnType::kCurrency),
                    jet::column_spec("Location", jet::ColumnType::kText, 255),
                    jet::column_spec("List_Price", jet::ColumnType::kCurrency),
                    jet::column_spec("File_Type", jet::ColumnType::kInteger)};
    jet::IndexSpec key;
    key.name = "Item_Key";
    key.columns = {{"File_Type", true}, {"Item_Number", true}};
    spec.indexes = {key};
    engine.create_table(spec);
  }
}

bool ScanStore::begin_read() {
  jet::Transaction tx(db_.engine());
  bool resumed = read_in_progress();
  if (!resumed) {
    db_.execute("Delete * From Scanner_Data");
    auto mark = db_.open_recordset(kReadMarkTable);
    mark->add_new();
    mark->set_field("File_Type", jet::Value(kRunMark));
    mark->set_field("Records", jet::Value(int32_t{0}));
    mark->update();
    mark->close();
  }
  tx.commit();
  return resumed;
}

void ScanStore::end_read() {
  db_.execute(std::string("Delete * From ") + kReadMarkTable + " Where File_Type = " + std::to_string(kRunMark));
}

bool ScanStore::read_in_progress() {
  auto rs = db_.open_recordset(rows_of_kind_sql(kReadMarkTable, kRunMark));
  const bool found = !rs->eof();
  rs->close();
  return found;
}

std::optional<ScanStore::Held> ScanStore::held(int16_t file) {
  auto rs = db_.open_recordset(rows_of_kind_sql(kReadMarkTable, file));
  std::optional<Held> out;
  if (!rs->eof()) out = Held{Null_To_Long(rs->field("Records")), Null_To_Text(rs->field("Digest"))};
  rs->close();
  return out;
}

void ScanStore::merge_into_hold(int16_t file, const std::vector<ScannerRecord>& records) {
  // Straight through the engine's table and its index: one seek and one write per
  // record, no statement to parse (a file holds up to 32767 records).
  jet::Table& hold = db_.engine().table(kHoldTable);
  const jet::TableDef& def = hold.def();
  auto at = [&](const char* name) { return static_cast<size_t>(def.find_column(name)); };
  const size_t qty = at("Qty"), item = at("Item_Number"), description = at("Description"),
               vendor = at("Vendor_Code"), standard = at("Standard_Price"), cost = at("Current_Cost"),
               location = at("Location"), list = at("List_Price"), kind = at("File_Type");
  jet::Row row;
  for (const ScannerRecord& r : records) {
    if (r.Item_Number.empty()) continue;
    const jet::Value key[] = {jet::Value(file), jet::Value(r.Item_Number)};
    const std::vector<jet::RowId> found = hold.seek("Item_Key", key);
    double total;
    if (found.empty()) {
      row.assign(def.columns.size(), jet::Value());
      total = as_double(Null_To_Currency(jet::Value(r.Qty)));
    } else {
      hold.read_row(found.front(), row);
      total = summed(row[qty], jet::Value(r.Qty));
    }
    row[qty] = jet::Value(total);
    row[item] = jet::Value(r.Item_Number);
    row[description] = jet::Value(r.Description);
    row[vendor] = jet::Value(r.Vendor_Code);
    row[standard] = money(r.Standard_Price);
    row[cost] = money(r.Current_Cost);
    row[location] = jet::Value(r.Location);
    row[list] = money(r.List_Price);
    row[kind] = jet::Value(file);
    if (found.empty()) {
      hold.insert(row);
    } else {
      hold.update(found.front(), row);
    }
  }
}

void ScanStore::move_held(int16_t file) {
  auto existing = db_.open_recordset(rows_of_kind_sql("Scanner_Data", file));
  const bool kind_is_empty = existing->eof();
  existing->close();

  auto held_rows = db_.open_recordset(rows_of_kind_sql(kHoldTable, file));
  std::unique_ptr<jet::dao::Recordset> table;
  if (kind_is_empty) table = db_.open_recordset("Scanner_Data");
  for (; !held_rows->eof(); held_rows->move_next()) {
    const jet::Value item = held_rows->field("Item_Number");
    std::unique_ptr<jet::dao::Recordset> target;
    double qty = as_double(Null_To_Currency(held_rows->field("Qty")));
    if (kind_is_empty) {
      table->add_new();
    } else {
      target = db_.open_recordset(scanner_data_lookup_sql(Null_To_Text(item), file));
      if (target->eof()) {
        target->add_new();
      } else {
        target->edit();
        qty = summed(target->field("Qty"), held_rows->field("Qty"));
      }
    }
    jet::dao::Recordset& rs = kind_is_empty ? *table : *target;
    set_row(rs, qty, item, held_rows->field("Description"), held_rows->field("Vendor_Code"),
            held_rows->field("Standard_Price"), held_rows->field("Current_Cost"), held_rows->field("Location"),
            held_rows->field("List_Price"), file);
    rs.update();
    if (target) target->close();
  }
  held_rows->close();
  if (table) table->close();
  drop_held(file);
}

void ScanStore::drop_held(int16_t file) {
  db_.execute(std::string("Delete * From ") + kHoldTable + " Where File_Type = " + std::to_string(file));
}

void ScanStore::hold(int16_t file, const std::vector<ScannerRecord>& records) {
  jet::Transaction tx(db_.engine());
  if (auto earlier = held(file)) {
    const bool still_on_scanner =
        records.size() >= static_cast<size_t>(earlier->records) &&
        records_digest(records, static_cast<size_t>(earlier->records)) == earlier->digest;
    if (still_on_scanner) {
      drop_held(file);
    } else {
      move_held(file);
    }
    db_.execute(std::string("Delete * From ") + kReadMarkTable + " Where File_Type = " + std::to_string(file));
  }
  merge_into_hold(file, records);
  auto mark = db_.open_recordset(kReadMarkTable);
  mark->add_new();
  mark->set_field("File_Type", jet::Value(file));
  mark->set_field("Records", jet::Value(static_cast<int32_t>(records.size())));
  mark->set_field("Digest", jet::Value(records_digest(records, records.size())));
  mark->update();
  mark->close();
  tx.commit();
}

void ScanStore::take_in(int16_t file) {
  jet::Transaction tx(db_.engine());
  move_held(file);
  db_.execute(std::string("Delete * From ") + kReadMarkTable + " Where File_Type = " + std::to_string(file));
  tx.commit();
}

void ScanStore::replace(int16_t file, const std::vector<ScannerRecord>& records) {
  jet::Transaction tx(db_.engine());
  db_.execute("Delete * From Scanner_Data Where File_Type = " + std::to_string(file));
  drop_held(file);
  merge_into_hold(file, records);
  move_held(file);
  tx.commit();
}

}  // namespace tallimo::ir
