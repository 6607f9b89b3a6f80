#include "independent_readers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "jet/check.h"
#include "jet/database.h"
#include "jet/value_text.h"
#include "test_util.h"

namespace jet::test {
namespace {

std::string printed(double d, const char* fmt) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, d);
  return buf;
}

// mdb-reader's dump (dump_tables.mjs) forms.
std::string reader_form(const Value& v, ColumnType type) {
  if (is_null(v)) return "\\N";
  if (auto f = std::get_if<float>(&v)) return printed(*f, "%.17g");
  if (auto d = std::get_if<double>(&v)) return printed(*d, "%.17g");
  if (auto t = std::get_if<DateTime>(&v)) return std::to_string(std::llround((t->days - 25569) * 86400.0 * 1000.0));
  std::string s = value_text(v);
  if (type == ColumnType::kCurrency || type == ColumnType::kNumeric) return trim_decimal_zeros(s);
  return s;
}

std::string reader_theirs(const std::string& field, ColumnType type) {
  if (field == "\\N") return field;
  switch (type) {
    case ColumnType::kSingle:
    case ColumnType::kDouble: return printed(std::strtod(field.c_str(), nullptr), "%.17g");
    case ColumnType::kCurrency:
    case ColumnType::kNumeric: return trim_decimal_zeros(field);
    case ColumnType::kGuid: return "{" + upper_ascii(field) + "}";
    case ColumnType::kText:
    case ColumnType::kMemo: return unescape_dump_field(field);
    default: return field;
  }
}

// mdb-export forms (it prints empty text like Null).
std::string export_form(const Value& v, ColumnType type) {
  if (is_null(v)) return "<null>";
  if (auto s = std::get_if<std::string>(&v); s && s->empty()) return "<null>";
  if (auto b = std::get_if<Bytes>(&v); b && b->data.empty()) return "<null>";
  if (auto f = std::get_if<float>(&v)) return printed(*f, "%.6g");
  if (auto d = std::get_if<double>(&v)) return printed(*d, "%.14g");
  std::string s = value_text(v);
  if (type == ColumnType::kNumeric) return trim_decimal_zeros(s);
  if (type == ColumnType::kGuid) {
    std::erase(s, '-');
    return upper_ascii(s);
  }
  return s;
}

std::string export_theirs(const CsvField& f, ColumnType type) {
  if (!f.quoted && f.text.empty()) return "<null>";
  switch (type) {
    case ColumnType::kSingle: return printed(std::strtod(f.text.c_str(), nullptr), "%.6g");
    case ColumnType::kDouble: return printed(std::strtod(f.text.c_str(), nullptr), "%.14g");
    case ColumnType::kBinary:
    case ColumnType::kOle: return upper_ascii(f.text);
    case ColumnType::kGuid: {
      // mdb-export -b hex prints the GUID's text form as hex bytes.
      std::string text;
      for (std::size_t i = 0; i + 1 < f.text.size(); i += 2) text.push_back(char(std::stoi(f.text.substr(i, 2), nullptr, 16)));
      // (mdbtools leaves out the hyphen before the last group.)
      std::erase(text, '-');
      return upper_ascii(text);
    }
    case ColumnType::kNumeric: return trim_decimal_zeros(f.text);
    default: return f.text;
  }
}

}  // namespace

std::string exact_row_text(const Row& row, const std::vector<ColumnDef>& columns) {
  std::string out;
  for (std::size_t i = 0; i < row.size() && i < columns.size(); ++i) out += reader_form(row[i], columns[i].type) + '\x1f';
  return out;
}

void expect_independent_readers_agree(const std::string& path, const std::string& password,
                                      const std::map<std::string, std::vector<Row>>& expected) {
  auto db = Database::open(path, OpenOptions{.password = password});
  CheckReport report = check_database(*db);
  for (const std::string& p : report.problems) ADD_FAILURE() << "check: " << p;
  std::string dump = run_command("node " + shell_quote(std::string(JET_NODE_DIR) + "/dump_tables.mjs") + " " +
                                 shell_quote(path) + " " + shell_quote(password));
  std::map<std::string, std::vector<std::string>> reader_rows;
  std::string current;
  for (const std::string& line : split(dump, '\n')) {
    if (line.rfind("#TABLE ", 0) == 0) {
      current = line.substr(7);
      reader_rows[current];
      continue;
    }
    if (current.empty() || line.empty()) continue;
    reader_rows[current].push_back(line);
  }
  for (const auto& entry : db->tables()) {
    SCOPED_TRACE(path + " / " + entry.name);
    Table& table = db->table(entry.name);
    const auto& cols = table.columns();
    std::vector<std::string> ours_exact, ours_export;
    std::vector<Row> ours_rows;
    for (auto c = table.scan(); c.next();) {
      ours_rows.push_back(c.row());
      ours_exact.push_back(exact_row_text(c.row(), cols));
      std::string e;
      for (std::size_t i = 0; i < cols.size(); ++i) e += export_form(c.row()[i], cols[i].type) + '\x1f';
      ours_export.push_back(e);
    }
    std::sort(ours_exact.begin(), ours_exact.end());
    std::sort(ours_export.begin(), ours_export.end());
    EXPECT_EQ(table.row_count(), ours_exact.size()) << "row count in the definition";

    // mdb-reader.
    ASSERT_TRUE(reader_rows.count(entry.name)) << "mdb-reader does not list the table";
    std::vector<std::string> theirs;
    for (const std::string& line : reader_rows[entry.name]) {
      auto f = split(line, '\t');
      ASSERT_EQ(f.size(), cols.size()) << line;
      std::string j;
      for (std::size_t i = 0; i < cols.size(); ++i) j += reader_theirs(f[i], cols[i].type) + '\x1f';
      theirs.push_back(j);
    }
    std::sort(theirs.begin(), theirs.end());
    EXPECT_EQ(ours_exact, theirs) << "mdb-reader";

    // mdb-export.
    auto csv = parse_csv(run_command("mdb-export -T '%Y-%m-%d %H:%M:%S' -b hex " + shell_quote(path) + " " +
                                     shell_quote(entry.name)));
    ASSERT_FALSE(csv.empty());
    std::vector<std::string> exported;
    for (std::size_t r = 1; r < csv.size(); ++r) {
      ASSERT_EQ(csv[r].size(), cols.size()) << "mdb-export row " << r;
      std::string j;
      for (std::size_t i = 0; i < cols.size(); ++i) j += export_theirs(csv[r][i], cols[i].type) + '\x1f';
      exported.push_back(j);
    }
    std::sort(exported.begin(), exported.end());
    EXPECT_EQ(ours_export, exported) << "mdb-export";

    auto it = expected.find(entry.name);
    if (it != expected.end()) {
      std::vector<std::string> want;
      for (const Row& r : it->second) want.push_back(exact_row_text(r, cols));
      std::sort(want.begin(), want.end());
      EXPECT_EQ(ours_exact, want) << "expected rows";
    }
  }
}

}  // namespace jet::test
