// A second independent reader: every table of every fixture reads back as
// mdb-reader (npm) sees it. Unlike mdb-export, mdb-reader tells empty text
// from Null, so this comparison is exact there. Canonical field forms:
//   Null "\N"; boolean 1/0; integers as digits; single/double printed with
//   %.17g on both sides (mdb-reader widens a single to double, as we do
//   here); currency and decimal as text with trailing fractional zeros
//   dropped; date/time as milliseconds since 1970-01-01 UTC computed from
//   the stored day count; binary/OLE/GUID upper-case; text as is.
// Rows are compared as sorted lists (mdb-reader, like mdb-export, lists a
// row moved to an overflow page where its data lies).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

#include "jet/database.h"
#include "jet/value_text.h"
#include "test_util.h"

namespace jet {
namespace {

std::string g17(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g", d);
  return buf;
}

std::string canonical_theirs(const std::string& field, ColumnType type) {
  if (field == "\\N") return "\\N";
  switch (type) {
    case ColumnType::kSingle:
    case ColumnType::kDouble: return g17(std::strtod(field.c_str(), nullptr));
    case ColumnType::kCurrency:
    case ColumnType::kNumeric: return test::trim_decimal_zeros(field);
    case ColumnType::kText:
    case ColumnType::kMemo: return test::unescape_dump_field(field);
    default: return field;
  }
}

std::string canonical_ours(const Value& v, ColumnType type) {
  if (is_null(v)) return "\\N";
  if (auto f = std::get_if<float>(&v)) return g17(*f);
  if (auto d = std::get_if<double>(&v)) return g17(*d);
  if (auto t = std::get_if<DateTime>(&v)) {
    return std::to_string(std::llround((t->days - 25569) * 86400.0 * 1000.0));
  }
  std::string s = value_text(v);
  if (type == ColumnType::kCurrency || type == ColumnType::kNumeric) return test::trim_decimal_zeros(s);
  return s;
}

class MdbReaderTest : public ::testing::TestWithParam<std::string> {};

TEST_P(MdbReaderTest, EveryTableReadsBackAsMdbReaderSeesIt) {
  const std::string name = GetParam();
  const std::string path = test::fixture(name);
  const std::string password = test::fixture_password(name);
  std::string dump = test::run_command("node " + test::shell_quote(std::string(JET_NODE_DIR) + "/dump_tables.mjs") +
                                       " " + test::shell_quote(path) + " " + test::shell_quote(password));
  // Split into tables of tab-separated rows.
  std::map<std::string, std::vector<std::vector<std::string>>> theirs;
  std::vector<std::string> order;
  std::vector<std::vector<std::string>>* current = nullptr;
  for (std::size_t pos = 0; pos < dump.size();) {
    std::size_t end = dump.find('\n', pos);
    if (end == std::string::npos) end = dump.size();
    std::string line = dump.substr(pos, end - pos);
    pos = end + 1;
    if (line.rfind("#TABLE ", 0) == 0) {
      order.push_back(line.substr(7));
      current = &theirs[order.back()];
      continue;
    }
    if (current == nullptr && line.empty()) continue;  // no tables at all
    ASSERT_NE(current, nullptr) << "row before any table";
    current->push_back(test::split(line, '\t'));
  }

  auto db = Database::open(path, OpenOptions{.password = password});
  std::vector<std::string> ours_order;
  for (const auto& t : db->tables()) ours_order.push_back(t.name);
  EXPECT_EQ(ours_order, order);

  for (const std::string& table_name : order) {
    SCOPED_TRACE(name + " / " + table_name);
    Table& table = db->table(table_name);
    const auto& cols = table.columns();
    std::vector<std::string> expected, actual;
    for (const auto& row : theirs[table_name]) {
      ASSERT_EQ(row.size(), cols.size());
      std::string joined;
      for (std::size_t i = 0; i < cols.size(); ++i) joined += canonical_theirs(row[i], cols[i].type) + '\x1f';
      expected.push_back(joined);
    }
    for (auto c = table.scan(); c.next();) {
      std::string joined;
      for (std::size_t i = 0; i < cols.size(); ++i) joined += canonical_ours(c.row()[i], cols[i].type) + '\x1f';
      actual.push_back(joined);
    }
    std::sort(expected.begin(), expected.end());
    std::sort(actual.begin(), actual.end());
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) EXPECT_EQ(actual[i], expected[i]) << "row " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, MdbReaderTest, ::testing::ValuesIn(test::fixture_files()),
                         [](const auto& info) { return test::fixture_test_name(info.param); });

}  // namespace
}  // namespace jet
