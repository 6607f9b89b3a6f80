// A table's definition as stored in its table-definition (TDEF) pages.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "jet/value.h"

namespace jet {

struct ColumnDef {
  std::string name;
  ColumnType type = ColumnType::kText;
  // The column's number in the row layout: its bit in the null mask. Numbers
  // of deleted columns are never reused, so they may have gaps.
  uint16_t number = 0;
  // Declared size in bytes (text: 2 per character; memo/OLE: 0).
  uint16_t length = 0;
  bool fixed_length = false;       // stored in the fixed area of each row
  bool auto_number = false;        // Counter (long autonumber)
  bool auto_guid = false;          // GUID autonumber
  bool hyperlink = false;          // memo holding a hyperlink
  bool compressed_unicode = false; // text may be stored compressed
  // NOT NULL: the column's "may be Null" flag (0x02) is clear. Jet sets it
  // on every column a table is created with unless the column is declared
  // NOT NULL (mdb-reader reports the same bit as `nullable`).
  bool required = false;
  uint16_t fixed_offset = 0;       // fixed columns: byte offset in the fixed area
  uint16_t variable_index = 0;     // variable columns: entry in the row's offset table
  uint16_t sort_order = 0;         // text/memo: 0x0409 = General
  uint8_t sort_order_version = 0;  // text/memo
  uint8_t precision = 0;           // numeric (decimal)
  uint8_t scale = 0;               // numeric (decimal)
  // Raw column flags byte: 0x01 fixed, 0x02 may be Null, 0x04 autonumber,
  // 0x40 auto GUID, 0x80 hyperlink. Access's table designer keeps 0x02 set
  // and records its "Required" as a property in MSysObjects; Jet's SQL
  // NOT NULL clears 0x02.
  uint8_t flags = 0;
};

struct IndexColumnDef {
  std::string column_name;
  uint16_t column_number = 0;  // ColumnDef::number
  bool ascending = true;
};

struct IndexDef {
  std::string name;  // logical index name, e.g. "PrimaryKey"
  std::vector<IndexColumnDef> columns;
  bool primary_key = false;
  bool foreign_key = false;
  bool unique = false;
  bool ignore_nulls = false;
  bool required = false;
  uint32_t real_index = 0;   // which physical index holds its entries
  uint32_t first_page = 0;   // root page of that physical index
  uint32_t usage_map = 0;    // row pointer of the physical index's usage map
  // Foreign keys: the other table's definition page and logical index.
  uint32_t related_table_page = 0;
  int32_t related_index = -1;
  bool cascade_updates = false;
  bool cascade_deletes = false;
};

struct TableDef {
  std::string name;
  uint32_t tdef_page = 0;
  bool system = false;          // table_type 0x53 in the definition, or a system catalog flag
  uint32_t row_count = 0;       // as recorded in the definition
  uint32_t next_auto_number = 0;
  uint16_t max_columns = 0;     // columns a row may hold, deleted ones included
  uint16_t variable_columns = 0;
  uint32_t usage_map = 0;       // row pointer: pages owned by the table
  uint32_t free_space_map = 0;  // row pointer: owned pages with free space
  std::vector<ColumnDef> columns;  // in the table's display order
  std::vector<IndexDef> indexes;   // logical indexes

  // Index of the column named `name` (ASCII case-insensitive), or -1.
  int find_column(std::string_view name) const;
  // Index of the logical index named `name` (ASCII case-insensitive), or -1.
  int find_index(std::string_view name) const;
};

// ---- Describing new tables and columns (Database::create_table,
// Database::add_column) ----

struct ColumnSpec {
  std::string name;  // 1..64 characters, unique in the table (any case)
  ColumnType type = ColumnType::kText;
  // Text: characters (1..255, default 255). Binary: bytes (1..255,
  // default 255). Ignored for other types.
  uint16_t length = 0;
  bool auto_number = false;  // Counter: a long column the engine numbers
  bool auto_guid = false;    // GUID column the engine fills
  bool hyperlink = false;    // memo
  // Text and memo: store compressed when that is shorter. Jet's SQL
  // CREATE TABLE leaves it off; Access's table designer turns it on.
  bool compressed_unicode = false;
  bool required = false;   // NOT NULL (see ColumnDef::required)
  uint8_t precision = 18;  // decimal
  uint8_t scale = 0;       // decimal
};

// A column named `name` of `type` (text: `length` characters; binary:
// `length` bytes), the rest as ColumnSpec defaults it.
inline ColumnSpec column_spec(std::string name, ColumnType type, uint16_t length = 0) {
  ColumnSpec c;
  c.name = std::move(name);
  c.type = type;
  c.length = length;
  return c;
}

struct IndexColumnSpec {
  std::string column;
  bool ascending = true;
};

struct IndexSpec {
  std::string name;  // e.g. "PrimaryKey"
  std::vector<IndexColumnSpec> columns;  // 1..10
  bool primary_key = false;  // implies unique and required
  bool unique = false;
  bool ignore_nulls = false;
  bool required = false;
};

struct TableSpec {
  std::string name;  // 1..64 characters, not starting with "MSys"
  std::vector<ColumnSpec> columns;
  std::vector<IndexSpec> indexes;
};

// Readable name of a column type ("Long Integer", "Text", ...).
const char* column_type_name(ColumnType type);

// Case-insensitive (ASCII letters) name comparison, as Jet compares names.
bool names_equal(std::string_view a, std::string_view b);

}  // namespace jet
