// Report layouts: the text files Comparison.rpt, NotInInventory.rpt and
// NotScanned.rpt in the application folder say what each report shows and
// how. A shop edits them in a text editor; a layout with an error is refused
// with a jet::Error naming the file, the line and the problem. The format is
// described in app/reports/LAYOUTS.md and in the comments of the default
// layouts the program writes when a file is missing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tallimo::reports {

// The fields a layout may name: the report tables' columns and the figures
// the program works out from them.
enum class Field {
  kId,              // the table's counter
  kScannerQty,      // counted quantity
  kOrvexQty,        // recorded quantity
  kItemNumber,
  kDescription,
  kVendorCode,
  kStandardPrice,
  kCurrentCost,
  kLocation,
  kListPrice,
  kVariance,        // Scanner_Qty - Orvex_Qty
  kVarianceValue,   // Variance * Current_Cost
  kStockValue,      // Orvex_Qty * Current_Cost
  kCountedValue,    // Scanner_Qty * Current_Cost
};
inline constexpr int kFieldCount = 14;

// The name a layout uses for a field ("Scanner_Qty", "Variance_Value", ...).
const char* field_name(Field field);
// The field of a name (case-insensitive), or nullopt.
std::optional<Field> field_of_name(const std::string& name);
bool field_is_text(Field field);

enum class Align { kLeft, kCenter, kRight };
enum class Overflow { kEllipsis, kWrap };

// A number pattern such as "#,##0.00", "0.####" or "+#,##0.00": a leading
// "+" shows the sign of positive numbers too, a "," groups thousands, the
// zeros after the point are decimals always shown, the "#"s decimals shown
// when not zero.
struct NumberFormat {
  bool plus_sign = false;
  bool grouping = false;
  int min_decimals = 2;
  int max_decimals = 2;
};
// Parses a pattern; nullopt when it is not one.
std::optional<NumberFormat> parse_number_format(const std::string& pattern);
// A money amount (ten-thousandths) in that format ("1,234.50", "-3", "+0.25").
// Rounds half away from zero to the shown decimals.
std::string format_number(int64_t ten_thousandths, const NumberFormat& format);

struct Column {
  Field field = Field::kItemNumber;
  std::string caption;
  double width_mm = 20;
  Align align = Align::kLeft;
  Overflow overflow = Overflow::kEllipsis;
  NumberFormat format;
};

// What a total line adds up.
enum class TotalKind { kSum, kNegative, kPositive, kCount };

struct Total {
  Field field = Field::kVarianceValue;
  TotalKind kind = TotalKind::kSum;
  std::string caption;
  NumberFormat format;
};

struct SortKey {
  Field field = Field::kItemNumber;
  bool descending = false;
};

// The three slots (left, centre, right) of a page header or footer line.
// Placeholders: {shop} {title} {date} {page} {pages} {table} {rows}.
struct Band {
  std::string left, center, right;
};

struct Layout {
  std::string file;        // where it was read from (for messages)
  std::string title;
  std::string table;       // Comparison, Not_In_Inventory or Not_Scanned
  std::string shop;        // empty: the computer's name
  bool landscape = false;
  bool letter = false;     // paper: A4 (false) or Letter
  double margin_mm = 12;
  std::string font_family = "DejaVu Sans";
  double font_size = 8;
  std::vector<SortKey> sort;
  std::optional<Field> group;
  std::string group_caption = "{value}";
  std::vector<Column> columns;
  std::vector<Total> totals;
  Band header;
  Band footer;
  // A summary page with the `summary_count` largest values of
  // `summary_field` (by size) as a bar chart; none when nullopt.
  std::optional<Field> summary_field;
  int summary_count = 15;
  std::string summary_title;
};

// The three reports of the options dialog, by index.
enum class ReportKind { kComparison = 0, kNotInInventory = 1, kNotScanned = 2 };

// "Comparison.rpt", "NotInInventory.rpt", "NotScanned.rpt".
const char* layout_file_name(ReportKind kind);
// "Comparison", "Not_In_Inventory", "Not_Scanned".
const char* report_table_name(ReportKind kind);
// The text of the default layout the program writes when the file is missing.
std::string default_layout_text(ReportKind kind);

// Parses layout text. `file` names it in error messages. Throws jet::Error
// (kSyntax) "<file>, line <n>: <problem>".
Layout parse_layout(const std::string& text, const std::string& file);

// Reads the layout at `path`; when no file is there, writes the default
// layout of `kind` to it first (so a shop finds a file to edit). Throws
// jet::Error: kIo when the file cannot be read or written, kSyntax for an
// error in it.
Layout load_layout(const std::string& path, ReportKind kind);

}  // namespace tallimo::reports
