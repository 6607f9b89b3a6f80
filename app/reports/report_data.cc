#include "app/reports/report_data.h"

#include <algorithm>
#include <cctype>

#include "jet/dao.h"
#include "jet/error.h"
#include "jet/schema.h"

namespace tallimo::reports {
namespace {

std::optional<int64_t> money_of(const jet::Value& v) {
  if (jet::is_null(v)) return std::nullopt;
  if (auto c = std::get_if<jet::Currency>(&v)) return c->ten_thousandths;
  if (auto d = std::get_if<double>(&v)) return static_cast<int64_t>(*d * 10000.0 + (*d < 0 ? -0.5 : 0.5));
  if (auto i = std::get_if<int32_t>(&v)) return int64_t{*i} * 10000;
  if (auto i = std::get_if<int16_t>(&v)) return int64_t{*i} * 10000;
  throw jet::Error(jet::ErrorCategory::kConstraint, "a report field holds a value that is not a number");
}

std::string text_of(const jet::Value& v) {
  if (auto s = std::get_if<std::string>(&v)) return *s;
  return {};
}

// a * b of two amounts in ten-thousandths, rounded half away from zero.
int64_t times(int64_t a, int64_t b) {
  __int128 p = static_cast<__int128>(a) * b;
  __int128 q = p / 10000, r = p % 10000;
  if (r * 2 >= 10000) ++q;
  else if (r * 2 <= -10000) --q;
  return static_cast<int64_t>(q);
}

int compare_text(const std::string& a, const std::string& b) {
  std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    int x = std::tolower(static_cast<unsigned char>(a[i])), y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
}

int compare_field(const ReportRow& a, const ReportRow& b, Field f) {
  if (field_is_text(f)) return compare_text(text_value(a, f), text_value(b, f));
  auto x = number_value(a, f), y = number_value(b, f);
  if (x == y) return 0;
  if (!x) return -1;
  if (!y) return 1;
  return *x < *y ? -1 : 1;
}

void csv_field(const std::string& text, std::ostream& out) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    out << text;
    return;
  }
  out << '"';
  for (char c : text) {
    if (c == '"') out << '"';
    out << c;
  }
  out << '"';
}

const std::string kEmpty;

}  // namespace

std::vector<ReportRow> read_report_rows(const std::string& path, const std::string& table) {
  jet::dao::OpenOptions options;
  options.read_only = true;
  auto db = jet::dao::Database::open(path, options);
  auto rs = db->open_recordset(table);
  // Field positions once, not a name look-up per row.
  const char* names[] = {"Scanner_Qty",    "Orvex_Qty",    "Standard_Price", "Current_Cost", "List_Price",
                         "Item_Number",    "Description",  "Vendor_Code",    "Location"};
  std::size_t pos[9];
  std::size_t id_pos = 0;
  for (std::size_t i = 0; i < rs->field_count(); ++i) {
    if (jet::names_equal(rs->field_name(i), table + "_ID")) id_pos = i;
  }
  for (int n = 0; n < 9; ++n) {
    pos[n] = rs->field_count();
    for (std::size_t i = 0; i < rs->field_count(); ++i) {
      if (jet::names_equal(rs->field_name(i), names[n])) pos[n] = i;
    }
    if (pos[n] == rs->field_count())
      throw jet::Error(jet::ErrorCategory::kNotFound, path + ": table " + table + " has no column " + names[n]);
  }
  std::vector<ReportRow> rows;
  rows.reserve(static_cast<std::size_t>(rs->record_count()));
  for (; !rs->eof(); rs->move_next()) {
    ReportRow r;
    const jet::Value id = rs->field(id_pos);
    if (auto i = std::get_if<int32_t>(&id)) r.id = *i;
    r.scanner_qty = money_of(rs->field(pos[0]));
    r.orvex_qty = money_of(rs->field(pos[1]));
    r.standard_price = money_of(rs->field(pos[2]));
    r.current_cost = money_of(rs->field(pos[3]));
    r.list_price = money_of(rs->field(pos[4]));
    r.item_number = text_of(rs->field(pos[5]));
    r.description = text_of(rs->field(pos[6]));
    r.vendor_code = text_of(rs->field(pos[7]));
    r.location = text_of(rs->field(pos[8]));
    rows.push_back(std::move(r));
  }
  return rows;
}

std::optional<int64_t> number_value(const ReportRow& row, Field field) {
  auto zero = [](const std::optional<int64_t>& v) { return v.value_or(0); };
  switch (field) {
    case Field::kId: return int64_t{row.id} * 10000;
    case Field::kScannerQty: return row.scanner_qty;
    case Field::kOrvexQty: return row.orvex_qty;
    case Field::kStandardPrice: return row.standard_price;
    case Field::kCurrentCost: return row.current_cost;
    case Field::kListPrice: return row.list_price;
    case Field::kVariance: return zero(row.scanner_qty) - zero(row.orvex_qty);
    case Field::kVarianceValue: return times(zero(row.scanner_qty) - zero(row.orvex_qty), zero(row.current_cost));
    case Field::kStockValue: return times(zero(row.orvex_qty), zero(row.current_cost));
    case Field::kCountedValue: return times(zero(row.scanner_qty), zero(row.current_cost));
    default: return std::nullopt;
  }
}

const std::string& text_value(const ReportRow& row, Field field) {
  switch (field) {
    case Field::kItemNumber: return row.item_number;
    case Field::kDescription: return row.description;
    case Field::kVendorCode: return row.vendor_code;
    case Field::kLocation: return row.location;
    default: return kEmpty;
  }
}

std::string cell_text(const ReportRow& row, const Column& column) {
  if (field_is_text(column.field)) return text_value(row, column.field);
  auto v = number_value(row, column.field);
  return v ? format_number(*v, column.format) : std::string();
}

void sort_rows(std::vector<ReportRow>& rows, const Layout& layout) {
  std::vector<SortKey> keys;
  if (layout.group) keys.push_back({*layout.group, false});
  keys.insert(keys.end(), layout.sort.begin(), layout.sort.end());
  if (keys.empty()) return;
  std::stable_sort(rows.begin(), rows.end(), [&](const ReportRow& a, const ReportRow& b) {
    for (const SortKey& k : keys) {
      int c = compare_field(a, b, k.field);
      if (c != 0) return k.descending ? c > 0 : c < 0;
    }
    return false;
  });
}

int64_t total_value(const std::vector<ReportRow>& rows, std::size_t begin, std::size_t end, const Total& total) {
  if (total.kind == TotalKind::kCount) return static_cast<int64_t>(end - begin) * 10000;
  int64_t sum = 0;
  for (std::size_t i = begin; i < end; ++i) {
    auto v = number_value(rows[i], total.field);
    if (!v) continue;
    if (total.kind == TotalKind::kNegative && *v >= 0) continue;
    if (total.kind == TotalKind::kPositive && *v <= 0) continue;
    sum += *v;
  }
  return sum;
}

std::string total_text(int64_t value, const Total& total) { return format_number(value, total.format); }

void write_csv(const Layout& layout, const std::vector<ReportRow>& rows, std::ostream& out) {
  for (std::size_t c = 0; c < layout.columns.size(); ++c) {
    if (c) out << ',';
    csv_field(layout.columns[c].caption, out);
  }
  out << "\r\n";
  for (const ReportRow& row : rows) {
    for (std::size_t c = 0; c < layout.columns.size(); ++c) {
      if (c) out << ',';
      const Column& col = layout.columns[c];
      if (field_is_text(col.field)) {
        csv_field(text_value(row, col.field), out);
      } else if (auto v = number_value(row, col.field)) {
        NumberFormat plain{false, false, 0, 4};
        out << format_number(*v, plain);
      }
    }
    out << "\r\n";
  }
}

}  // namespace tallimo::reports
