// Where a read of the infrared scanner puts what it reads, so that no scan is lost
// to a crash and none is counted twice.
//
// A scanner file is deleted on the scanner only after its records are committed to
// POS_Scanner.MDB, and a read killed at any moment and run again counts every scan
// exactly once. Two tables of the scanner database carry that:
//
//   Scanner_Read       marks. File_Type -1: a read is in progress (set together with
//                      the emptying of Scanner_Data, removed when the read, or the
//                      posting of a synchronisation, is over). File_Type 0..4: that
//                      file's records are held and its deletion on the scanner is not
//                      confirmed yet; Records and Digest describe the read that held
//                      them.
//   Scanner_Read_Hold  the held rows: one row per item number and kind, merged as
//                      Scanner_Data merges them, indexed on (File_Type, Item_Number).
//
// One file's way (each arrow is one commit):
//   hold(i, records)  -> delete file i on the scanner -> take_in(i)
// hold() and the held rows survive a crash between the arrows. The next read of
// file i resolves them: when the scanner still holds the records that were held
// (same count at least, same records in the same order: the deletion never
// happened), the held rows are dropped and the file is held afresh from the new
// read; otherwise the scanner did delete the file, and the held rows are taken in
// first, together with holding the new read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/ir/ir_runs.h"
#include "app/ir/scanner_record.h"

namespace jet::dao {
class Database;
}

namespace tallimo::ir {

inline constexpr const char* kReadMarkTable = "Scanner_Read";
inline constexpr const char* kHoldTable = "Scanner_Read_Hold";

// A canonical text of every field of a record read, for comparing reads.
std::string record_text(const ScannerRecord& record);
// The digest of the first `count` records' texts (hex, 16 digits).
std::string records_digest(const std::vector<ScannerRecord>& records, size_t count);

class ScanStore {
 public:
  // Creates the two tables when the database lacks them. Throws jet::Error.
  explicit ScanStore(jet::dao::Database& scanner);

  // Starts a read: empties Scanner_Data and sets the in-progress mark, in one
  // commit, unless an earlier read left its mark (it was killed): then Scanner_Data
  // keeps what that read committed. Returns true when it resumes such a read.
  bool begin_read();
  // Removes the in-progress mark.
  void end_read();
  bool read_in_progress();

  // The held read of file `file`, if any.
  struct Held {
    long records = 0;
    std::string digest;
  };
  std::optional<Held> held(int16_t file);

  // Commits the read of file `file` (all its `records`, in scanner order, including
  // those without an item number, which are not stored) as held rows, resolving an
  // earlier held read of the same file as described above.
  void hold(int16_t file, const std::vector<ScannerRecord>& records);
  // Moves the held rows of `file` into Scanner_Data by the merge rule and removes
  // its mark, in one commit.
  void take_in(int16_t file);
  // Replaces the Scanner_Data rows of kind `file` with `records` merged, in one
  // commit (the product list, file 5, is never deleted on the scanner).
  void replace(int16_t file, const std::vector<ScannerRecord>& records);

 private:
  void ensure_tables();
  void merge_into_hold(int16_t file, const std::vector<ScannerRecord>& records);
  void move_held(int16_t file);
  void drop_held(int16_t file);
  jet::dao::Database& db_;
};

}  // namespace tallimo::ir
