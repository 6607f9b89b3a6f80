// The infrared scanner's runs: reading the scanner, sending it the product list, and
// the full synchronisation (read, post, send), plus the scanner-kind dispatch.
//
// Every run is a plain procedure of the headless core taking the program's Session.
// It reaches the screen only through session.ui() (status lines, message boxes,
// letting events run), the abort flag through the session, the settings through
// session.settings(), the databases through app/data. A window calls an entry
// below from its command handler with its controls locked; tallimo-cli calls the
// same entries.
//
// Contract of every entry:
//   - it clears the session's abort flag itself, and stops at the next record once
//     the flag is set (the "&Abort" button, Ctrl-C in tallimo-cli);
//   - it never throws: failures go to Error_Routine under the procedure's name,
//     expected conditions to message boxes and the status line;
//   - the session's scanner database handle is used when it is open, otherwise the
//     run opens and closes POS_Scanner.MDB itself; no transaction is open while the
//     user interface runs;
//   - the port is opened (or reused when session.ir_port_open()) at the start; an
//     upload or a synchronisation closes it at the end, a plain read leaves it open
//     for the next run;
//   - it returns what it did (IrRunSummary).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace jet::dao {
class Database;
class Recordset;
}

namespace tallimo {

class Session;

// What a read, upload or synchronisation did.
struct IrRunSummary {
  bool port_opened = false;   // the port was open for the run
  bool cancelled = false;     // Cancel in the instructions box
  bool aborted = false;       // the abort flag stopped the run
  bool resumed = false;       // the read resumed one that was killed
  int files_read = 0;         // scanner files read whole and committed
  int files_spared = 0;       // files left on the scanner: count or record failed, or
                              // not deleted
  long records_read = 0;      // records read from the scanner
  long products_sent = 0;     // product records written to the scanner
  long index_entries_sent = 0;
  bool low_memory = false;    // the scanner ran low on memory
  bool write_failed = false;  // a record write failed after its retries
  bool posted = false;        // a synchronisation ran the posting
  int errors = 0;             // failures reported through Error_Routine
  bool completed = false;     // the run reached its "Complete" status
};

// ---- port (Open_Ir_Port / Close_Ir_Port) ----

// The line speed of a "Baud_Rate" index: 0 115200, 1 38400, 2 19200, anything else
// 0 (which the port library takes as 9600).
int ir_line_speed(int baud_rate_index);
// Opens the port of the "Com_Port" setting at the "Baud_Rate" setting's speed unless
// session.ir_port_open(). On failure: "Unable to Open Comm Port N" on the status line
// and in a message box, and the flag stays false. A port library that cannot be
// loaded is reported through Error_Routine as "Open_Ir_Port".
void Open_Ir_Port(Session& session);
// Closes the port (when the library is loaded) and clears session.ir_port_open().
void Close_Ir_Port(Session& session);
// The text of the instructions box.
std::string Scanner_Instructions();

// ---- runs ----

// The infrared read: port, instructions box (OK / Cancel), every transaction file
// read into Scanner_Data and deleted on the scanner; with Full_Sync then the posting
// and the product list sent back, and the port closed.
IrRunSummary Synchronize_Infrared(Session& session, bool Full_Sync);
// Reads files 0 to 5 into Scanner_Data (the read's body; the port must be open).
void Save_Record(Session& session, bool Full_Sync, IrRunSummary& summary);
// Sends PRODUCT1 to the scanner (file 5) with its index (file 6); `Ask` shows the
// instructions box first.
IrRunSummary Update_Inventory_Corvia_Labs(Session& session, bool Ask);
IrRunSummary Update_Inventory(Session& session, bool Ask);

// ---- scanner-kind dispatch ----

// The Palm and Windows Mobile transfers, given by the handheld subsystem.
struct HandheldRuns {
  std::function<void(Session&, bool)> palm;
  std::function<void(Session&, bool)> windows_mobile;
  // "Phone Scanner": the phone scanner's pairing window (or server).
  std::function<void(Session&, bool)> phone;
};

// "&Read Scanner" (Full_Sync false) and "&Synchronize" (true): by the "Scanner"
// setting, compared exactly: "Orvex R50 Scanner" runs Synchronize_Infrared (its
// summary goes to `infrared` when given); "Palm Barcode Scanner" and "Windows Mobile
// Scanner" run the transfers in `handheld`, "Phone Scanner" its `phone` run;
// anything else does nothing. Returns
// whether a run was started.
bool Synchronize_Handheld(Session& session, bool Full_Sync, const HandheldRuns& handheld = {},
                          IrRunSummary* infrared = nullptr);

// ---- upload helpers ----

// The upload's staging: empties Scanner_Data and copies every PRODUCT1 row of
// `products` into it with one INSERT statement per product, all in one commit.
// Throws jet::Error (nothing is staged then).
void stage_product_list(jet::dao::Database& scanner, jet::dao::Database& products);

// The positions of the PRODUCT1 fields the staging copies, in a recordset on
// PRODUCT1: looked up once, read for every product. Throws jet::Error
// kNotFound naming a missing field.
struct ProductListFields {
  explicit ProductListFields(const jet::dao::Recordset& products);
  std::size_t code, description, quantity, standard_price, vendor, current_cost, location, list_price;
};

// The item number as hexadecimal text, two upper-case digits per character (its
// byte in the scanner's character set, ir::encode_scanner_text; characters beyond
// it as "3F", "?"): sorting by it gives the byte order of the item numbers on the
// scanner.
std::string String_To_Hex(const std::string& text);
// The first two characters of an item number (all of it when shorter).
std::string index_prefix(const std::string& item_number);

// ---- texts ----
inline constexpr const char* kLowMemoryText =
    "Memory in the Scanner is running Low.\r\nUnable to load any additional records";
inline constexpr int32_t kLowMemoryThreshold = 75000;

namespace ir {
// The read's merge rule, which every scan source follows (one Scanner_Data row per
// item number and kind): the lookup of an item's row of one kind, the item number
// as a double-quoted literal (double quotes in it doubled).
std::string scanner_data_lookup_sql(const std::string& item_number, int16_t file_type);
}  // namespace ir

}  // namespace tallimo
