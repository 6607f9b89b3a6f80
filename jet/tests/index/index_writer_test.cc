// The index writer on pages in memory: thousands of random inserts and
// removals checked against a sorted model with the reader, every page
// decoded and every tree rule checked (parent entries, tails, level chains,
// prefix choice, page ownership); sequential appends, emptying, the unique
// check and refused input.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "index/index_page.h"
#include "index/index_reader.h"
#include "index/index_writer.h"
#include "index/key_encoding.h"
#include "jet/error.h"
#include "page_source.h"
#include "memory_file.h"

namespace jet::index {
namespace {

// Random inserts and removals, checked in full every few hundred steps.
void random_run(IndexLayout layout, int steps, unsigned seed, const std::function<Value(std::mt19937&)>& make_value,
                int min_depth) {
  MemoryFile file;
  layout.first_page = file.new_root(layout.tdef_page);
  IndexWriter writer(file, file, file, layout);
  std::mt19937 rng(seed);
  std::set<Model> model;
  std::vector<Model> live;
  int max_depth = 0;
  uint32_t next_row = 0;
  for (int step = 0; step < steps; ++step) {
    const bool insert = live.empty() || rng() % 100 < 65;
    if (insert) {
      Value v = make_value(rng);
      Model m{writer.key_for({&v, 1}), RowPointer{5 + next_row / 100, static_cast<uint8_t>(next_row % 100)}};
      ++next_row;
      writer.insert(m.key, m.row);
      model.insert(m);
      live.push_back(m);
    } else {
      std::size_t i = rng() % live.size();
      writer.remove(live[i].key, live[i].row);
      model.erase(live[i]);
      live[i] = live.back();
      live.pop_back();
    }
    if (step % 500 == 499 || step + 1 == steps) {
      max_depth = std::max(max_depth, check_tree(file, layout, model));
      if (::testing::Test::HasFailure()) {
        ADD_FAILURE() << "after step " << step;
        return;
      }
    }
  }
  EXPECT_GE(max_depth, min_depth) << "the run did not build a tree that deep";
  // Remove everything: an empty leaf root and no other page.
  for (const Model& m : live) writer.remove(m.key, m.row);
  model.clear();
  check_tree(file, layout, model);
  IndexPage root;
  decode_index_page(file.page(layout.first_page), layout.first_page, file.page_count(), "memory.mdb", layout, root);
  EXPECT_TRUE(root.leaf);
  EXPECT_EQ(root.entry_count(), 0u);
  EXPECT_EQ(file.owned, std::set<uint32_t>{layout.first_page});
}

TEST(IndexWriter, RandomLongKeysWithDuplicates) {
  random_run(make_layout(ColumnType::kLong), 12000, 1,
             [](std::mt19937& rng) { return Value{static_cast<int32_t>(rng() % 3000) - 1500}; }, 2);
}

TEST(IndexWriter, RandomDescendingDoubles) {
  random_run(make_layout(ColumnType::kDouble, /*ascending=*/false), 6000, 2,
             [](std::mt19937& rng) { return Value{std::uniform_real_distribution<double>(-1e6, 1e6)(rng)}; }, 2);
}

TEST(IndexWriter, RandomLongTextKeysBuildThreeLevels) {
  // Keys of 100-250 characters: a dozen or two per page, so the tree grows
  // a third and fourth level and intermediate pages split too.
  random_run(make_layout(ColumnType::kText), 5000, 3,
             [](std::mt19937& rng) { return Value{random_text(rng, 100, 250)}; }, 3);
}

TEST(IndexWriter, RandomShortTextWithNulls) {
  random_run(make_layout(ColumnType::kText), 8000, 4, [](std::mt19937& rng) -> Value {
    if (rng() % 20 == 0) return std::monostate{};
    return Value{random_text(rng, 0, 12)};
  }, 2);
}

TEST(IndexWriter, SequentialAppendsFillPages) {
  MemoryFile file;
  IndexLayout layout = make_layout(ColumnType::kLong, true, true);
  layout.first_page = file.new_root(2);
  IndexWriter writer(file, file, file, layout);
  std::set<Model> model;
  for (int32_t i = 1; i <= 20000; ++i) {
    Value v = i;
    Model m{writer.key_for({&v, 1}), RowPointer{static_cast<uint32_t>(10 + i / 200), static_cast<uint8_t>(i % 200)}};
    writer.insert(m.key, m.row);
    model.insert(m);
  }
  check_tree(file, layout, model);
  // Every leaf but the last is full: appends start a new last leaf instead
  // of splitting the full one in half.
  IndexPage root;
  decode_index_page(file.page(layout.first_page), layout.first_page, file.page_count(), "memory.mdb", layout, root);
  ASSERT_FALSE(root.leaf);
  EXPECT_NE(root.tail_page, 0u);
  for (std::size_t i = 0; i < root.entry_count(); ++i) {
    IndexPage leaf;
    decode_index_page(file.page(root.child(i)), root.child(i), file.page_count(), "memory.mdb", layout, leaf);
    EXPECT_LT(leaf.free_space, 9 * 2) << "leaf " << i << " is not full";
  }
  // 20,000 nine-byte entries: about 55 pages with the prefix (every page
  // shares at least 7F 80 00).
  EXPECT_LT(file.owned.size(), 70u);
}

TEST(IndexWriter, UniqueCheck) {
  MemoryFile file;
  IndexLayout layout = make_layout(ColumnType::kText, true, true);
  layout.first_page = file.new_root(2);
  IndexWriter writer(file, file, file, layout);
  Value a = std::string("Apple");
  auto key_a = writer.key_for({&a, 1});
  writer.check_insert({&a, 1}, key_a);
  writer.insert(key_a, {7, 1});
  // Case differs only: General sort order keys are equal, as in Access.
  Value a2 = std::string("APPLE");
  auto key_a2 = writer.key_for({&a2, 1});
  try {
    writer.check_insert({&a2, 1}, key_a2);
    FAIL() << "duplicate accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.category(), ErrorCategory::kConstraint);
    std::string what = e.what();
    EXPECT_NE(what.find("'APPLE'"), std::string::npos) << what;
    EXPECT_NE(what.find("'ByValue'"), std::string::npos) << what;
    EXPECT_NE(what.find("'Things'"), std::string::npos) << what;
  }
  // The row itself (an update that keeps its key) is no clash.
  EXPECT_NO_THROW(writer.check_insert({&a2, 1}, key_a2, RowPointer{7, 1}));
  // A longer key that starts with the same characters is another key.
  Value b = std::string("Apples");
  EXPECT_NO_THROW(writer.check_insert({&b, 1}, writer.key_for({&b, 1})));
  // Nulls never clash in a unique index.
  Value n = std::monostate{};
  auto key_n = writer.key_for({&n, 1});
  writer.insert(key_n, {7, 2});
  EXPECT_NO_THROW(writer.check_insert({&n, 1}, key_n));
  // ... but a primary key refuses them.
  layout.primary_key = true;
  EXPECT_THROW(writer.check_insert({&n, 1}, key_n), Error);
}

TEST(IndexWriter, RefusesWhatItCannotStore) {
  MemoryFile file;
  IndexLayout layout = make_layout(ColumnType::kText);
  layout.first_page = file.new_root(2);
  IndexWriter writer(file, file, file, layout);
  // A character outside the Basic Multilingual Plane has no General code.
  Value emoji = std::string("stock \xF0\x9F\x93\xA6");
  try {
    writer.key_for({&emoji, 1});
    FAIL() << "unencodable text accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.category(), ErrorCategory::kConstraint);
  }
  const std::size_t writes = file.writes;
  std::vector<uint8_t> huge(IndexWriter::kMaxKeyBytes + 1, 0x7F);
  try {
    writer.insert(huge, {5, 0});
    FAIL() << "oversized key accepted";
  } catch (const Error& e) {
    EXPECT_EQ(e.category(), ErrorCategory::kConstraint);
  }
  Value v = std::string("x");
  auto key = writer.key_for({&v, 1});
  try {
    writer.remove(key, {5, 0});
    FAIL() << "removing a missing entry succeeded";
  } catch (const Error& e) {
    EXPECT_EQ(e.category(), ErrorCategory::kNotFound);
  }
  writer.insert(key, {5, 0});
  EXPECT_THROW(writer.insert(key, {5, 0}), Error);
  EXPECT_EQ(file.writes, writes + 1) << "a refused call wrote pages";
}

// Damaged trees: every operation stops with kCorruption naming the page,
// never a crash or a loop.
TEST(IndexWriter, DamagedPagesAreReportedNotFollowed) {
  auto build = [](MemoryFile& file, IndexLayout& layout) {
    layout.first_page = file.new_root(2);
    IndexWriter writer(file, file, file, layout);
    for (int32_t i = 0; i < 2000; ++i) {
      Value v = i;
      writer.insert(writer.key_for({&v, 1}), RowPointer{static_cast<uint32_t>(5 + i / 100), static_cast<uint8_t>(i % 100)});
    }
  };
  // Key 5 lies under the root's first child, as does the damage below.
  auto expect_corruption = [](MemoryFile& file, const IndexLayout& layout, const char* what) {
    IndexWriter writer(file, file, file, layout);
    Value v = int32_t{5};
    auto key = writer.key_for({&v, 1});
    try {
      writer.insert(key, RowPointer{7, 7});
      ADD_FAILURE() << what << ": insert succeeded";
    } catch (const Error& e) {
      EXPECT_EQ(e.category(), ErrorCategory::kCorruption) << what << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find("ByValue"), std::string::npos) << e.what();
    }
    try {
      writer.check_insert({&v, 1}, key);
      ADD_FAILURE() << what << ": the unique check passed";
    } catch (const Error& e) {
      EXPECT_EQ(e.category(), ErrorCategory::kCorruption) << what << ": " << e.what();
    }
  };
  {
    MemoryFile file;
    IndexLayout layout = make_layout(ColumnType::kLong, true, true);
    build(file, layout);
    // The root's first child pointer aims at the root itself.
    uint8_t* root = file.page_for_write(layout.first_page);
    const std::size_t first_end = [&] {
      for (std::size_t bit = 1; bit < kIndexMaskSize * 8; ++bit) {
        if (root[kIndexMaskOffset + bit / 8] & (1u << (bit % 8))) return bit;
      }
      return std::size_t{0};
    }();
    ASSERT_GT(first_end, 4u);
    uint8_t* child = root + kIndexEntriesOffset + first_end - 4;
    child[0] = static_cast<uint8_t>(layout.first_page >> 24);
    child[1] = static_cast<uint8_t>(layout.first_page >> 16);
    child[2] = static_cast<uint8_t>(layout.first_page >> 8);
    child[3] = static_cast<uint8_t>(layout.first_page);
    expect_corruption(file, layout, "child pointer to itself");
  }
  {
    MemoryFile file;
    IndexLayout layout = make_layout(ColumnType::kLong, true, true);
    build(file, layout);
    // A mask bit past the end of the page's entry area.
    uint8_t* root = file.page_for_write(layout.first_page);
    root[kIndexMaskOffset + kIndexMaskSize - 1] = 0x80;
    expect_corruption(file, layout, "mask beyond the page");
  }
  {
    MemoryFile file;
    IndexLayout layout = make_layout(ColumnType::kLong, true, true);
    build(file, layout);
    // The root is not an index page at all.
    file.page_for_write(layout.first_page)[0] = 0x01;
    expect_corruption(file, layout, "root of another type");
  }
  {
    MemoryFile file;
    IndexLayout layout = make_layout(ColumnType::kLong, true, true);
    build(file, layout);
    // A shared prefix longer than the page's first entry.
    IndexReader reader(file, layout);
    Value v = int32_t{5};
    auto path = reader.leaf_path(encode_key(layout, {&v, 1}));
    ASSERT_EQ(path.size(), 2u);
    uint8_t* leaf = file.page_for_write(path.back());
    leaf[kIndexPrefixLengthOffset] = 0xFF;
    leaf[kIndexPrefixLengthOffset + 1] = 0x0F;
    expect_corruption(file, layout, "prefix longer than the first entry");
  }
}

TEST(IndexWriter, IgnoreNullsSkipsAllNullKeys) {
  MemoryFile file;
  IndexLayout layout = make_layout(ColumnType::kLong);
  layout.ignore_nulls = true;
  layout.first_page = file.new_root(2);
  IndexWriter writer(file, file, file, layout);
  Value n = std::monostate{};
  auto key = writer.key_for({&n, 1});
  EXPECT_TRUE(writer.skips(key));
  writer.insert(key, {5, 0});
  writer.remove(key, {5, 0});
  IndexReader reader(file, layout);
  EXPECT_TRUE(reader.scan().empty());
}

}  // namespace
}  // namespace jet::index
