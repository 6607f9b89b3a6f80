// Reads through indexes, over every index of every fixture table: a scan
// returns each row exactly once in key order, and a seek with a row's key
// finds that row.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "index/key_encoding.h"
#include "jet/database.h"
#include "jet/error.h"
#include "table_def.h"
#include "test_util.h"

namespace jet {
namespace {

std::vector<Value> key_of(const TableDef& def, const IndexDef& ix, const Row& row) {
  std::vector<Value> key;
  for (const IndexColumnDef& ic : ix.columns) {
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
      if (def.columns[i].number == ic.column_number) key.push_back(row[i]);
    }
  }
  return key;
}

bool all_null(const std::vector<Value>& key) {
  return std::all_of(key.begin(), key.end(), [](const Value& v) { return is_null(v); });
}

class TableIndexTest : public ::testing::TestWithParam<std::string> {};

TEST_P(TableIndexTest, ScanOnceInKeyOrderAndSeekFindsEveryRow) {
  const std::string name = GetParam();
  auto db = Database::open(test::fixture(name), OpenOptions{.password = test::fixture_password(name)});
  for (const TableEntry& entry : db->tables()) {
    Table& table = db->table(entry.name);
    const TableDef& def = table.def();
    std::map<std::pair<uint32_t, uint8_t>, Row> rows;
    for (auto c = table.scan(); c.next();) rows[{c.id().page, c.id().row}] = c.row();
    // Big tables: seek with every 37th row's key.
    const std::size_t seek_step = rows.size() > 2000 ? 37 : 1;

    for (const IndexDef& ix : def.indexes) {
      SCOPED_TRACE(name + " / " + def.name + " / " + ix.name);
      const index::IndexLayout layout = make_index_layout(def, ix);
      std::vector<RowId> ids = table.scan_index(ix.name);

      std::set<std::pair<uint32_t, uint8_t>> seen;
      std::vector<uint8_t> previous, current;
      Row row;
      for (std::size_t k = 0; k < ids.size(); ++k) {
        auto id = std::make_pair(ids[k].page, ids[k].row);
        EXPECT_TRUE(seen.insert(id).second) << "row " << ids[k].page << ":" << int(ids[k].row) << " listed twice";
        ASSERT_TRUE(rows.count(id)) << "index names a row the table scan does not have";
        table.read_row(ids[k], row);
        EXPECT_EQ(row, rows[id]);
        current = index::encode_key(layout, key_of(def, ix, row));
        if (k > 0) {
          EXPECT_LE(index::compare_keys(previous, current), 0) << "entry " << k << " out of key order";
        }
        previous.swap(current);
      }
      std::size_t expected = 0;
      std::size_t n = 0;
      for (const auto& [id, r] : rows) {
        std::vector<Value> key = key_of(def, ix, r);
        if (ix.ignore_nulls && all_null(key)) {
          EXPECT_FALSE(seen.count(id)) << "ignore-nulls index lists a row whose key is Null";
          continue;
        }
        ++expected;
        EXPECT_TRUE(seen.count(id)) << "row " << id.first << ":" << int(id.second) << " missing from the index";
        if (n++ % seek_step != 0) continue;
        std::vector<RowId> found = table.seek(ix.name, key);
        EXPECT_NE(std::find(found.begin(), found.end(), RowId{id.first, id.second}), found.end())
            << "seek with the row's key misses row " << id.first << ":" << int(id.second);
        if (ix.unique && !all_null(key)) {
          EXPECT_EQ(found.size(), 1u);
        }
      }
      EXPECT_EQ(ids.size(), expected);
    }
  }
}

TEST(TableIndexErrorsTest, UnknownIndexIsNotFound) {
  auto db = Database::open(test::fixture("indexTestV2000.mdb"));
  try {
    db->table("Table1").scan_index("NoSuchIndex");
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.category(), ErrorCategory::kNotFound);
    EXPECT_NE(std::string(e.what()).find("NoSuchIndex"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, TableIndexTest, ::testing::ValuesIn(test::fixture_files()),
                         [](const auto& info) { return test::fixture_test_name(info.param); });

}  // namespace
}  // namespace jet
