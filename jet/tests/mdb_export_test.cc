// Every table of every fixture must read back value for value as mdbtools'
// mdb-export prints it. Both run at test time; the comparison normalises:
//
//   mdb-export is run as  mdb-export -T '%Y-%m-%d %H:%M:%S' -b hex FILE TABLE
//   (comma separated, text in double quotes with quotes doubled, a header
//   row, Null as an empty unquoted field, booleans as 0/1, binary as hex).
//   Each field becomes a canonical text on both sides:
//     Null                 "<null>" (mdb-export: empty and unquoted);
//                          zero-length text and memo values are "<null>"
//                          too: mdb-export prints them like Null (it
//                          cannot tell them apart; this engine can)
//     boolean, integers    decimal digits
//     currency             as printed, four decimals
//     single / double      both parsed and printed with %.6g / %.14g
//     date/time            YYYY-MM-DD HH:MM:SS
//     text, memo           the characters, UTF-8
//     binary, OLE, GUID    upper-case
//     decimal              trailing fractional zeros and a bare point dropped
//   Rows are compared as sorted lists: mdb-export lists a row that was moved
//   to an overflow page where its data now lies, this engine at the slot
//   the row keeps (the one its index entries name).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/error.h"
#include "jet/value_text.h"
#include "test_util.h"

namespace jet {
namespace {

std::string float_text(double d, bool single) {
  char buf[64];
  std::snprintf(buf, sizeof buf, single ? "%.6g" : "%.14g", d);
  return buf;
}

const std::string kNull = "<null>";

std::string canonical_mdb(const test::CsvField& f, ColumnType type) {
  if (!f.quoted && f.text.empty()) return kNull;
  switch (type) {
    case ColumnType::kSingle: return float_text(std::strtod(f.text.c_str(), nullptr), true);
    case ColumnType::kDouble: return float_text(std::strtod(f.text.c_str(), nullptr), false);
    case ColumnType::kBinary:
    case ColumnType::kOle:
    case ColumnType::kGuid: return test::upper_ascii(f.text);
    case ColumnType::kNumeric: return test::trim_decimal_zeros(f.text);
    default: return f.text;
  }
}

std::string canonical_ours(const Value& v, ColumnType type) {
  if (is_null(v)) return kNull;
  if (auto s = std::get_if<std::string>(&v); s && s->empty()) return kNull;
  if (auto f = std::get_if<float>(&v)) return float_text(*f, true);
  if (auto d = std::get_if<double>(&v)) return float_text(*d, false);
  std::string s = value_text(v);
  if (type == ColumnType::kNumeric) return test::trim_decimal_zeros(s);
  if (type == ColumnType::kGuid) return test::upper_ascii(s);
  return s;
}

std::string join(const std::vector<std::string>& fields) {
  std::string out;
  for (const auto& f : fields) {
    out += f;
    out += '\x1f';
  }
  return out;
}

class MdbExportTest : public ::testing::TestWithParam<std::string> {};

TEST_P(MdbExportTest, EveryTableReadsBackAsMdbExportPrintsIt) {
  const std::string name = GetParam();
  const std::string path = test::fixture(name);
  auto db = Database::open(path, OpenOptions{.password = test::fixture_password(name)});

  // Same user tables, same order, as mdb-tables lists them.
  std::string listed = test::run_command("mdb-tables -1 " + test::shell_quote(path));
  std::vector<std::string> theirs;
  for (std::size_t pos = 0; pos < listed.size();) {
    std::size_t end = listed.find('\n', pos);
    if (end == std::string::npos) end = listed.size();
    if (end > pos) theirs.push_back(listed.substr(pos, end - pos));
    pos = end + 1;
  }
  std::vector<std::string> ours;
  for (const auto& t : db->tables()) ours.push_back(t.name);
  EXPECT_EQ(ours, theirs);

  for (const std::string& table_name : theirs) {
    SCOPED_TRACE(name + " / " + table_name);
    Table& table = db->table(table_name);
    const auto& cols = table.columns();
    std::string csv = test::run_command("mdb-export -T '%Y-%m-%d %H:%M:%S' -b hex " + test::shell_quote(path) + " " +
                                        test::shell_quote(table_name));
    std::vector<std::vector<test::CsvField>> rows = test::parse_csv(csv);
    ASSERT_FALSE(rows.empty()) << "mdb-export printed no header";
    ASSERT_EQ(rows[0].size(), cols.size());
    for (std::size_t i = 0; i < cols.size(); ++i) EXPECT_EQ(rows[0][i].text, cols[i].name);

    std::vector<std::string> expected;
    for (std::size_t r = 1; r < rows.size(); ++r) {
      ASSERT_EQ(rows[r].size(), cols.size()) << "mdb-export row " << r;
      std::vector<std::string> fields;
      for (std::size_t i = 0; i < cols.size(); ++i) fields.push_back(canonical_mdb(rows[r][i], cols[i].type));
      expected.push_back(join(fields));
    }
    std::vector<std::string> actual;
    for (auto c = table.scan(); c.next();) {
      std::vector<std::string> fields;
      for (std::size_t i = 0; i < cols.size(); ++i) fields.push_back(canonical_ours(c.row()[i], cols[i].type));
      actual.push_back(join(fields));
    }
    std::sort(expected.begin(), expected.end());
    std::sort(actual.begin(), actual.end());
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) EXPECT_EQ(actual[i], expected[i]) << "row " << i;
    EXPECT_EQ(actual.size(), table.def().row_count) << "row count recorded in the definition";
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, MdbExportTest, ::testing::ValuesIn(test::fixture_files()),
                         [](const auto& info) { return test::fixture_test_name(info.param); });

}  // namespace
}  // namespace jet
