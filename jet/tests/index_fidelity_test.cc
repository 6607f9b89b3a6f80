// Index fidelity against the indexes Access wrote.
//
// For every indexed table of the index fixtures (and the products database):
//   - Rebuilt: the table's rows, inserted in storage order into fresh
//     indexes by our writer (pages in memory, the rows' own row pointers),
//     give exactly Access's entries in Access's order, and trees that keep
//     every layout rule (tree_check in memory_file.h).
//   - Reinserted: a copy of the file with every row deleted through
//     Table::remove and inserted again through Table::insert has, in each
//     index, Access's keys in Access's order (the rows get new row
//     pointers; rows with equal keys keep their order because they are
//     re-inserted in storage order onto fresh pages).
// Page layouts may differ from Access's: Access builds an index that is
// created over existing rows in bulk (the products fixture: leaves split
// 250/250 and 250/125/125), while re-inserting row by row splits as Access
// does on inserts. The tests compare entry sequences, and report the
// leaf counts of both (RecordProperty) for the record.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "index/index_page.h"
#include "index/index_reader.h"
#include "index/index_writer.h"
#include "index/key_encoding.h"
#include "check.h"
#include "index/memory_file.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/table.h"
#include "jet/transaction.h"
#include "table_def.h"
#include "usage_map.h"
#include "test_util.h"

namespace jet::index {
namespace {

struct IndexEntry {
  std::vector<uint8_t> key;
  RowPointer row;
};

std::vector<IndexEntry> entries_of(PageSource& pages, const IndexLayout& layout) {
  IndexReader reader(pages, layout);
  std::vector<IndexEntry> out;
  for (IndexCursor c = reader.first(); c.valid(); c.next()) {
    out.push_back({std::vector<uint8_t>(c.key().begin(), c.key().end()), c.row()});
  }
  return out;
}

// The shape of a tree, level by level: per page its kind, entry count,
// prefix length, free space and whether it names a tail page.
std::string tree_shape(PageSource& pages, const IndexLayout& layout) {
  std::string out;
  std::vector<uint32_t> level{layout.first_page};
  IndexPage p;
  while (!level.empty()) {
    std::vector<uint32_t> below;
    for (uint32_t n : level) {
      decode_index_page(pages.page(n), n, pages.page_count(), pages.file_name(), layout, p);
      out += (p.leaf ? "L" : "I") + std::to_string(p.entry_count()) + "/p" + std::to_string(p.prefix_length) + "/f" +
             std::to_string(p.free_space) + (p.tail_page != 0 ? "/t " : " ");
      if (!p.leaf) {
        for (std::size_t i = 0; i < p.entry_count(); ++i) below.push_back(p.child(i));
        if (p.tail_page != 0) below.push_back(p.tail_page);
      }
    }
    out += "| ";
    level = below;
  }
  return out;
}

// Leaves of the tree (for the record).
std::size_t leaf_count(PageSource& pages, const IndexLayout& layout) {
  IndexReader reader(pages, layout);
  auto path = reader.leaf_path({});
  if (path.empty()) return 0;
  std::size_t n = 0;
  IndexPage p;
  for (uint32_t page = path.back(); page != 0 && n <= pages.page_count(); page = p.next_page) {
    decode_index_page(pages.page(page), page, pages.page_count(), pages.file_name(), layout, p);
    ++n;
  }
  return n;
}

std::vector<int> key_positions(const TableDef& def, const IndexLayout& layout) {
  std::vector<int> pos;
  for (const KeyColumn& k : layout.columns) {
    int p = -1;
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
      if (def.columns[i].number == k.column_number) p = static_cast<int>(i);
    }
    pos.push_back(p);
  }
  return pos;
}

std::vector<Value> key_values(const Row& row, const std::vector<int>& positions) {
  std::vector<Value> v;
  for (int p : positions) v.push_back(row[static_cast<std::size_t>(p)]);
  return v;
}

// The real indexes of a table: one layout per distinct root page.
std::vector<IndexLayout> real_indexes(const TableDef& def) {
  std::vector<IndexLayout> out;
  std::set<uint32_t> roots;
  for (const IndexDef& ix : def.indexes) {
    if (!roots.insert(ix.first_page).second) continue;
    out.push_back(make_index_layout(def, ix));
  }
  return out;
}

const std::vector<std::string> kIndexFixtures = {
    "indexTestV2000.mdb",      "compIndexTestV2000.mdb",       "bigIndexTestV2000.mdb",
    "indexCursorTestV2000.mdb", "testIndexPropertiesV2000.mdb", "products_small.mdb",
};

class IndexFidelity : public ::testing::TestWithParam<std::string> {};

TEST_P(IndexFidelity, RebuiltIndexesHoldAccessEntriesInAccessOrder) {
  const std::string file = GetParam();
  OpenOptions options;
  options.password = test::fixture_password(file);
  auto db = Database::open(test::fixture(file), options);
  int indexes = 0;
  for (const TableEntry& te : db->tables()) {
    Table& table = db->table(te.name);
    for (IndexLayout layout : real_indexes(table.def())) {
      SCOPED_TRACE(te.name + "." + layout.name);
      const std::vector<IndexEntry> access = entries_of(db->pages(), layout);
      const std::vector<int> positions = key_positions(table.def(), layout);

      MemoryFile mem(db->pages().page_count());
      IndexLayout fresh = layout;
      fresh.first_page = mem.new_root(layout.tdef_page);
      IndexWriter writer(mem, mem, mem, fresh);
      for (RowCursor c = table.scan(); c.next();) {
        std::vector<Value> values = key_values(c.row(), positions);
        std::vector<uint8_t> key = writer.key_for(values);
        writer.check_insert(values, key);  // Access's rows never clash
        writer.insert(key, RowPointer{c.id().page, c.id().row});
      }
      const std::vector<IndexEntry> ours = entries_of(mem, fresh);
      ASSERT_EQ(ours.size(), access.size());
      for (std::size_t i = 0; i < ours.size(); ++i) {
        ASSERT_EQ(ours[i].key, access[i].key) << "entry " << i;
        ASSERT_EQ(ours[i].row, access[i].row) << "entry " << i;
      }
      TreeCheck check{mem, &mem.owned, fresh, {}, {}};
      check.run();
      RecordProperty(te.name + "." + layout.name,
                     "entries " + std::to_string(ours.size()) + ", leaves Access " +
                         std::to_string(leaf_count(db->pages(), layout)) + " / ours " +
                         std::to_string(leaf_count(mem, fresh)));
      // Indexes Access grew row by row come out page for page the same
      // (the products database's were built in bulk over existing rows).
      RecordProperty(te.name + "." + layout.name + " shape", "Access: " + tree_shape(db->pages(), layout) + " ours: " + tree_shape(mem, fresh));
      if (file != "products_small.mdb") {
        EXPECT_EQ(tree_shape(mem, fresh), tree_shape(db->pages(), layout));
      }
      ++indexes;
    }
  }
  EXPECT_GT(indexes, 0) << file << " has no indexed table";
}

// The layout rules the writer follows, checked on every index page of
// every fixture that Access wrote (system tables included): a page stores
// its entries whole when they fit, else with the longest prefix its first
// and last keys share; an intermediate page with more than one child names
// the last as its tail; the root of an empty index is an empty leaf.
TEST(AccessIndexLayout, EveryFixturePageFollowsTheWritersRules) {
  int pages_checked = 0;
  for (const std::string& file : test::fixture_files()) {
    OpenOptions options;
    options.password = test::fixture_password(file);
    auto db = Database::open(test::fixture(file), options);
    for (const TableEntry& te : db->tables(true)) {
      Table& table = db->table(te.name);
      for (const IndexLayout& layout : real_indexes(table.def())) {
        SCOPED_TRACE(file + ": " + te.name + "." + layout.name);
        std::vector<uint32_t> todo{layout.first_page};
        std::set<uint32_t> seen;
        IndexPage p;
        while (!todo.empty()) {
          const uint32_t n = todo.back();
          todo.pop_back();
          if (!seen.insert(n).second) continue;
          decode_index_page(db->pages().page(n), n, db->pages().page_count(), file, layout, p);
          const std::size_t whole = p.bytes.size();
          EXPECT_EQ(p.prefix_length, whole <= kIndexEntryCapacity ? 0 : shared_prefix_limit(p)) << "page " << n;
          EXPECT_EQ(p.free_space, kIndexEntryCapacity - encoded_entry_bytes(p)) << "page " << n;
          if (n == layout.first_page && p.entry_count() == 0) {
            EXPECT_TRUE(p.leaf);
          }
          if (!p.leaf) {
            EXPECT_NE(p.tail_page, 0u) << "intermediate page " << n << " without a tail";
            for (std::size_t i = 0; i < p.entry_count(); ++i) todo.push_back(p.child(i));
            if (p.tail_page != 0) todo.push_back(p.tail_page);
          }
          ++pages_checked;
        }
      }
    }
  }
  EXPECT_GT(pages_checked, 400);
}

std::string scratch_copy(const std::string& name) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("jet_index_fidelity_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::path to = dir / name;
  fs::remove(to);
  fs::copy_file(test::fixture(name), to);
  return to.string();
}

TEST_P(IndexFidelity, ReinsertedRowsGiveAccessKeysInAccessOrder) {
  const std::string file = GetParam();
  // Access's entries of every real index, with each row's place in storage
  // order standing in for its row pointer.
  struct Expected {
    IndexLayout layout;
    std::vector<std::pair<std::vector<uint8_t>, std::size_t>> entries;  // key, row's storage position
    std::string shape;  // tree_shape of Access's index
  };
  std::map<std::string, std::vector<Expected>> expected;
  std::map<std::string, std::vector<Row>> rows;
  {
    OpenOptions options;
    options.password = test::fixture_password(file);
    auto db = Database::open(test::fixture(file), options);
    for (const TableEntry& te : db->tables()) {
      Table& table = db->table(te.name);
      if (table.indexes().empty()) continue;
      std::map<std::pair<uint32_t, uint8_t>, std::size_t> position;
      for (RowCursor c = table.scan(); c.next();) {
        position[{c.id().page, c.id().row}] = rows[te.name].size();
        rows[te.name].push_back(c.row());
      }
      for (const IndexLayout& layout : real_indexes(table.def())) {
        Expected e{layout, {}, tree_shape(db->pages(), layout)};
        for (const IndexEntry& entry : entries_of(db->pages(), layout)) {
          e.entries.push_back({entry.key, position.at({entry.row.page, entry.row.row})});
        }
        expected[te.name].push_back(std::move(e));
      }
    }
  }
  ASSERT_FALSE(expected.empty());

  const std::string path = scratch_copy(file);
  OpenOptions options;
  options.password = test::fixture_password(file);
  options.read_write = true;
  {
    auto db = Database::open(path, options);
    for (auto& [name, table_rows] : rows) {
      SCOPED_TRACE(name);
      Table& table = db->table(name);
      std::vector<RowId> ids;
      for (RowCursor c = table.scan(); c.next();) ids.push_back(c.id());
      {
        Transaction tx(*db);
        for (RowId id : ids) table.remove(id);
        tx.commit();
      }
      for (const Expected& e : expected[name]) {
        EXPECT_TRUE(entries_of(db->pages(), e.layout).empty()) << e.layout.name << " keeps entries of deleted rows";
        IndexPage root;
        decode_index_page(db->pages().page(e.layout.first_page), e.layout.first_page, db->pages().page_count(),
                          path, e.layout, root);
        EXPECT_TRUE(root.leaf) << e.layout.name << ": an empty index is an empty leaf root";
      }
      std::vector<RowId> new_ids;
      {
        // Row by row, each insert its own statement, in one transaction.
        Transaction tx(*db);
        for (const Row& r : table_rows) new_ids.push_back(table.insert(r));
        tx.commit();
      }
      std::map<std::pair<uint32_t, uint8_t>, std::size_t> position;
      for (std::size_t i = 0; i < new_ids.size(); ++i) position[{new_ids[i].page, new_ids[i].row}] = i;
      for (const Expected& e : expected[name]) {
        SCOPED_TRACE(e.layout.name);
        const std::vector<IndexEntry> ours = entries_of(db->pages(), e.layout);
        ASSERT_EQ(ours.size(), e.entries.size());
        for (std::size_t i = 0; i < ours.size(); ++i) {
          ASSERT_EQ(ours[i].key, e.entries[i].first) << "entry " << i;
          ASSERT_EQ(position.at({ours[i].row.page, ours[i].row.row}), e.entries[i].second) << "entry " << i;
        }
        // The index's usage map names exactly the pages of its tree.
        std::vector<uint32_t> owned = read_usage_map(db->pages(), e.layout.usage_map, "index " + e.layout.name);
        std::set<uint32_t> owned_set(owned.begin(), owned.end());
        TreeCheck check{db->pages(), &owned_set, e.layout, {}, {}};
        check.run();
        if (file != "products_small.mdb") {
          EXPECT_EQ(tree_shape(db->pages(), e.layout), e.shape);
        }
      }
    }
  }
  // Read back from the file by a fresh open: the same entries, and the
  // consistency check finds nothing wrong.
  auto again = Database::open(path, options);
  const CheckReport report = check_database(*again);
  for (const std::string& problem : report.problems) ADD_FAILURE() << "check: " << problem;
  for (auto& [name, list] : expected) {
    for (const Expected& e : list) {
      EXPECT_EQ(entries_of(again->pages(), e.layout).size(), e.entries.size()) << name << "." << e.layout.name;
    }
  }
  std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, IndexFidelity, ::testing::ValuesIn(kIndexFixtures),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param.substr(0, info.param.find('.'));
                           for (auto& ch : name) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name;
                         });

}  // namespace
}  // namespace jet::index
