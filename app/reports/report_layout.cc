#include "app/reports/report_layout.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "jet/error.h"

namespace tallimo::reports {
namespace {

constexpr const char* kFieldNames[kFieldCount] = {
    "ID",           "Scanner_Qty", "Orvex_Qty",      "Item_Number",   "Description",
    "Vendor_Code",  "Standard_Price", "Current_Cost", "Location",     "List_Price",
    "Variance",     "Variance_Value", "Stock_Value",  "Counted_Value"};

bool iequals(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

struct Token {
  std::string text;
  bool quoted = false;
};

// One line's layout error.
[[noreturn]] void fail(const std::string& file, int line, const std::string& problem) {
  throw jet::Error(jet::ErrorCategory::kSyntax, file + ", line " + std::to_string(line) + ": " + problem);
}

// Splits a line into words and "quoted texts" ("" inside quotes is one ").
std::vector<Token> tokenize(const std::string& line, const std::string& file, int number) {
  std::vector<Token> out;
  std::size_t i = 0;
  while (i < line.size()) {
    if (std::isspace(static_cast<unsigned char>(line[i]))) {
      ++i;
      continue;
    }
    Token t;
    if (line[i] == '"') {
      t.quoted = true;
      ++i;
      for (;;) {
        if (i >= line.size()) fail(file, number, "a quoted text is not closed (a \" is missing)");
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            t.text += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        t.text += line[i++];
      }
    } else {
      while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) {
        if (line[i] == '"') {
          // key="quoted value"
          std::size_t close = line.find('"', i + 1);
          if (close == std::string::npos) fail(file, number, "a quoted text is not closed (a \" is missing)");
          t.text += line.substr(i + 1, close - i - 1);
          i = close + 1;
          continue;
        }
        t.text += line[i++];
      }
    }
    out.push_back(std::move(t));
  }
  return out;
}

std::optional<double> number_of(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

NumberFormat default_format(Field field) {
  NumberFormat f;
  f.grouping = true;
  if (field == Field::kScannerQty || field == Field::kOrvexQty || field == Field::kVariance) {
    f.min_decimals = 0;
    f.max_decimals = 4;
  }
  if (field == Field::kVariance) f.plus_sign = true;
  if (field == Field::kId) f.min_decimals = f.max_decimals = 0, f.grouping = false;
  return f;
}

class Parser {
 public:
  Parser(const std::string& file) : file_(file) { layout_.file = file; }

  Layout run(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
      ++number_;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::size_t first = line.find_first_not_of(" \t");
      if (first == std::string::npos || line[first] == '#') continue;
      std::vector<Token> words = tokenize(line, file_, number_);
      statement(words);
    }
    if (layout_.table.empty()) fail(file_, number_, "the layout names no table (a line \"table Comparison\" is missing)");
    if (layout_.columns.empty()) fail(file_, number_, "the layout has no column line");
    return layout_;
  }

 private:
  [[noreturn]] void error(const std::string& problem) { fail(file_, number_, problem); }

  Field field(const Token& t) {
    auto f = field_of_name(t.text);
    if (!f) {
      std::string names;
      for (const char* n : kFieldNames) names += std::string(names.empty() ? "" : ", ") + n;
      error("unknown field \"" + t.text + "\" (fields: " + names + ")");
    }
    return *f;
  }

  void want(const std::vector<Token>& w, std::size_t min, std::size_t max, const char* usage) {
    if (w.size() < min || w.size() > max) error(std::string("expected ") + usage);
  }

  NumberFormat format(const std::string& pattern) {
    auto f = parse_number_format(pattern);
    if (!f) error("\"" + pattern + "\" is not a number format (for example #,##0.00 or +0.##)");
    return *f;
  }

  void statement(const std::vector<Token>& w) {
    const std::string& key = w[0].text;
    if (iequals(key, "title")) {
      want(w, 2, 2, "title \"text\"");
      layout_.title = w[1].text;
    } else if (iequals(key, "table")) {
      want(w, 2, 2, "table Comparison|Not_In_Inventory|Not_Scanned");
      if (!iequals(w[1].text, "Comparison") && !iequals(w[1].text, "Not_In_Inventory") &&
          !iequals(w[1].text, "Not_Scanned"))
        error("unknown table \"" + w[1].text + "\" (tables: Comparison, Not_In_Inventory, Not_Scanned)");
      layout_.table = w[1].text;
    } else if (iequals(key, "shop")) {
      want(w, 2, 2, "shop \"name\"");
      layout_.shop = w[1].text;
    } else if (iequals(key, "page")) {
      want(w, 2, 3, "page A4|Letter [portrait|landscape]");
      if (iequals(w[1].text, "A4")) layout_.letter = false;
      else if (iequals(w[1].text, "Letter")) layout_.letter = true;
      else error("unknown paper \"" + w[1].text + "\" (A4 or Letter)");
      if (w.size() == 3) {
        if (iequals(w[2].text, "landscape")) layout_.landscape = true;
        else if (iequals(w[2].text, "portrait")) layout_.landscape = false;
        else error("unknown orientation \"" + w[2].text + "\" (portrait or landscape)");
      }
    } else if (iequals(key, "margins")) {
      want(w, 2, 2, "margins MILLIMETRES");
      auto v = number_of(w[1].text);
      if (!v || *v < 0 || *v > 50) error("margins must be a number of millimetres from 0 to 50, not \"" + w[1].text + "\"");
      layout_.margin_mm = *v;
    } else if (iequals(key, "font")) {
      want(w, 3, 3, "font \"family\" SIZE");
      auto v = number_of(w[2].text);
      if (!v || *v < 4 || *v > 24) error("the font size must be from 4 to 24 points, not \"" + w[2].text + "\"");
      layout_.font_family = w[1].text;
      layout_.font_size = *v;
    } else if (iequals(key, "sort")) {
      if (w.size() < 2) error("expected sort FIELD [-FIELD ...] (a leading - sorts descending)");
      layout_.sort.clear();
      for (std::size_t i = 1; i < w.size(); ++i) {
        SortKey k;
        Token t = w[i];
        if (!t.text.empty() && t.text[0] == '-') {
          k.descending = true;
          t.text.erase(0, 1);
        }
        k.field = field(t);
        layout_.sort.push_back(k);
      }
    } else if (iequals(key, "group")) {
      want(w, 2, 3, "group FIELD [\"caption with {value}\"]");
      layout_.group = field(w[1]);
      if (w.size() == 3) layout_.group_caption = w[2].text;
    } else if (iequals(key, "column")) {
      column(w);
    } else if (iequals(key, "total")) {
      want(w, 4, 5, "total FIELD sum|negative|positive|count \"caption\" [FORMAT]");
      Total t;
      t.field = field(w[1]);
      const std::string& k = w[2].text;
      if (iequals(k, "sum")) t.kind = TotalKind::kSum;
      else if (iequals(k, "negative")) t.kind = TotalKind::kNegative;
      else if (iequals(k, "positive")) t.kind = TotalKind::kPositive;
      else if (iequals(k, "count")) t.kind = TotalKind::kCount;
      else error("unknown total \"" + k + "\" (sum, negative, positive or count)");
      if (t.kind != TotalKind::kCount && field_is_text(t.field))
        error("cannot add up the text field " + std::string(field_name(t.field)));
      t.caption = w[3].text;
      t.format = w.size() == 5 ? format(w[4].text) : default_format(t.field);
      if (t.kind == TotalKind::kCount) t.format = NumberFormat{false, true, 0, 0};
      layout_.totals.push_back(t);
    } else if (iequals(key, "header") || iequals(key, "footer")) {
      want(w, 4, 4, "header|footer \"left\" \"centre\" \"right\"");
      Band& b = iequals(key, "header") ? layout_.header : layout_.footer;
      b = Band{w[1].text, w[2].text, w[3].text};
    } else if (iequals(key, "summary")) {
      want(w, 3, 4, "summary FIELD COUNT [\"title\"]");
      layout_.summary_field = field(w[1]);
      if (field_is_text(*layout_.summary_field)) error("a summary chart needs a number field");
      auto n = number_of(w[2].text);
      if (!n || *n < 1 || *n > 40 || *n != std::floor(*n)) error("the summary count must be a whole number from 1 to 40");
      layout_.summary_count = static_cast<int>(*n);
      if (w.size() == 4) layout_.summary_title = w[3].text;
    } else {
      error("unknown line \"" + key +
            "\" (lines: title, table, shop, page, margins, font, sort, group, column, total, header, footer, summary)");
    }
  }

  void column(const std::vector<Token>& w) {
    if (w.size() < 4) error("expected column FIELD \"caption\" WIDTH_MM [align=...] [format=...] [overflow=...]");
    Column c;
    c.field = field(w[1]);
    c.caption = w[2].text;
    auto width = number_of(w[3].text);
    if (!width || *width < 3 || *width > 400) error("the column width must be from 3 to 400 millimetres, not \"" + w[3].text + "\"");
    c.width_mm = *width;
    const bool text = field_is_text(c.field);
    c.align = text ? Align::kLeft : Align::kRight;
    c.format = default_format(c.field);
    for (std::size_t i = 4; i < w.size(); ++i) {
      const std::string& option = w[i].text;
      std::size_t eq = option.find('=');
      if (eq == std::string::npos) error("expected NAME=VALUE, not \"" + option + "\" (align, format, overflow)");
      std::string name = option.substr(0, eq), value = option.substr(eq + 1);
      if (iequals(name, "align")) {
        if (iequals(value, "left")) c.align = Align::kLeft;
        else if (iequals(value, "right")) c.align = Align::kRight;
        else if (iequals(value, "center") || iequals(value, "centre")) c.align = Align::kCenter;
        else error("unknown alignment \"" + value + "\" (left, center or right)");
      } else if (iequals(name, "format")) {
        if (text) error("a number format on the text field " + std::string(field_name(c.field)));
        c.format = format(value);
      } else if (iequals(name, "overflow")) {
        if (iequals(value, "wrap")) c.overflow = Overflow::kWrap;
        else if (iequals(value, "ellipsis")) c.overflow = Overflow::kEllipsis;
        else error("unknown overflow \"" + value + "\" (wrap or ellipsis)");
      } else {
        error("unknown column option \"" + name + "\" (align, format, overflow)");
      }
    }
    layout_.columns.push_back(c);
  }

  std::string file_;
  int number_ = 0;
  Layout layout_;
};

}  // namespace

const char* field_name(Field field) { return kFieldNames[static_cast<int>(field)]; }

std::optional<Field> field_of_name(const std::string& name) {
  for (int i = 0; i < kFieldCount; ++i) {
    if (iequals(name, kFieldNames[i])) return static_cast<Field>(i);
  }
  // Each table's counter under its own name.
  if (iequals(name, "Comparison_ID") || iequals(name, "Not_In_Inventory_ID") || iequals(name, "Not_Scanned_ID"))
    return Field::kId;
  return std::nullopt;
}

bool field_is_text(Field field) {
  return field == Field::kItemNumber || field == Field::kDescription || field == Field::kVendorCode ||
         field == Field::kLocation;
}

std::optional<NumberFormat> parse_number_format(const std::string& pattern) {
  NumberFormat f;
  std::size_t i = 0;
  if (i < pattern.size() && pattern[i] == '+') {
    f.plus_sign = true;
    ++i;
  }
  bool digit = false;
  for (; i < pattern.size() && pattern[i] != '.'; ++i) {
    char c = pattern[i];
    if (c == ',') f.grouping = true;
    else if (c == '#' || c == '0') digit = true;
    else return std::nullopt;
  }
  if (!digit) return std::nullopt;
  f.min_decimals = f.max_decimals = 0;
  if (i < pattern.size()) {
    ++i;
    bool hashes = false;
    for (; i < pattern.size(); ++i) {
      if (pattern[i] == '0' && !hashes) ++f.min_decimals;
      else if (pattern[i] == '#') hashes = true;
      else return std::nullopt;
      ++f.max_decimals;
    }
  }
  if (f.max_decimals > 4) return std::nullopt;
  return f;
}

std::string format_number(int64_t ten_thousandths, const NumberFormat& format) {
  const bool negative = ten_thousandths < 0;
  // Magnitude in unsigned arithmetic: the smallest int64 has no positive twin.
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(ten_thousandths) : static_cast<uint64_t>(ten_thousandths);
  uint64_t step = 1;
  for (int i = format.max_decimals; i < 4; ++i) step *= 10;
  magnitude = (magnitude / step + (magnitude % step * 2 >= step ? 1 : 0)) * step;
  uint64_t whole = magnitude / 10000, fraction = magnitude % 10000;
  std::string digits = std::to_string(whole);
  if (format.grouping) {
    for (int pos = static_cast<int>(digits.size()) - 3; pos > 0; pos -= 3) digits.insert(pos, ",");
  }
  char frac[8];
  std::snprintf(frac, sizeof frac, "%04llu", static_cast<unsigned long long>(fraction));
  std::string decimals(frac, frac + format.max_decimals);
  while (static_cast<int>(decimals.size()) > format.min_decimals && decimals.back() == '0') decimals.pop_back();
  std::string out;
  if (negative && magnitude != 0) out = "-";
  else if (format.plus_sign && magnitude != 0) out = "+";
  out += digits;
  if (!decimals.empty()) out += "." + decimals;
  return out;
}

const char* layout_file_name(ReportKind kind) {
  switch (kind) {
    case ReportKind::kComparison: return "Comparison.rpt";
    case ReportKind::kNotInInventory: return "NotInInventory.rpt";
    case ReportKind::kNotScanned: return "NotScanned.rpt";
  }
  return "";
}

const char* report_table_name(ReportKind kind) {
  switch (kind) {
    case ReportKind::kComparison: return "Comparison";
    case ReportKind::kNotInInventory: return "Not_In_Inventory";
    case ReportKind::kNotScanned: return "Not_Scanned";
  }
  return "";
}

Layout parse_layout(const std::string& text, const std::string& file) { return Parser(file).run(text); }

Layout load_layout(const std::string& path, ReportKind kind) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    std::ofstream out(path, std::ios::binary);
    out << default_layout_text(kind);
    out.close();
    if (!out) throw jet::Error(jet::ErrorCategory::kIo, path + ": the default report layout could not be written");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) throw jet::Error(jet::ErrorCategory::kIo, path + ": the report layout could not be read");
  std::ostringstream text;
  text << in.rdbuf();
  return parse_layout(text.str(), path);
}

}  // namespace tallimo::reports
