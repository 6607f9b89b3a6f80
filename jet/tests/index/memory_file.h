// Test helper: a growing file of pages in memory that the index writer
// reads, writes and takes pages from.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
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

namespace jet::index {

// A growing file of pages whose index pages are handed out and taken back
// like a usage map does.
class MemoryFile : public PageSource, public IndexPageStore, public IndexPageAllocator {
 public:
  // Pages below `base_pages` stand for the data pages entries point to.
  explicit MemoryFile(uint32_t base_pages = 200) { pages_.resize(base_pages, std::vector<uint8_t>(kPageSize, 0)); }
  const uint8_t* page(uint32_t n) override {
    if (n >= pages_.size()) throw Error(ErrorCategory::kCorruption, "memory.mdb: page " + std::to_string(n));
    return pages_[n].data();
  }
  uint32_t page_count() const override { return static_cast<uint32_t>(pages_.size()); }
  const std::string& file_name() const override { return name_; }
  uint8_t* page_for_write(uint32_t n) override {
    if (n >= pages_.size()) throw Error(ErrorCategory::kIo, "write past the end");
    ++writes;
    return pages_[n].data();
  }
  uint32_t allocate_index_page(const IndexLayout&) override {
    pages_.emplace_back(kPageSize, 0xCD);  // contents that must not matter
    const uint32_t n = static_cast<uint32_t>(pages_.size() - 1);
    owned.insert(n);
    return n;
  }
  void release_index_page(const IndexLayout&, uint32_t n) override {
    EXPECT_TRUE(owned.erase(n)) << "page " << n << " released twice or never owned";
  }
  // A fresh index: an empty leaf root.
  uint32_t new_root(uint32_t tdef) {
    const uint32_t n = allocate_index_page(IndexLayout{});
    IndexPage p;
    p.number = n;
    p.leaf = true;
    p.tdef_page = tdef;
    encode_index_page(p, pages_[n].data());
    return n;
  }

  std::set<uint32_t> owned;
  std::size_t writes = 0;

 private:
  std::deque<std::vector<uint8_t>> pages_;
  std::string name_ = "memory.mdb";
};

// Walks the whole tree and checks every rule the index writer keeps
// (GoogleTest expectations); run() returns the tree's depth.
struct TreeCheck {
  PageSource& file;
  const std::set<uint32_t>* owned;  // the index's pages as its usage map says, or null
  const IndexLayout& layout;
  std::set<uint32_t> seen;
  std::map<int, std::vector<uint32_t>> levels;  // pages of each level, in key order

  // Returns the last entry (key + row) of the subtree at `number`.
  std::vector<uint8_t> walk(uint32_t number, int depth, bool root) {
    EXPECT_TRUE(seen.insert(number).second) << "page " << number << " reached twice";
    IndexPage p;
    decode_index_page(file.page(number), number, file.page_count(), file.file_name(), layout, p);
    levels[depth].push_back(number);
    EXPECT_EQ(p.tdef_page, layout.tdef_page);
    // Prefix: none when the whole entries fit, else the longest shared one.
    const std::size_t whole = p.bytes.size();
    EXPECT_EQ(p.prefix_length, whole <= kIndexEntryCapacity ? 0u : shared_prefix_limit(p)) << "page " << number;
    EXPECT_EQ(p.free_space, kIndexEntryCapacity - encoded_entry_bytes(p)) << "page " << number;
    if (p.leaf) {
      if (!root) {
        EXPECT_GT(p.entry_count(), 0u) << "empty leaf " << number << " left in the tree";
      }
      if (p.entry_count() == 0) return {};
      auto e = p.entry(p.entry_count() - 1);
      return {e.begin(), e.end()};
    }
    std::vector<uint8_t> last;
    const std::size_t n = p.entry_count();
    EXPECT_GT(n, 0u) << "intermediate page " << number << " without entries";
    for (std::size_t i = 0; i < n; ++i) {
      std::vector<uint8_t> sub = walk(p.child(i), depth + 1, false);
      auto e = p.entry_without_child(i);
      EXPECT_EQ(std::vector<uint8_t>(e.begin(), e.end()), sub)
          << "entry " << i << " of page " << number << " differs from the last entry of child " << p.child(i);
      last = sub;
    }
    if (n >= 2 || p.tail_page != 0) {
      EXPECT_NE(p.tail_page, 0u) << "page " << number << " has " << n << " entries and no tail";
    }
    if (p.tail_page != 0) {
      std::vector<uint8_t> sub = walk(p.tail_page, depth + 1, false);
      EXPECT_LT(compare_keys(last, sub), 0) << "tail of page " << number << " is not after its entries";
      last = sub;
    }
    return last;
  }

  int run() {
    walk(layout.first_page, 0, true);
    // Every level is one chain in key order, linked both ways.
    for (auto& [depth, pages] : levels) {
      for (std::size_t i = 0; i < pages.size(); ++i) {
        const uint8_t* raw = file.page(pages[i]);
        uint32_t prev = raw[kIndexPrevOffset] | raw[kIndexPrevOffset + 1] << 8 | raw[kIndexPrevOffset + 2] << 16 |
                        static_cast<uint32_t>(raw[kIndexPrevOffset + 3]) << 24;
        uint32_t next = raw[kIndexNextOffset] | raw[kIndexNextOffset + 1] << 8 | raw[kIndexNextOffset + 2] << 16 |
                        static_cast<uint32_t>(raw[kIndexNextOffset + 3]) << 24;
        EXPECT_EQ(prev, i == 0 ? 0 : pages[i - 1]) << "level " << depth << " page " << pages[i];
        EXPECT_EQ(next, i + 1 == pages.size() ? 0 : pages[i + 1]) << "level " << depth << " page " << pages[i];
      }
    }
    // The index owns exactly the pages of its tree.
    if (owned != nullptr) {
      EXPECT_EQ(seen, *owned);
    }
    return static_cast<int>(levels.size());
  }
};

// An index entry of a test's model of the tree, in the tree's order.
struct Model {
  std::vector<uint8_t> key;
  RowPointer row;
  bool operator<(const Model& o) const {
    int c = compare_keys(key, o.key);
    if (c != 0) return c < 0;
    return row.page != o.row.page ? row.page < o.row.page : row.row < o.row.row;
  }
};

// A one-column index on a table "Things".
inline IndexLayout make_layout(ColumnType type, bool ascending = true, bool unique = false) {
  IndexLayout l;
  l.name = "ByValue";
  l.table_name = "Things";
  KeyColumn c;
  c.type = type;
  c.ascending = ascending;
  c.fixed_length = type != ColumnType::kText;
  l.columns.push_back(c);
  l.tdef_page = 2;
  l.unique = unique;
  return l;
}

// The tree passes every rule and scans exactly as `model`; returns its depth.
inline int check_tree(MemoryFile& file, const IndexLayout& layout, const std::set<Model>& model) {
  TreeCheck check{file, &file.owned, layout, {}, {}};
  const int depth = check.run();
  IndexReader reader(file, layout);
  std::vector<Model> scanned;
  for (IndexCursor c = reader.first(); c.valid(); c.next()) {
    scanned.push_back({std::vector<uint8_t>(c.key().begin(), c.key().end()), c.row()});
  }
  std::vector<Model> expected(model.begin(), model.end());
  EXPECT_EQ(scanned.size(), expected.size());
  for (std::size_t i = 0; i < std::min(scanned.size(), expected.size()); ++i) {
    if (scanned[i].key != expected[i].key || !(scanned[i].row == expected[i].row)) {
      ADD_FAILURE() << "scan differs from the model at entry " << i;
      break;
    }
  }
  return depth;
}

// Random text of `min_len` to `max_len` characters.
inline std::string random_text(std::mt19937& rng, std::size_t min_len, std::size_t max_len) {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 -'";
  std::uniform_int_distribution<std::size_t> len(min_len, max_len);
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kChars - 2);
  std::string s(len(rng), 'a');
  for (auto& ch : s) ch = kChars[pick(rng)];
  return s;
}

}  // namespace jet::index
