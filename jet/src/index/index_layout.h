// Internal: what the index module needs to know about one index of a table.
//
// The catalog fills it from the table definition (a "logical" index that names
// a "real" index, and the real index's column list, first page and flags);
// the index module encodes keys and walks index pages from it alone.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/value.h"

namespace jet::index {

struct KeyColumn {
  uint16_t column_number = 0;  // the column's number in the table definition
  ColumnType type = ColumnType::kLong;
  bool ascending = true;
  uint16_t sort_order = 0x0409;  // text columns: 0x0409 is "General"
  bool fixed_length = true;      // false for variable-length columns
  uint8_t scale = 0;             // decimal columns: digits after the point
  uint8_t precision = 18;        // decimal columns: total digits
};

struct IndexLayout {
  std::string name;               // the logical index's name, for messages
  std::string table_name;         // for messages
  std::vector<KeyColumn> columns; // in key order, at most 10
  uint32_t first_page = 0;        // root page of the index tree
  uint32_t usage_map = 0;         // row pointer (page << 8 | row) of its usage map
  uint32_t tdef_page = 0;         // the table definition's page; index pages name it
                                  // (0: not checked)
  bool unique = false;
  bool ignore_nulls = false;
  bool required = false;
  bool primary_key = false;
  bool foreign_key = false;
};

// Where a row lives: data page and row number within the page.
struct RowPointer {
  uint32_t page = 0;
  uint8_t row = 0;
  friend bool operator==(const RowPointer&, const RowPointer&) = default;
};

}  // namespace jet::index
