// The scanner side of the R50 simulator: its files, display and memory, and the
// answer it gives to each command frame. No I/O here; simulator.h puts it on a
// pseudo-terminal.
//
// Commands (payload = the bytes between a frame's length byte and its checksum):
//   "0" f         count of file f             -> the count right-aligned in 4 columns, CR
//   "1" f         delete every record of f    -> "True" CR
//   "2" f r "~"   read record r of file f     -> the record's fields joined by "~", CR;
//                                                "FALSE" CR when r does not exist
//   "3" f r " " fields...  append a record    -> free memory in bytes, CR;
//                                                "FALSE" CR when it does not fit
//   "4" Y X text  show text on line X (1..6)  -> "True" CR   (Y and X one digit each)
//   "5"           end synchronisation mode    -> "True" CR
//   "6" level     set the diagnostic level    -> "True" CR
// f is one digit 0..6; r is decimal. Anything malformed is answered "False" CR.
// Outside synchronisation mode the scanner answers nothing.
//
// Records are kept as they are read back: fields joined by "~". A written record's
// fields arrive separated by spaces with "~" standing for a space inside a text ("~"
// alone for an empty text). Eight fields are a product record and arrive in the
// order item, description, vendor, standard price, cost, quantity, location, list
// price; they are stored in the read order item, description, standard price, cost,
// quantity, vendor, location, list price. Other records keep their field order.
// The record number of a write is ignored: writes append.
//
// Memory: each record costs its stored length plus one byte; free memory is the
// total less that.
//
// Contents file (text, one entry per line, '#' starts a comment line):
//   memory <total bytes>
//   sync on|off
//   diagnostic <level>
//   display <line 1..6> <text up to the end of the line, spaces kept>
//   record <file 0..6> <fields joined by "~">
#pragma once

#include <array>
#include <string>
#include <vector>

namespace r50sim {

constexpr int kFileCount = 7;
constexpr int kDisplayLines = 6;

class Scanner {
 public:
  explicit Scanner(long memory_total = 1048576) : memory_total_(memory_total) {}

  // Answers one command payload. Returns the reply line (CR included), or an empty
  // string when the scanner stays silent (outside synchronisation mode).
  std::string handle(const std::string& payload);

  const std::vector<std::string>& records(int file) const { return files_.at(file); }
  void set_records(int file, std::vector<std::string> records);
  const std::string& display_line(int line) const { return display_.at(line - 1); }
  bool sync_mode() const { return sync_mode_; }
  void set_sync_mode(bool on) { sync_mode_ = on; }
  const std::string& diagnostic_level() const { return diagnostic_; }
  long memory_total() const { return memory_total_; }
  void set_memory_total(long bytes) { memory_total_ = bytes; }
  long free_memory() const;

  // Reads a contents file; throws std::runtime_error naming the file and line.
  void load(const std::string& path);
  // Writes the contents file through a temporary file and a rename.
  void save(const std::string& path) const;

 private:
  std::string write_record(int file, const std::string& fields);

  std::array<std::vector<std::string>, kFileCount> files_;
  std::array<long, kFileCount> used_{};  // bytes each file's records take, kept as they change
  std::array<std::string, kDisplayLines> display_;
  long memory_total_;
  bool sync_mode_ = true;
  std::string diagnostic_;
};

}  // namespace r50sim
