// Handheld tables as Palm database files (.PDB).
//
// File layout: the public Palm database format, all numbers big-endian.
//
//   offset  size  field
//   0       32    name, zero-terminated (we write the table name, e.g. "ADDNEW")
//   32      2     attributes (0)
//   34      2     version: major in the high byte, minor in the low byte
//   36      4     creation date      } seconds since 1904-01-01 00:00
//   40      4     modification date  }
//   44      4     last backup date (0)
//   48      4     modification number (0)
//   52      4     offset of the application info block (our column list)
//   56      4     offset of the sort info block (0: none)
//   60      4     type "DATA"
//   64      4     creator (e.g. "QTL7")
//   68      4     unique ID seed (number of records + 1)
//   72      4     next record list (0)
//   76      2     number of records N
//   78      8*N   record list: data offset (4), attributes (1), unique ID (3 bytes)
//   78+8N   2     two zero bytes (the customary gap)
//   ...           application info block, then the records, in order
//
// Our layout inside that frame (the forms application's tables):
//
//   Application info block ("column list"):
//     4 bytes "VFT1", 2 bytes column count C, then per column:
//     1 byte column kind (1 text, 2 number, 3 yes/no), the column name zero-terminated.
//   Record: a block of rows (a Palm database holds at most 65535 records, a product list
//   may have more rows): 2 bytes row count R (at least 1), then R rows. A row is one
//   field per column, in column order. A field starts with a tag byte:
//     0  null (no payload)
//     1  text: 2-byte length L, then L bytes of UTF-8
//     2  number: 8-byte IEEE-754 double
//     3  yes/no: 1 byte, 0 or 1
//   A record holds exactly R rows of C fields and nothing after them. A writer starts a
//   new record after 256 rows or before a record would pass 60,000 bytes. Every record's
//   unique ID is its position plus one; attributes are 0.
//
// Reading checks everything: sizes, offsets inside the file and in increasing order,
// the column list, every field. A file that breaks any rule is rejected with a
// jet::Error (kCorruption) naming the file, the record and what is wrong.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace tallimo::handheld {

enum class PdbColumnKind : uint8_t { kText = 1, kNumber = 2, kYesNo = 3 };

struct PdbColumn {
  std::string name;
  PdbColumnKind kind = PdbColumnKind::kText;
  friend bool operator==(const PdbColumn&, const PdbColumn&) = default;
};

// Null, text (UTF-8), number, or yes/no.
using PdbValue = std::variant<std::monostate, std::string, double, bool>;

struct PdbTable {
  std::string name;            // database name in the header (at most 31 bytes)
  std::string creator = "QTL7";  // four characters
  std::string type = "DATA";     // four characters
  uint8_t version_major = 1;
  uint8_t version_minor = 0;
  uint32_t created = 0;   // Palm time, seconds since 1904-01-01
  uint32_t modified = 0;
  std::vector<PdbColumn> columns;
  std::vector<std::vector<PdbValue>> rows;  // each row has columns.size() values
};

inline constexpr std::size_t kPdbHeaderSize = 78;
inline constexpr std::size_t kPdbMaxRecords = 65535;
inline constexpr std::size_t kPdbRowsPerRecord = 256;
inline constexpr std::size_t kPdbRecordBytes = 60000;

// The current time as Palm time.
uint32_t palm_time_now();

// The file's bytes. Throws jet::Error (kInvalidArgument) for a table that cannot be
// written: a name over 31 bytes, creator or type not four characters, a row of the
// wrong width, a value of the wrong kind, a text over 65535 bytes, a row over 60,000
// bytes, more records than a Palm database holds. `rows_per_record` (1 to 256) limits
// the rows of one record.
std::vector<uint8_t> encode_pdb(const PdbTable& table, std::size_t rows_per_record = kPdbRowsPerRecord);

// Parses a file's bytes; `file` names it in error messages. Throws jet::Error
// (kCorruption) for anything that breaks the layout above.
PdbTable decode_pdb(const std::vector<uint8_t>& bytes, const std::string& file);

// Reads and writes files. Writing goes through a temporary file beside the target,
// renamed over it, so the target is the old file or the complete new one. Throws
// jet::Error (kIo, kNotFound) naming the path.
PdbTable read_pdb_file(const std::string& path);
void write_pdb_file(const std::string& path, const PdbTable& table);

}  // namespace tallimo::handheld
