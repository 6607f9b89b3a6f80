// Internal: where each column's bytes lie inside one stored Jet 4 row.
//
// Jet 4 row layout (offsets from the row's first byte; "end" = one past the
// row's last byte; n = stored column count, m = stored variable columns):
//
//   offset                 size     field                      known from
//   0                      2        n, columns in this row      H, F
//   2 + fixed_offset       length   each fixed column present   H, F
//                                   (fixed_offset from the TDEF)
//   ...                             variable column data
//   end-nm-4-2m            2        end of variable data (eod)  H, F
//   end-nm-4-2(m-1) ..     2 each   start of variable column    H, F
//     end-nm-4                      k, stored in reverse order
//   end-nm-2               2        m (present only when the    H, F
//                                   table has variable columns)
//   end-nm                 nm       null mask, nm = (n+7)/8;    H, F
//                                   bit = column number, LSB
//                                   first; 1 = not null; for
//                                   booleans the bit is the
//                                   value
//
// A column whose number is >= n, or a variable column whose table index is
// >= m, was added after the row was written and reads as null. Deleted
// columns keep their slots (fixed offsets and variable indexes are never
// reused), which is why both come from the TDEF rather than from counting.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/schema.h"

namespace jet {

struct ColumnShape {
  ColumnType type;
  uint16_t number;
  uint16_t fixed_offset;
  uint16_t variable_index;
  uint16_t length;
  bool fixed;
};

// Per-table precomputation of ColumnShape, in TableDef::columns order.
// Bytes a fixed-size column of type `t` takes in a row (a boolean's
// definition records 1, though its value lives in the null mask); 0 for
// variable-size types.
uint16_t fixed_column_size(ColumnType t);

struct RowShape {
  std::vector<ColumnShape> columns;
  bool has_variable = false;
  // Rows written while the table had no variable-length column carry no
  // variable section at all; a variable column added later is Null in them.
  // A row holds the section when its stored column count reaches the first
  // variable column, or when deleted variable columns may have used it.
  uint16_t first_variable_number = UINT16_MAX;
  bool has_deleted_variable = false;
  explicit RowShape(const TableDef& table);
};

// One column's bytes in a row. A boolean's value is `flag`, never null.
struct FieldSpan {
  uint16_t offset = 0;
  uint16_t length = 0;
  bool is_null = true;
  bool flag = false;  // booleans: the value
};

// Splits `row` (`size` bytes) into spans, one per shape column, into `out`
// (resized as needed; reuse it across rows to avoid allocation). Returns an
// empty string on success, otherwise what is wrong with the row's bytes.
std::string split_row(const uint8_t* row, std::size_t size, const RowShape& shape, std::vector<FieldSpan>& out);

}  // namespace jet
