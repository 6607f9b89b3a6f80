// Where the scans of phones land: Scanner_Data, merged as the infrared read merges
// them (one row per item number and kind, quantities summed), plus a record of every
// scan id already applied, so that a phone's resend never counts twice.
//
// The record is the table Phone_Scans of POS_Scanner.MDB (like the infrared read's
// Scanner_Read tables, a table of our own beside the documented two). It has to live
// in the same file: a scan's row change and its id are written in one transaction,
// so after a kill either both are there or neither, and the phone (which holds the
// scan until it is acknowledged) sends it again. A side file could not be committed
// together with the database.
//
//   Phone_Scans  Scan_Id (text 80, unique), Undo_Of (text 80: for an undo, the scan
//                it takes back), Item_Number, File_Type, Qty, Row_Id (the
//                Scanner_Data_ID of the row it went into: an undo takes from that
//                row only, never from a newer row of the same item after a posting).
//
// Errors: bad input throws jet::Error kInvalidArgument with the reason; database
// failures throw what the engine throws (nothing is then committed).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jet::dao {
class Database;
}

namespace tallimo::phone {

inline constexpr const char* kPhoneScansTable = "Phone_Scans";
// Text columns of Scanner_Data hold 255 characters; ids are ours.
inline constexpr size_t kMaxItemLength = 255;
inline constexpr size_t kMaxDescriptionLength = 255;
inline constexpr size_t kMaxScanIdLength = 80;
// A phone's count or delivery never reaches this; a typo of many digits does.
inline constexpr double kMaxQuantity = 99999;

// One scan from a phone. `id` is "<phone id>:<sequence>", unique per scan.
struct PhoneScan {
  std::string id;
  std::string item;
  int16_t kind = 0;  // File_Type 0..5
  double qty = 1;
  std::string description;  // optional; PRODUCT1's description is used when empty
};

// What a scan or an undo did.
struct ApplyResult {
  bool duplicate = false;  // the id was applied before: nothing changed now
  double row_qty = 0;      // the quantity of the item's row of that kind afterwards
  std::string item;
  int16_t kind = 0;
};

// Checks a scan's fields (id form, item text, kind, quantity and its decimals,
// description length). Throws jet::Error kInvalidArgument naming the field.
void validate_scan(const PhoneScan& scan);
// Checks an id's form: a phone id of 8 to 40 letters, digits, '-' or '_', a colon,
// and a sequence number of 1 to 15 digits.
bool valid_scan_id(const std::string& id);

class PhoneStore {
 public:
  // Creates Phone_Scans when the database lacks it. Throws jet::Error.
  explicit PhoneStore(jet::dao::Database& scanner);

  // Applies `scan` in one commit: merges it into Scanner_Data and records its id.
  // An id applied before changes nothing and reports duplicate. `description` is
  // what the row gets when the scan carries none (the product's, from PRODUCT1).
  ApplyResult apply(const PhoneScan& scan, const std::string& description = std::string());
  // Applies `scans` in order in one commit (descriptions[i] as above, when given):
  // one disk write for every scan that arrived meanwhile. All or none: on a throw
  // nothing is committed. The same id twice counts once.
  std::vector<ApplyResult> apply_all(const std::vector<PhoneScan>& scans,
                                     const std::vector<std::string>& descriptions);

  // Takes back the scan `scan_id` under the new id `undo_id`, in one commit: its
  // quantity is subtracted from its row, and the row is removed when nothing is
  // left. Undoing twice, or resending the undo, reports duplicate. Throws
  // kNotFound for a scan never applied, kConstraint when its row is gone (posted).
  ApplyResult undo(const std::string& undo_id, const std::string& scan_id);

  // Whether `id` (a scan's or an undo's) was applied.
  bool applied(const std::string& id);
  // How many ids are recorded.
  long recorded();

 private:
  void ensure_table();
  // Applies one checked scan inside the open transaction.
  ApplyResult apply_one(const PhoneScan& scan, const std::string& description);
  jet::dao::Database& db_;
};

}  // namespace tallimo::phone
