// Every index of every table (system tables included) of every fixture file:
//   - each entry's key equals, byte for byte, encode_key over the values of
//     the row it points to (Access wrote these keys);
//   - a scan returns each row exactly once, in key order (the reader checks
//     order), and covers every row (ignore-nulls indexes: every row with a
//     non-Null key);
//   - a seek with each row's key finds that row;
//   - re-encoding each index page from its decoded form gives Access's bytes;
//   - Table::scan_index and Table::seek return what the reader returns.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "index/index_page.h"
#include "index/index_reader.h"
#include "index/key_encoding.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/table.h"
#include "table_def.h"
#include "test_util.h"

namespace jet::index {
namespace {

std::string hex(std::span<const uint8_t> b) {
  std::ostringstream s;
  for (uint8_t x : b) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02x ", x);
    s << buf;
  }
  return s.str();
}

std::vector<int> key_column_positions(const TableDef& def, const IndexLayout& l) {
  std::vector<int> pos;
  for (const KeyColumn& k : l.columns) {
    int p = -1;
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
      if (def.columns[i].number == k.column_number) p = static_cast<int>(i);
    }
    pos.push_back(p);
  }
  return pos;
}

// All index pages of a tree, from the root down (node children and tails).
std::vector<uint32_t> tree_pages(PageSource& pages, const IndexLayout& l) {
  std::vector<uint32_t> out;
  std::set<uint32_t> seen;
  std::vector<uint32_t> todo{l.first_page};
  IndexPage p;
  while (!todo.empty()) {
    uint32_t n = todo.back();
    todo.pop_back();
    if (!seen.insert(n).second) continue;
    out.push_back(n);
    decode_index_page(pages.page(n), n, pages.page_count(), pages.file_name(), l, p);
    if (!p.leaf) {
      for (std::size_t i = 0; i < p.entry_count(); ++i) todo.push_back(p.child(i));
      if (p.tail_page != 0) todo.push_back(p.tail_page);
    }
    if (p.next_page != 0) todo.push_back(p.next_page);
  }
  return out;
}

struct Summary {
  int indexes = 0;
  int entries = 0;
  int mismatched_keys = 0;
  int pages = 0;
  int pages_reencoded_differently = 0;
  std::map<std::string, int> entries_by_type;  // key column type -> entries holding a non-Null value of it
};

class FixtureIndexes : public ::testing::TestWithParam<std::string> {};

TEST_P(FixtureIndexes, EveryEntryMatchesItsRow) {
  const std::string file = GetParam();
  OpenOptions options;
  options.password = test::fixture_password(file);
  auto db = Database::open(test::fixture(file), options);
  PageSource& pages = db->pages();
  Summary sum;

  for (const TableEntry& te : db->tables(true)) {
    Table& table = db->table(te.name);
    const TableDef& def = table.def();
    if (def.indexes.empty()) continue;

    // Live rows, counted; and which key columns are all Null for each row.
    std::size_t live_rows = 0;
    for (RowCursor c = table.scan(); c.next();) ++live_rows;

    for (const IndexDef& ix : def.indexes) {
      SCOPED_TRACE(file + ": table " + def.name + ", index " + ix.name);
      const IndexLayout layout = make_index_layout(def, ix);
      const std::vector<int> positions = key_column_positions(def, layout);
      ASSERT_TRUE(std::find(positions.begin(), positions.end(), -1) == positions.end());
      ++sum.indexes;

      IndexReader reader(pages, layout);
      std::set<std::pair<uint32_t, uint8_t>> seen;
      std::vector<RowPointer> scanned;
      std::size_t null_key_rows = 0;
      Row row;
      std::vector<Value> key_values(layout.columns.size());
      std::vector<uint8_t> encoded;
      int reported = 0;
      for (IndexCursor c = reader.first(); c.valid(); c.next()) {
        const RowPointer rp = c.row();
        scanned.push_back(rp);
        ++sum.entries;
        EXPECT_TRUE(seen.insert({rp.page, rp.row}).second) << "row " << rp.page << ":" << int(rp.row) << " twice";
        ASSERT_NO_THROW(table.read_row(RowId{rp.page, rp.row}, row))
            << "entry points to row " << rp.page << ":" << int(rp.row);
        bool all_null = true;
        for (std::size_t i = 0; i < positions.size(); ++i) {
          key_values[i] = row[positions[i]];
          all_null = all_null && is_null(key_values[i]);
        }
        null_key_rows += all_null ? 1 : 0;
        for (std::size_t i = 0; i < positions.size(); ++i) {
          if (!is_null(key_values[i])) ++sum.entries_by_type[column_type_name(layout.columns[i].type)];
        }
        encoded.clear();
        append_key(layout, key_values, encoded);
        const auto stored = c.key();
        if (!std::equal(stored.begin(), stored.end(), encoded.begin(), encoded.end())) {
          ++sum.mismatched_keys;
          if (reported++ < 5) {
            ADD_FAILURE() << "key of row " << rp.page << ":" << int(rp.row) << "\n  Access:  " << hex(stored)
                          << "\n  encoded: " << hex(encoded);
          }
        }
      }
      // Each row is in the index once, except that an ignore-nulls index
      // leaves out the rows whose key is all Null (judged from the entries
      // themselves: the index flags come from the table definition reader).
      if (scanned.size() != live_rows) {
        std::size_t null_rows = 0;
        for (RowCursor c = table.scan(); c.next();) {
          bool all_null = true;
          for (int p : positions) all_null = all_null && is_null(c.row()[p]);
          null_rows += all_null ? 1 : 0;
        }
        EXPECT_EQ(null_key_rows, 0u) << "index leaves out Null keys but holds some";
        EXPECT_EQ(scanned.size() + null_rows, live_rows) << "index entries vs rows of the table";
        EXPECT_TRUE(ix.ignore_nulls) << "index skips Null keys but is not flagged ignore-nulls";
      }

      // Seek each row's key: the row is among the rows found, and the first
      // entry >= the key has exactly that key.
      for (const RowPointer& rp : scanned) {
        table.read_row(RowId{rp.page, rp.row}, row);
        for (std::size_t i = 0; i < positions.size(); ++i) key_values[i] = row[positions[i]];
        std::vector<RowPointer> found = reader.find(key_values);
        ASSERT_TRUE(std::find(found.begin(), found.end(), rp) != found.end())
            << "seek did not find row " << rp.page << ":" << int(rp.row);
      }

      // Range scans over encoded bounds return the matching slice of the
      // scan: [key a, key b) and (key a, key b], for keys a third and two
      // thirds in.
      if (scanned.size() >= 3) {
        std::vector<std::vector<uint8_t>> keys;
        for (IndexCursor c = reader.first(); c.valid(); c.next()) keys.emplace_back(c.key().begin(), c.key().end());
        const auto& a = keys[keys.size() / 3];
        const auto& b = keys[2 * keys.size() / 3];
        for (bool inclusive_from : {true, false}) {
          std::vector<RowPointer> expected;
          for (std::size_t i = 0; i < keys.size(); ++i) {
            const int ca = compare_keys(keys[i], a);
            const int cb = compare_keys(keys[i], b);
            const bool after_from = inclusive_from ? ca >= 0 : ca > 0;
            const bool before_to = inclusive_from ? cb < 0 : cb <= 0;
            if (after_from && before_to) expected.push_back(scanned[i]);
          }
          EXPECT_EQ(reader.range_bytes(a, inclusive_from, true, b, !inclusive_from, true), expected);
        }
      }

      // The engine's public index reads agree with the reader.
      std::vector<RowId> via_table = table.scan_index(ix.name);
      ASSERT_EQ(via_table.size(), scanned.size());
      for (std::size_t i = 0; i < scanned.size(); ++i) {
        ASSERT_EQ(via_table[i].page, scanned[i].page);
        ASSERT_EQ(via_table[i].row, scanned[i].row);
      }
      if (!scanned.empty()) {
        table.read_row(RowId{scanned.back().page, scanned.back().row}, row);
        for (std::size_t i = 0; i < positions.size(); ++i) key_values[i] = row[positions[i]];
        std::vector<RowId> sought = table.seek(ix.name, key_values);
        EXPECT_TRUE(std::find(sought.begin(), sought.end(), RowId{scanned.back().page, scanned.back().row}) !=
                    sought.end());
      }

      // Page images: decoding then encoding gives Access's bytes back.
      for (uint32_t n : tree_pages(pages, layout)) {
        IndexPage p;
        std::vector<uint8_t> original(pages.page(n), pages.page(n) + kPageSize);
        decode_index_page(original.data(), n, pages.page_count(), pages.file_name(), layout, p);
        std::vector<uint8_t> again(kPageSize);
        encode_index_page(p, again.data());
        const std::size_t used = kPageSize - p.free_space;
        ++sum.pages;
        if (used > kPageSize || !std::equal(again.begin(), again.begin() + used, original.begin())) {
          ++sum.pages_reencoded_differently;
          std::size_t at = 0;
          while (at < kPageSize && again[at] == original[at]) ++at;
          ADD_FAILURE() << "page " << n << " re-encodes differently (prefix " << p.prefix_length << ", entries "
                        << p.entry_count() << ", free " << p.free_space << "), first at byte " << at << ": "
                        << int(original[at]) << " vs " << int(again[at]);
        }
      }
    }
  }
  std::cout << "[ index    ] " << file << ": " << sum.indexes << " indexes, " << sum.entries << " entries, "
            << sum.mismatched_keys << " keys differ; " << sum.pages << " pages, "
            << sum.pages_reencoded_differently << " re-encode differently; non-Null keys by type:";
  for (const auto& [type, n] : sum.entries_by_type) std::cout << " " << type << " " << n << ";";
  std::cout << "\n";
}

INSTANTIATE_TEST_SUITE_P(AllFixtures, FixtureIndexes, ::testing::ValuesIn(test::fixture_files()),
                         [](const auto& info) { return test::fixture_test_name(info.param); });

}  // namespace
}  // namespace jet::index
