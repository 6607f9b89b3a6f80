#include "jet/schema.h"

namespace jet {

bool names_equal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

int TableDef::find_column(std::string_view name) const {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (names_equal(columns[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

int TableDef::find_index(std::string_view name) const {
  for (std::size_t i = 0; i < indexes.size(); ++i) {
    if (names_equal(indexes[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

const char* column_type_name(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean: return "Boolean";
    case ColumnType::kByte: return "Byte";
    case ColumnType::kInteger: return "Integer";
    case ColumnType::kLong: return "Long Integer";
    case ColumnType::kCurrency: return "Currency";
    case ColumnType::kSingle: return "Single";
    case ColumnType::kDouble: return "Double";
    case ColumnType::kDateTime: return "DateTime";
    case ColumnType::kBinary: return "Binary";
    case ColumnType::kText: return "Text";
    case ColumnType::kOle: return "OLE";
    case ColumnType::kMemo: return "Memo";
    case ColumnType::kGuid: return "Replication ID";
    case ColumnType::kNumeric: return "Numeric";
    case ColumnType::kComplex: return "Complex";
  }
  return "Unknown";
}

}  // namespace jet
