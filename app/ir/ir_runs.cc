#include "app/ir/ir_runs.h"

#include <exception>
#include <memory>
#include <vector>

#include "app/data/products_database.h"
#include "app/data/scanner_database.h"
#include "app/error_log.h"
#include "app/ir/cls_serial_ir.h"
#include "app/ir/corvia_library.h"
#include "app/ir/scan_store.h"
#include "app/null_conversions.h"
#include "app/posting/posting.h"
#include "app/session.h"
#include "app/settings.h"
#include "app/user_interface.h"
#include "jet/dao.h"
#include "jet/database.h"
#include "jet/transaction.h"
#include "jet/value_conversions.h"

namespace tallimo {
namespace {

constexpr const char* kCrLf = "\r\n";
constexpr int16_t kProductFile = 5;
constexpr int16_t kIndexFile = 6;

std::string num(long value) { return std::to_string(value); }

void report(Session& session, IrRunSummary& summary, const std::exception& e, const char* routine) {
  ++summary.errors;
  Error_Routine(session, e.what(), routine);
}

// The program-wide scanner database when it is open, else one of this run's own.
class ScannerHandle {
 public:
  explicit ScannerHandle(Session& session) {
    db_ = Scanner_Database(session);
    if (db_ == nullptr || !db_->is_open()) {
      own_ = session.workspace().open_database(Scanner_Database_Path(session));
      db_ = own_.get();
    }
  }
  ~ScannerHandle() {
    if (own_ && own_->is_open()) {
      try {
        own_->close();
      } catch (...) {
      }
    }
  }
  jet::dao::Database& operator*() { return *db_; }
  jet::dao::Database* operator->() { return db_; }

 private:
  std::unique_ptr<jet::dao::Database> own_;
  jet::dao::Database* db_ = nullptr;
};

// Ends a read that is in progress (the mark that keeps a killed read's rows).
void end_read_mark(Session& session, IrRunSummary& summary) {
  try {
    ScannerHandle db(session);
    ir::ScanStore(*db).end_read();
  } catch (const std::exception& e) {
    report(session, summary, e, "Synchronize_Infrared");
  }
}

// The record loop of one scanner file. Returns false when the file must stay on the
// scanner untouched: its count failed, a record failed, or the run was aborted.
bool read_file(Session& session, cls_Serial_IR& link, int16_t file, const std::string& caption,
               std::vector<ScannerRecord>& records, IrRunSummary& summary) {
  UserInterface& ui = session.ui();
  ScannerRecord& Scanner_Record = session.scanner_record();
  link.Clear_Scanner_Display();
  link.Display_Message(2, 0, "Sending");
  link.Display_Message(3, 0, caption);
  link.Set_Record_Delay_Enabled(file == kProductFile);
  link.set_File_Name_Index(file);
  const int16_t n = link.Record_Count();
  if (!link.last_command_succeeded()) {
    if (!session.abort_requested()) {
      message(ui, "The scanner did not tell how many records " + caption + " holds." + kCrLf +
                      "They stay on the scanner; read the scanner again.");
    }
    return false;
  }
  for (int16_t k = 1; k <= n; ++k) {
    Scanner_Record.Record_Mode = file == kProductFile ? 1 : 0;
    if (k == 1 || k % 10 == 0) link.Display_Message(4, 0, "Rec:" + num(k) + "/" + num(n));
    ui.Display_Status_Message(caption + kCrLf + "Rec: " + num(k) + " / " + num(n));
    link.set_DataBase_Index(static_cast<int16_t>(k - 1));
    if (link.Read_Record_Set()) {
      records.push_back(Scanner_Record);
      ++summary.records_read;
    } else if (!session.abort_requested()) {
      // Reading on would only store a file with a gap that then stays on the scanner.
      message(ui, "Record " + num(k) + " of " + caption + " could not be read." + kCrLf + "The records of " +
                      caption + " stay on the scanner; read the scanner again.");
      return false;
    }
    if (session.abort_requested()) return false;
  }
  return true;
}

}  // namespace

// ---- port ----

int ir_line_speed(int baud_rate_index) {
  switch (baud_rate_index) {
    case 0: return 115200;
    case 1: return 38400;
    case 2: return 19200;
    default: return 0;
  }
}

std::string Scanner_Instructions() {
  return std::string("1. Place Scanner in Cradle.") + kCrLf +
         "2. On the Scanner, Press 6 followed by the Blue button." + kCrLf + "3. Then Press OK.";
}

void Open_Ir_Port(Session& session) {
  UserInterface& ui = session.ui();
  ui.do_events();
  ui.Display_Status_Message("Openning Comm Port");
  if (!session.ir_port_open()) {
    const Settings& settings = session.settings();
    const int port = settings.Com_Port + 1;
    try {
      session.set_ir_port_open(ir::corvia_library().vbOpenIrCom(port, ir_line_speed(settings.Baud_Rate)) == 1);
    } catch (const std::exception& e) {
      Error_Routine(session, e.what(), "Open_Ir_Port");
    }
    if (!session.ir_port_open()) {
      const std::string text = "Unable to Open Comm Port " + num(port);
      ui.Display_Status_Message(text);
      message(ui, text);
    }
  }
  ui.do_events();
}

void Close_Ir_Port(Session& session) {
  try {
    ir::corvia_library().CloseIrCom();
  } catch (const std::exception&) {
    // No library, so no port was ever opened.
  }
  session.set_ir_port_open(false);
}

namespace {

// The start of a read or an upload: the abort flag cleared, the port opened
// ("Ready Scanner"), and, when `ask`, the instructions box, whose Cancel sets
// the abort flag. False when the port did not open.
bool start_ir_run(Session& session, bool ask, IrRunSummary& summary) {
  session.set_abort(false);
  Open_Ir_Port(session);
  if (!session.ir_port_open()) return false;
  summary.port_opened = true;
  session.ui().Display_Status_Message("Ready Scanner");
  if (ask && session.ui().message_box(Scanner_Instructions(), MessageButtons::kOkCancel, MessageIcon::kNone,
                                      "Tallimo") == MessageAnswer::kCancel) {
    session.set_abort(true);
    summary.cancelled = true;
  }
  return true;
}

}  // namespace

// ---- read ----

IrRunSummary Synchronize_Infrared(Session& session, bool Full_Sync) {
  UserInterface& ui = session.ui();
  IrRunSummary summary;
  if (!start_ir_run(session, true, summary)) return summary;
  if (!session.abort_requested()) Save_Record(session, Full_Sync, summary);
  if (Full_Sync) {
    if (!session.abort_requested()) {
      Process_Post(session);
      summary.posted = true;
    }
    // The read's rows are now posted or left for the grid: a later read may replace
    // them.
    if (!summary.cancelled) end_read_mark(session, summary);
    if (!session.abort_requested() && !session.program_ended()) {
      const IrRunSummary upload = Update_Inventory_Corvia_Labs(session, false);
      summary.products_sent = upload.products_sent;
      summary.index_entries_sent = upload.index_entries_sent;
      summary.low_memory = upload.low_memory;
      summary.write_failed = upload.write_failed;
      summary.errors += upload.errors;
      summary.completed = summary.completed && upload.completed;
    } else {
      summary.completed = false;
    }
    Close_Ir_Port(session);
    compact_scanner_database_when_mostly_free(session);
  }
  summary.aborted = session.abort_requested() && !summary.cancelled;
  if (session.abort_requested()) ui.Display_Status_Message("Waiting User Command");
  return summary;
}

void Save_Record(Session& session, bool Full_Sync, IrRunSummary& summary) {
  UserInterface& ui = session.ui();
  try {
    ScannerHandle db(session);
    ir::ScanStore store(*db);
    summary.resumed = store.begin_read();
    cls_Serial_IR link(session);
    for (int16_t i = 0; i < kKindCount; ++i) {
      const std::string caption = file_type_label(i);
      ui.Display_Status_Message("Reading " + std::string(kCrLf) + caption);
      std::vector<ScannerRecord> records;
      if (!read_file(session, link, i, caption, records, summary)) {
        if (session.abort_requested()) break;
        ++summary.files_spared;
        continue;
      }
      if (i == kProductFile) {
        // The product list stays on the scanner; reading it again replaces its rows.
        store.replace(i, records);
      } else if (records.empty() && !store.held(i)) {
        link.Delete_File(i);
      } else {
        store.hold(i, records);
        if (link.Delete_File(i)) {
          store.take_in(i);
        } else {
          ++summary.files_spared;
          if (session.abort_requested()) break;
          message(ui, caption + " could not be deleted on the scanner." + kCrLf +
                          "Its records are kept aside; the next read takes them in.");
          ui.do_events();
          continue;
        }
      }
      ++summary.files_read;
      ui.do_events();
    }
    if (!Full_Sync) {
      store.end_read();
      if (session.abort_requested()) {
        ui.Display_Status_Message("Read from Scanner - Aborted");
      } else {
        link.Exit_Sync_Mode();
        ui.Display_Status_Message("Read from Scanner - Complete");
        summary.completed = summary.files_spared == 0;
      }
    } else {
      summary.completed = !session.abort_requested() && summary.files_spared == 0;
    }
  } catch (const std::exception& e) {
    report(session, summary, e, "Save_Record");
    summary.completed = false;
  }
}

// ---- upload ----

std::string String_To_Hex(const std::string& text) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : ir::encode_scanner_text(text)) {
    out += kDigits[c >> 4];
    out += kDigits[c & 0x0F];
  }
  return out;
}

std::string index_prefix(const std::string& item_number) {
  size_t end = 0;
  for (int chars = 0; chars < 2 && end < item_number.size(); ++chars) {
    ++end;
    while (end < item_number.size() && (static_cast<unsigned char>(item_number[end]) & 0xC0) == 0x80) ++end;
  }
  return item_number.substr(0, end);
}

namespace {

size_t char_count(const std::string& text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

// A field's text as stored (not trimmed); a Null as empty text.
std::string stored_text(const jet::Value& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return *text;
  return jet::is_null(value) ? std::string() : jet::value_to_text(value);
}

// Appends a field's stored text (not trimmed; a Null as empty text) as a
// text value of the staging statement: in single quotes, single quotes doubled.
void append_sql_text(std::string& sql, const jet::Value& value) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    append_quoted_literal(sql, *text, '\'');
  } else {
    append_quoted_literal(sql, stored_text(value), '\'');
  }
}

std::string text_field(const jet::dao::Recordset& rs, const char* name) { return stored_text(rs.field(name)); }

double money_field(const jet::dao::Recordset& rs, const char* name) {
  return static_cast<double>(Null_To_Currency(rs.field(name)).ten_thousandths) / 10000.0;
}

}  // namespace

ProductListFields::ProductListFields(const jet::dao::Recordset& products)
    : code(products.field_index("Product Code")),
      description(products.field_index("Description One")),
      quantity(products.field_index("Inventory Qty")),
      standard_price(products.field_index("Standard Price")),
      vendor(products.field_index("Vendor Code")),
      current_cost(products.field_index("Current Cost")),
      location(products.field_index("Location")),
      list_price(products.field_index("List Price")) {}

void stage_product_list(jet::dao::Database& scanner, jet::dao::Database& products) {
  jet::Transaction tx(scanner.engine());
  scanner.execute("Delete * From Scanner_Data");
  auto rs = products.open_recordset(std::string("Select * ") + kCrLf + "From Product1");
  const ProductListFields f(*rs);
  // The values after Item_Number and Item_Order, in the statement's order:
  // the product field and whether it is an amount (else text).
  const struct {
    std::size_t field;
    bool money;
  } values[] = {{f.description, false},  {f.quantity, true}, {f.standard_price, true}, {f.vendor, false},
                {f.current_cost, true}, {f.location, false}, {f.list_price, true}};
  std::string sql;
  for (; !rs->eof(); rs->move_next()) {
    const std::string trimmed = Null_To_Text(rs->field(f.code));
    sql.assign(
        "INSERT INTO Scanner_Data (Item_Number,Item_Order,Description,Qty,Standard_Price,"
        "Vendor_Code,Current_Cost,Location,List_Price) VALUES (");
    append_quoted_literal(sql, trimmed, '\'');
    sql += ',';
    append_quoted_literal(sql, String_To_Hex(trimmed), '\'');
    for (const auto& v : values) {
      sql += ',';
      if (v.money) {
        sql += currency_to_text(Null_To_Currency(rs->field(v.field)));
      } else {
        append_sql_text(sql, rs->field(v.field));
      }
    }
    sql += ')';
    scanner.execute(sql);
  }
  rs->close();
  tx.commit();
}

IrRunSummary Update_Inventory(Session& session, bool Ask) {
  IrRunSummary summary = Update_Inventory_Corvia_Labs(session, Ask);
  // The staging replaced the whole of Scanner_Data: give the space back once
  // most of the file is free.
  compact_scanner_database_when_mostly_free(session);
  return summary;
}

IrRunSummary Update_Inventory_Corvia_Labs(Session& session, bool Ask) {
  UserInterface& ui = session.ui();
  ScannerRecord& Scanner_Record = session.scanner_record();
  IrRunSummary summary;
  if (!start_ir_run(session, Ask, summary)) return summary;
  if (session.abort_requested()) {
    Close_Ir_Port(session);
    summary.aborted = !summary.cancelled;
    return summary;
  }
  try {
    if (!Open_Orvex_DataBase(session)) {
      // Reported by the products database itself.
      ++summary.errors;
      Close_Ir_Port(session);
      return summary;
    }
    ScannerHandle scanner(session);
    cls_Serial_IR link(session);
    link.Delete_File(kProductFile);
    long position = 0;
    struct IndexEntry {
      std::string prefix;
      long position;
    };
    std::vector<IndexEntry> index;
    std::string last_prefix;
    link.Clear_Scanner_Display();
    link.Display_Message(2, 0, "Receiving");
    link.Display_Message(3, 0, "Inventory");

    stage_product_list(*scanner, *Orvex_Database(session));

    auto rs = scanner->open_recordset(std::string("Select * ") + "From Scanner_Data" + " Order By Item_Order");
    long n = 0;
    if (!rs->eof()) {
      rs->move_last();
      rs->move_first();
      n = static_cast<long>(rs->record_count());
    }
    const std::string caption = file_type_label(0);
    while (!rs->eof() && !session.abort_requested()) {
      ScannerRecord& r = Scanner_Record;
      r.Record_Mode = 1;
      r.Item_Number = Null_To_Text(rs->field("Item_Number"));
      r.Description = text_field(*rs, "Description");
      r.Qty = money_field(*rs, "Qty");
      r.Standard_Price = money_field(*rs, "Standard_Price");
      r.Vendor_Code = text_field(*rs, "Vendor_Code");
      r.Current_Cost = money_field(*rs, "Current_Cost");
      r.Location = text_field(*rs, "Location");
      r.List_Price = money_field(*rs, "List_Price");
      link.Write_Record_Set();
      if (!link.last_command_succeeded()) {
        if (session.abort_requested()) break;
        // A link that fails a write after its retries is not going to take the rest.
        summary.write_failed = true;
        message(ui, "Product " + num(position + 1) + " of " + num(n) + " (" + r.Item_Number +
                       ") could not be written to the scanner." + kCrLf +
                       "The upload stopped; the scanner holds the products before it.");
        break;
      }
      ++summary.products_sent;
      if (position % 10 == 0 || position == 1) {
        link.Display_Message(4, 0, "Rec:" + num(position) + "/" + num(n));
        ui.Display_Status_Message(caption + kCrLf + "Rec: " + num(position) + " / " + num(n) + kCrLf +
                                  "Free: " + num(link.FreeMemory()));
      }
      const std::string prefix = index_prefix(r.Item_Number);
      if (char_count(r.Item_Number) < 2 || prefix != last_prefix) {
        index.push_back({prefix, position});
        last_prefix = prefix;
      }
      ++position;
      if (link.FreeMemory() < kLowMemoryThreshold) {
        summary.low_memory = true;
        ui.message_box(kLowMemoryText, MessageButtons::kOk, MessageIcon::kNone, "Tallimo");
        break;
      }
      rs->move_next();
      ui.do_events();
    }
    rs->close();
    position = 0;

    if (!index.empty() && !summary.write_failed) {
      link.Clear_Scanner_Display();
      link.Delete_File(kIndexFile);
      link.Display_Message(2, 0, "Receiving");
      link.Display_Message(3, 0, "Indexes");
      const long m = static_cast<long>(index.size()) - 1;
      for (long j = 0; j <= m; ++j) {
        Scanner_Record.Record_Mode = 2;
        Scanner_Record.Item_Number = index[j].prefix;
        Scanner_Record.Qty = static_cast<double>(index[j].position);
        link.Write_Record_Set();
        if (link.last_command_succeeded()) {
          ++summary.index_entries_sent;
        } else if (!session.abort_requested()) {
          summary.write_failed = true;
          message(ui, "Index entry " + num(j) + " (" + index[j].prefix +
                         ") could not be written to the scanner." + kCrLf + "The upload stopped.");
          break;
        }
        if (j % 10 == 0 || j == 1) {
          link.Display_Message(4, 0, "Rec:" + num(j) + "/" + num(m));
          ui.Display_Status_Message("Uploading Indexes" + std::string(kCrLf) + "Rec: " + num(j) + " / " + num(m));
        }
        if (session.abort_requested()) break;
      }
    }
    if (session.abort_requested() || summary.write_failed) {
      summary.aborted = session.abort_requested();
      ui.Display_Status_Message("Processing - Aborted");
    } else {
      ui.Display_Status_Message("Processing - Complete");
      link.Exit_Sync_Mode();
      summary.completed = true;
    }
  } catch (const std::exception& e) {
    report(session, summary, e, "Update_Inventory_Corvia_Labs");
  }
  Close_Orvex_DataBase(session);
  Close_Ir_Port(session);
  return summary;
}

// ---- dispatch ----

bool Synchronize_Handheld(Session& session, bool Full_Sync, const HandheldRuns& handheld, IrRunSummary* infrared) {
  const std::string kind = session.settings().Scanner;
  if (kind == kScannerOrvexR50) {
    IrRunSummary summary = Synchronize_Infrared(session, Full_Sync);
    if (infrared != nullptr) *infrared = summary;
    return true;
  }
  if (kind == kScannerPalm && handheld.palm) {
    handheld.palm(session, Full_Sync);
    return true;
  }
  if (kind == kScannerWindowsMobile && handheld.windows_mobile) {
    handheld.windows_mobile(session, Full_Sync);
    return true;
  }
  if (kind == kScannerPhone && handheld.phone) {
    handheld.phone(session, Full_Sync);
    return true;
  }
  return false;
}

}  // namespace tallimo
