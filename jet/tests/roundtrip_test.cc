// Round trips through the independent readers: every user table of every
// fixture is changed by this engine (rows deleted and inserted again, rows
// grown until they leave their page, rows deleted), and mdb-export and
// mdb-reader must then read exactly the rows the changes should leave.
#include <gtest/gtest.h>

#include <filesystem>

#include "independent_readers.h"
#include "jet/database.h"
#include "binary.h"
#include "data_page.h"
#include "jet/error.h"
#include "test_util.h"

namespace jet {
namespace {

namespace fs = std::filesystem;

std::string scratch_copy(const std::string& name) {
  fs::path dir = fs::temp_directory_path() / ("jet_roundtrip_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::path to = dir / fs::path(name).filename();
  fs::copy_file(test::fixture(name), to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
  return to.string();
}

// A value grown to the most its column holds (text), or longer (memo).
bool grow(const ColumnDef& c, Value& v) {
  if (c.type == ColumnType::kText && c.length >= 20) {
    std::string s = is_null(v) ? std::string() : std::get<std::string>(v);
    s.resize(c.length / 2, 'w');
    v = s;
    return true;
  }
  if (c.type == ColumnType::kMemo) {
    std::string s = is_null(v) ? std::string() : std::get<std::string>(v);
    s += std::string(300, 'm');
    v = s;
    return true;
  }
  return false;
}

bool in_unique_index(const TableDef& def, const ColumnDef& c) {
  for (const auto& ix : def.indexes) {
    if (!ix.unique) continue;
    for (const auto& ic : ix.columns)
      if (ic.column_number == c.number) return true;
  }
  return false;
}

class FixtureRoundTrip : public ::testing::TestWithParam<std::string> {};

TEST_P(FixtureRoundTrip, ChangedTablesReadBackThroughIndependentReaders) {
  const std::string name = GetParam();
  const std::string path = scratch_copy(name);
  const std::string password = test::fixture_password(name);
  std::map<std::string, std::vector<Row>> expected;
  int lookups = 0;  // rows that left their page behind a forwarding row
  {
    OpenOptions o;
    o.password = password;
    o.read_write = true;
    o.durability = Durability::kFast;
    auto db = Database::open(path, o);
    for (const auto& entry : db->tables()) {
      SCOPED_TRACE(name + " / " + entry.name);
      Table& t = db->table(entry.name);
      std::vector<std::pair<RowId, Row>> rows;
      for (auto c = t.scan(); c.next();) rows.emplace_back(c.id(), c.row());
      std::vector<Row>& want = expected[entry.name];
      if (rows.empty()) continue;
      // Delete the first row and insert it again.
      t.remove(rows[0].first);
      RowId again = t.insert(rows[0].second);
      rows[0].first = again;
      // Grow up to 40 rows: a grown text or memo value, outside unique keys.
      int grown = 0;
      for (std::size_t r = 1; r < rows.size() && grown < 40; ++r) {
        Row changed = rows[r].second;
        bool any = false;
        for (std::size_t i = 0; i < t.columns().size(); ++i) {
          if (in_unique_index(t.def(), t.columns()[i])) continue;
          any = grow(t.columns()[i], changed[i]) || any;
        }
        if (!any) break;
        t.update(rows[r].first, changed);
        rows[r].second = changed;
        ++grown;
      }
      // Delete the last row.
      if (rows.size() > 2) {
        t.remove(rows.back().first);
        rows.pop_back();
      }
      for (auto& [id, row] : rows) want.push_back(row);
      for (auto& [id, row] : rows) {
        const uint8_t* p = db->pages().page(id.page);
        if (le16(p + kDataOffRowTable + 2 * id.row) & kRowLookup) ++lookups;
      }
      // What this engine reads back right away.
      Row got;
      for (auto& [id, row] : rows) {
        t.read_row(id, got);
        EXPECT_EQ(test::exact_row_text(got, t.columns()), test::exact_row_text(row, t.columns()));
      }
    }
  }
  // Rows of these files are short: grown to full width they leave their page.
  if (name.rfind("products_", 0) == 0) {
    EXPECT_GT(lookups, 0);
  }
  test::expect_independent_readers_agree(path, password, expected);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureRoundTrip, ::testing::ValuesIn(test::fixture_files()),
                         [](const auto& info) {
                           std::string s = info.param;
                           for (char& c : s)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return s;
                         });

}  // namespace
}  // namespace jet
