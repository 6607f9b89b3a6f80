// Index pages and trees built by hand in memory: page encoding and decoding,
// scans, seeks and ranges over multi-level trees (with tail pages), and
// damaged pages, loops and bad pointers.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "index/index_page.h"
#include "index/index_reader.h"
#include "index/key_encoding.h"
#include "jet/error.h"
#include "page_source.h"
#include "index_test_util.h"

namespace jet::index {
namespace {

IndexLayout long_layout(uint32_t root, bool ascending = true) {
  IndexLayout l;
  l.name = "ByNumber";
  l.table_name = "Things";
  KeyColumn c;
  c.type = ColumnType::kLong;
  c.ascending = ascending;
  l.columns.push_back(c);
  l.first_page = root;
  l.tdef_page = 2;
  return l;
}

std::vector<Entry> numbered_entries(int count, int step = 1) {
  IndexLayout l = long_layout(0);
  std::vector<Entry> out;
  for (int i = 0; i < count; ++i) {
    Value v = int32_t{i * step};
    // Two rows share every tenth key, as in a non-unique index.
    int copies = i % 10 == 0 ? 2 : 1;
    for (int c = 0; c < copies; ++c) {
      out.push_back({encode_key(l, {&v, 1}), RowPointer{static_cast<uint32_t>(3 + i / 200), static_cast<uint8_t>(i % 200 + c * 50)}});
    }
  }
  std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) {
    int c = compare_keys(a.key, b.key);
    return c != 0 ? c < 0 : (a.row.page != b.row.page ? a.row.page < b.row.page : a.row.row < b.row.row);
  });
  return out;
}

TEST(IndexPage, EncodeDecodeRoundTripWithSharedPrefix) {
  IndexPage p;
  p.number = 5;
  p.leaf = true;
  p.tdef_page = 2;
  p.next_page = 6;
  auto entries = numbered_entries(50);
  for (const auto& e : entries) append_entry(p, e.key, e.row);
  p.prefix_length = static_cast<uint16_t>(shared_prefix_limit(p));
  std::vector<uint8_t> page(kPageSize);
  encode_index_page(p, page.data());
  // 7f 80 00 00 shared by all: 4-byte prefix, as in the format notes' example.
  EXPECT_EQ(page[kIndexPrefixLengthOffset], 4);
  EXPECT_EQ(page[0], kLeafPageType);
  IndexPage back;
  IndexLayout l = long_layout(5);
  decode_index_page(page.data(), 5, 100, "memory.mdb", l, back);
  ASSERT_EQ(back.entry_count(), entries.size());
  EXPECT_EQ(back.next_page, 6u);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(std::vector<uint8_t>(back.key(i).begin(), back.key(i).end()), entries[i].key);
    EXPECT_EQ(back.row(i), entries[i].row);
  }
  EXPECT_EQ(back.free_space, kPageSize - kIndexEntriesOffset - encoded_entry_bytes(p));
  // The same page image again from the decoded form.
  std::vector<uint8_t> again(kPageSize);
  encode_index_page(back, again.data());
  EXPECT_EQ(again, page);
}

TEST(IndexPage, ReadsTheFormatNotesExample) {
  // Leaf with prefix 7f 00 00 00: key 1 at page 261 row 3, key 2 at row 4.
  std::vector<uint8_t> page(kPageSize, 0);
  page[0] = kLeafPageType;
  page[1] = 1;
  page[kIndexPrefixLengthOffset] = 4;
  const uint8_t first[] = {0x7f, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x05, 0x03};
  const uint8_t second[] = {0x02, 0x00, 0x01, 0x05, 0x04};
  std::copy(std::begin(first), std::end(first), page.begin() + kIndexEntriesOffset);
  std::copy(std::begin(second), std::end(second), page.begin() + kIndexEntriesOffset + 9);
  page[kIndexMaskOffset + 1] |= 1 << 1;  // end of entry 1 at 9
  page[kIndexMaskOffset + 1] |= 1 << 6;  // end of entry 2 at 14
  IndexLayout l = long_layout(7);
  l.tdef_page = 0;
  IndexPage p;
  decode_index_page(page.data(), 7, 300, "memory.mdb", l, p);
  ASSERT_EQ(p.entry_count(), 2u);
  EXPECT_EQ(p.row(0), (RowPointer{261, 3}));
  EXPECT_EQ(p.row(1), (RowPointer{261, 4}));
  const uint8_t key2[] = {0x7f, 0x00, 0x00, 0x00, 0x02};
  EXPECT_TRUE(std::equal(p.key(1).begin(), p.key(1).end(), std::begin(key2), std::end(key2)));
}

class IndexTree : public ::testing::TestWithParam<bool> {};

TEST_P(IndexTree, ScanSeekAndRangeOverThreeLevels) {
  const bool tail = GetParam();
  MemoryPages pages(400);
  auto entries = numbered_entries(2000, 3);  // keys 0, 3, 6, ...
  const uint32_t root = build_tree(pages, entries, 40, 6, tail);
  IndexLayout l = long_layout(root);
  IndexReader reader(pages, l);

  // Scan: every entry once, in order.
  std::vector<RowPointer> rows = reader.scan();
  ASSERT_EQ(rows.size(), entries.size());
  for (std::size_t i = 0; i < rows.size(); ++i) ASSERT_EQ(rows[i], entries[i].row) << i;

  // Seek every key, and the gaps between keys.
  std::map<std::vector<uint8_t>, std::vector<RowPointer>> by_key;
  for (const auto& e : entries) by_key[e.key].push_back(e.row);
  for (int v = -1; v < 6002; ++v) {
    std::vector<Value> key{int32_t{v}};
    const std::vector<uint8_t> encoded = encode_key(l, key);
    auto it = by_key.lower_bound(encoded);
    auto found = reader.find(key);
    if (it != by_key.end() && it->first == encoded) {
      ASSERT_EQ(found, it->second) << v;
    } else {
      ASSERT_TRUE(found.empty()) << v;
    }
    IndexCursor c = reader.seek(key);
    if (it == by_key.end()) {
      EXPECT_FALSE(c.valid()) << v;
    } else {
      ASSERT_TRUE(c.valid()) << v;
      ASSERT_EQ(std::vector<uint8_t>(c.key().begin(), c.key().end()), it->first) << v;
      ASSERT_EQ(c.row(), it->second.front()) << v;
    }
  }

  // Writers' descent: the leaf where a new entry belongs holds the first
  // entry >= it (or is the last leaf), and the path starts at the root.
  for (int v : {-5, 0, 31, 2999, 5997, 7000}) {
    std::vector<Value> key{int32_t{v}};
    auto path = reader.leaf_path(encode_key(l, key));
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), root);
    IndexPage leaf;
    decode_index_page(pages.page(path.back()), path.back(), pages.page_count(), "memory.mdb", l, leaf);
    ASSERT_TRUE(leaf.leaf);
    IndexCursor c = reader.seek(key);
    if (c.valid()) {
      bool here = false;
      for (std::size_t i = 0; i < leaf.entry_count(); ++i) here = here || leaf.row(i) == c.row();
      EXPECT_TRUE(here) << v;
    } else {
      EXPECT_EQ(leaf.next_page, 0u) << v;
    }
  }

  // Ranges: [30, 60) has keys 30..57 (10 keys, 30 and 60 have two rows each).
  auto r = reader.range(KeyBound{{int32_t{30}}, true}, KeyBound{{int32_t{60}}, false});
  EXPECT_EQ(r.size(), 11u);
  r = reader.range(KeyBound{{int32_t{30}}, false}, KeyBound{{int32_t{60}}, true});
  EXPECT_EQ(r.size(), 11u);
  r = reader.range(std::nullopt, KeyBound{{int32_t{3}}, true});
  EXPECT_EQ(r.size(), 3u);  // 0 (twice), 3
  r = reader.range(KeyBound{{int32_t{5997}}, true}, std::nullopt);
  EXPECT_EQ(r.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutTailPages, IndexTree, ::testing::Bool());

TEST(IndexTreeEdges, EmptyIndexAndSingleLeaf) {
  MemoryPages pages(40);
  const uint32_t root = build_tree(pages, {}, 10, 4, false);
  IndexLayout l = long_layout(root);
  IndexReader reader(pages, l);
  EXPECT_TRUE(reader.scan().empty());
  std::vector<Value> key{int32_t{1}};
  EXPECT_FALSE(reader.seek(key).valid());
  EXPECT_TRUE(reader.find(key).empty());
}

// Every damaged tree must give jet::Error kCorruption naming the file, index
// and page; never a crash or an endless walk.
class DamagedIndex : public ::testing::Test {
 protected:
  void SetUp() override {
    entries_ = numbered_entries(600);
    root_ = build_tree(pages_, entries_, 50, 5, false);
    layout_ = long_layout(root_);
  }
  void expect_corruption(const char* what) {
    IndexReader reader(pages_, layout_);
    try {
      reader.scan();
      std::vector<Value> key{int32_t{599}};
      reader.find(key);
      FAIL() << what << ": no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.category(), ErrorCategory::kCorruption) << what << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find("memory.mdb"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("ByNumber"), std::string::npos) << e.what();
    }
  }
  uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
  void put_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  }
  MemoryPages pages_{200};
  std::vector<Entry> entries_;
  uint32_t root_ = 0;
  IndexLayout layout_;
};

TEST_F(DamagedIndex, LeafChainLoopsBack) {
  // The third leaf's next link points back to the first leaf.
  put_le32(pages_.raw(12) + kIndexNextOffset, 10);
  expect_corruption("loop");
}

TEST_F(DamagedIndex, LoopOfEmptyLeaves) {
  // Two empty leaves that point at each other, reached from the last leaf.
  IndexPage empty;
  empty.leaf = true;
  empty.tdef_page = 2;
  empty.prev_page = 190;
  empty.next_page = 191;
  empty.number = 190;
  encode_index_page(empty, pages_.raw(190));
  empty.prev_page = 190;
  empty.next_page = 190;
  encode_index_page(empty, pages_.raw(191));
  uint32_t last = 10;
  while (le32(pages_.raw(last) + kIndexNextOffset) != 0) last = le32(pages_.raw(last) + kIndexNextOffset);
  put_le32(pages_.raw(last) + kIndexNextOffset, 190);
  put_le32(pages_.raw(190) + kIndexPrevOffset, last);
  expect_corruption("loop of empty pages");
}

TEST_F(DamagedIndex, ChildPointerOutOfRange) {
  // First entry of the root: its child pointer is the entry's last 4 bytes.
  IndexPage root;
  decode_index_page(pages_.raw(root_), root_, 200, "memory.mdb", layout_, root);
  root.bytes[root.starts[1] - 1] = 0xEE;
  root.bytes[root.starts[1] - 2] = 0xEE;
  encode_index_page(root, pages_.raw(root_));
  expect_corruption("child pointer");
}

TEST_F(DamagedIndex, TreeLoopsToItsRoot) {
  IndexPage root;
  decode_index_page(pages_.raw(root_), root_, 200, "memory.mdb", layout_, root);
  // Make the root's only intermediate child (or itself) point back to the root.
  uint32_t child = root.child(0);
  if (pages_.raw(child)[0] == kIntermediatePageType) {
    IndexPage node;
    decode_index_page(pages_.raw(child), child, 200, "memory.mdb", layout_, node);
    for (std::size_t i = 0; i < node.entry_count(); ++i) {
      uint8_t* c = node.bytes.data() + node.starts[i + 1] - 4;
      c[0] = c[1] = 0;
      c[2] = static_cast<uint8_t>(root_ >> 8);
      c[3] = static_cast<uint8_t>(root_);
    }
    encode_index_page(node, pages_.raw(child));
    expect_corruption("tree loop");
  } else {
    GTEST_SKIP() << "tree too shallow";
  }
}

TEST_F(DamagedIndex, DataPointerOutsideFile) {
  IndexPage leaf;
  decode_index_page(pages_.raw(10), 10, 200, "memory.mdb", layout_, leaf);
  leaf.bytes[leaf.starts[1] - 4] = 0x7F;  // data page 0x7Fxxxx
  encode_index_page(leaf, pages_.raw(10));
  expect_corruption("data pointer");
}

TEST_F(DamagedIndex, EntriesOutOfOrder) {
  // The first entry of a leaf becomes a copy of its last one.
  IndexPage a;
  decode_index_page(pages_.raw(10), 10, 200, "memory.mdb", layout_, a);
  std::vector<uint8_t> last(a.entry(a.entry_count() - 1).begin(), a.entry(a.entry_count() - 1).end());
  std::copy(last.begin(), last.end(), a.bytes.begin());  // same size: fixed-width keys
  encode_index_page(a, pages_.raw(10));
  expect_corruption("order");
}

TEST_F(DamagedIndex, RootIsNotAnIndexPage) {
  pages_.raw(root_)[0] = 0x01;
  expect_corruption("root type");
  layout_.first_page = 5000;
  expect_corruption("root beyond file");
}

TEST_F(DamagedIndex, PageOfAnotherTable) {
  put_le32(pages_.raw(11) + kIndexTdefOffset, 77);
  expect_corruption("other table");
}

// Random bytes in every index page: errors, never crashes or hangs (the
// sanitizer build runs this too).
TEST(DamagedIndexRandom, RandomPagesGiveErrorsOnly) {
  std::mt19937 rng(11);
  int errors = 0;
  for (int round = 0; round < 300; ++round) {
    MemoryPages pages(60);
    auto entries = numbered_entries(300);
    const uint32_t root = build_tree(pages, entries, 30, 4, round % 2 == 0);
    // Damage: random bytes over a random stretch of a random page, or a whole
    // random page, keeping the page type byte half of the time.
    uint32_t victim = 10 + rng() % 20;
    uint8_t* p = pages.raw(victim);
    const uint8_t type = p[0];
    if (round % 3 == 0) {
      for (std::size_t i = 0; i < kPageSize; ++i) p[i] = static_cast<uint8_t>(rng());
    } else {
      std::size_t from = rng() % kPageSize;
      std::size_t len = 1 + rng() % 64;
      for (std::size_t i = from; i < from + len && i < kPageSize; ++i) p[i] = static_cast<uint8_t>(rng());
    }
    if (rng() % 2) p[0] = type;
    IndexLayout l = long_layout(root);
    IndexReader reader(pages, l);
    try {
      reader.scan();
      for (int v = 0; v < 300; v += 7) {
        std::vector<Value> key{int32_t{v}};
        reader.find(key);
      }
    } catch (const Error& e) {
      EXPECT_EQ(e.category(), ErrorCategory::kCorruption) << e.what();
      ++errors;
    }
  }
  EXPECT_GT(errors, 50);  // damage in unused page space goes unnoticed, rightly
}

}  // namespace
}  // namespace jet::index
