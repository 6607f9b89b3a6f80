// The rows of one report table, read from the report database, with the
// figures worked out from them, sorted and added up as a layout says; and
// the CSV form of a report.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/reports/report_layout.h"

namespace tallimo::reports {

// One row of Comparison, Not_In_Inventory or Not_Scanned. Money and
// quantities are in ten-thousandths (the tables' currency columns); nullopt
// is a Null field.
struct ReportRow {
  int32_t id = 0;
  std::optional<int64_t> scanner_qty, orvex_qty, standard_price, current_cost, list_price;
  std::string item_number, description, vendor_code, location;
};

// Every row of `table` in the report database at `path`. Throws jet::Error.
std::vector<ReportRow> read_report_rows(const std::string& path, const std::string& table);

// A number field of a row; worked-out fields take a Null input as 0 (and
// round products of two amounts to four decimals, half away from zero).
// nullopt for a Null table field, and for text fields.
std::optional<int64_t> number_value(const ReportRow& row, Field field);
// A text field of a row; for number fields, the empty text.
const std::string& text_value(const ReportRow& row, Field field);
// What a cell of `column` shows: the text, or the number in the column's format.
std::string cell_text(const ReportRow& row, const Column& column);

// Sorts by the layout's group field first (when it has one), then its sort
// keys; texts compare without regard to case, Null numbers come first; rows
// that compare equal keep their order.
void sort_rows(std::vector<ReportRow>& rows, const Layout& layout);

// The value of a total line over rows [begin, end).
int64_t total_value(const std::vector<ReportRow>& rows, std::size_t begin, std::size_t end, const Total& total);
// The total as text: its format, or a whole number for a count.
std::string total_text(int64_t value, const Total& total);

// The report as CSV (RFC 4180, CR LF line ends, UTF-8): a line of column
// captions and a line per row, numbers plain ("-1234.5", no grouping) so
// that spreadsheets read them as numbers. Rows in the layout's order.
void write_csv(const Layout& layout, const std::vector<ReportRow>& rows, std::ostream& out);

}  // namespace tallimo::reports
