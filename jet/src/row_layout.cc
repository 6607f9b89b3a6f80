#include "row_layout.h"

#include <algorithm>

#include "binary.h"

namespace jet {

uint16_t fixed_column_size(ColumnType t) {
  switch (t) {
    case ColumnType::kBoolean: return 1;
    case ColumnType::kByte: return 1;
    case ColumnType::kInteger: return 2;
    case ColumnType::kLong: return 4;
    case ColumnType::kCurrency: return 8;
    case ColumnType::kSingle: return 4;
    case ColumnType::kDouble: return 8;
    case ColumnType::kDateTime: return 8;
    case ColumnType::kGuid: return 16;
    case ColumnType::kNumeric: return 17;
    case ColumnType::kComplex: return 4;
    default: return 0;
  }
}

RowShape::RowShape(const TableDef& table) {
  columns.reserve(table.columns.size());
  uint16_t current_variable = 0;
  for (const ColumnDef& c : table.columns) {
    ColumnShape s;
    s.type = c.type;
    s.number = c.number;
    s.fixed_offset = c.fixed_offset;
    s.variable_index = c.variable_index;
    s.length = c.length;
    s.fixed = c.fixed_length || c.type == ColumnType::kBoolean;
    if (!s.fixed) {
      has_variable = true;
      ++current_variable;
      first_variable_number = std::min(first_variable_number, s.number);
    }
    columns.push_back(s);
  }
  if (table.variable_columns > 0) has_variable = true;
  has_deleted_variable = table.variable_columns > current_variable;
}

std::string split_row(const uint8_t* row, std::size_t size, const RowShape& shape, std::vector<FieldSpan>& out) {
  out.resize(shape.columns.size());
  if (size < 2) return "the row is shorter than its column count";
  const uint32_t stored = le16(row);
  const std::size_t mask_size = (stored + 7) / 8;
  if (2 + mask_size > size) return "the row's null mask runs past its end";
  const uint8_t* mask = row + size - mask_size;
  std::size_t var_count = 0;
  std::size_t var_table = 0;  // offset of entry 0 of the variable offset table
  std::size_t eod = size - mask_size;
  const bool has_variable_section =
      shape.has_variable && (shape.has_deleted_variable || stored > shape.first_variable_number);
  if (has_variable_section) {
    if (size < mask_size + 4) return "the row is too short for its variable-column table";
    var_count = le16(row + size - mask_size - 2);
    if (2 * var_count + 4 + mask_size + 2 > size) return "the row's variable-column table runs past its start";
    var_table = size - mask_size - 4;
    eod = le16(row + var_table - 2 * var_count);
    if (eod > var_table - 2 * var_count || eod < 2) return "the row's end-of-data offset is out of range";
  }
  for (std::size_t i = 0; i < shape.columns.size(); ++i) {
    const ColumnShape& c = shape.columns[i];
    FieldSpan& f = out[i];
    f.offset = 0;
    f.length = 0;
    f.flag = false;
    f.is_null = true;
    const bool present = c.number < stored;
    const bool bit = present && ((mask[c.number >> 3] >> (c.number & 7)) & 1) != 0;
    if (c.type == ColumnType::kBoolean) {
      f.is_null = false;
      f.flag = bit;
      continue;
    }
    if (!bit) continue;
    if (c.fixed) {
      std::size_t start = 2u + c.fixed_offset;
      if (start + c.length > eod) {
        return "fixed column " + std::to_string(c.number) + " runs past the row's data";
      }
      f.offset = static_cast<uint16_t>(start);
      f.length = c.length;
      f.is_null = false;
    } else {
      if (c.variable_index >= var_count) continue;
      std::size_t start = le16(row + var_table - 2 * c.variable_index);
      std::size_t end = (c.variable_index + 1u == var_count) ? eod : le16(row + var_table - 2 * (c.variable_index + 1));
      if (start > end || end > eod || start < 2) {
        return "variable column " + std::to_string(c.number) + " has impossible offsets " + std::to_string(start) +
               ".." + std::to_string(end);
      }
      f.offset = static_cast<uint16_t>(start);
      f.length = static_cast<uint16_t>(end - start);
      f.is_null = false;
    }
  }
  return {};
}

}  // namespace jet
