// The index builder on pages in memory: trees built whole from unsorted
// entries pass every rule the writer keeps (parent entries, tails, level
// chains, prefix choice, page ownership), scan in order, and stay
// maintainable by the writer; their leaves are those appends in key order
// give; duplicate keys of a unique index are refused before any page is
// written.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "index/index_builder.h"
#include "index/index_page.h"
#include "index/index_reader.h"
#include "index/index_writer.h"
#include "index/key_encoding.h"
#include "jet/error.h"
#include "memory_file.h"

namespace jet::index {
namespace {

// Builds an index of `count` random entries in random order, checks it,
// then lets the writer insert and remove on it and checks again.
void build_run(IndexLayout layout, int count, unsigned seed, const std::function<Value(std::mt19937&)>& make_value,
               int min_depth) {
  MemoryFile file;
  layout.first_page = file.new_root(layout.tdef_page);
  IndexWriter writer(file, file, file, layout);
  IndexBuilder builder(layout);
  std::mt19937 rng(seed);
  std::set<Model> model;
  std::vector<Model> live;
  for (int i = 0; i < count; ++i) {
    Value v = make_value(rng);
    Model e{writer.key_for({&v, 1}), RowPointer{static_cast<uint32_t>(5 + i / 250), static_cast<uint8_t>(i % 250)}};
    builder.add(e.key, e.row, true);
    model.insert(e);
    live.push_back(e);
  }
  builder.build(file, file, file);
  EXPECT_GE(check_tree(file, layout, model), min_depth) << "the build did not make a tree that deep";
  if (::testing::Test::HasFailure()) return;
  // The writer carries on where the builder left off.
  for (int step = 0; step < 2000; ++step) {
    if (rng() % 2 == 0) {
      Value v = make_value(rng);
      const uint32_t i = static_cast<uint32_t>(count + step);
      Model e{writer.key_for({&v, 1}), RowPointer{5 + i / 250, static_cast<uint8_t>(i % 250)}};
      writer.insert(e.key, e.row);
      model.insert(e);
      live.push_back(e);
    } else {
      const std::size_t i = rng() % live.size();
      writer.remove(live[i].key, live[i].row);
      model.erase(live[i]);
      live[i] = live.back();
      live.pop_back();
    }
  }
  check_tree(file, layout, model);
}

TEST(IndexBuilder, LongKeysWithDuplicates) {
  build_run(make_layout(ColumnType::kLong), 30000, 1,
            [](std::mt19937& rng) { return Value{static_cast<int32_t>(rng() % 3000) - 1500}; }, 2);
}

TEST(IndexBuilder, DescendingDoubles) {
  build_run(make_layout(ColumnType::kDouble, /*ascending=*/false), 10000, 2,
            [](std::mt19937& rng) { return Value{std::uniform_real_distribution<double>(-1e6, 1e6)(rng)}; }, 2);
}

TEST(IndexBuilder, LongTextKeysMakeThreeLevels) {
  // 100-250 characters: a dozen or two entries per page, so intermediate
  // levels need several pages and compress their entries.
  build_run(make_layout(ColumnType::kText), 8000, 3,
            [](std::mt19937& rng) { return Value{random_text(rng, 100, 250)}; }, 3);
}

TEST(IndexBuilder, ShortTextWithNulls) {
  build_run(make_layout(ColumnType::kText), 12000, 4, [](std::mt19937& rng) -> Value {
    if (rng() % 20 == 0) return std::monostate{};
    return Value{random_text(rng, 0, 12)};
  }, 2);
}

TEST(IndexBuilder, FewEntriesStayInTheRootLeaf) {
  MemoryFile file;
  IndexLayout layout = make_layout(ColumnType::kLong);
  layout.first_page = file.new_root(2);
  IndexBuilder empty(layout);
  empty.build(file, file, file);
  check_tree(file, layout, {});
  IndexBuilder builder(layout);
  IndexWriter writer(file, file, file, layout);
  std::set<Model> model;
  for (int32_t i = 3; i > 0; --i) {
    Value v = i;
    Model e{writer.key_for({&v, 1}), RowPointer{7, static_cast<uint8_t>(i)}};
    builder.add(e.key, e.row, true);
    model.insert(e);
  }
  builder.build(file, file, file);
  EXPECT_EQ(check_tree(file, layout, model), 1);
  EXPECT_EQ(file.owned, std::set<uint32_t>{layout.first_page});
}

// Leaves hold what appends in key order leave in them: the same entries,
// page by page, with the same prefixes.
TEST(IndexBuilder, LeavesMatchAppendsInKeyOrder) {
  for (const bool text : {false, true}) {
    SCOPED_TRACE(text ? "text keys" : "counter keys");
    IndexLayout layout = make_layout(text ? ColumnType::kText : ColumnType::kLong, true, true);
    MemoryFile appended, built;
    layout.first_page = appended.new_root(2);
    ASSERT_EQ(built.new_root(2), layout.first_page);
    IndexWriter writer(appended, appended, appended, layout);
    IndexBuilder builder(layout);
    std::vector<Model> entries;
    for (int32_t i = 1; i <= 20000; ++i) {
      char code[16];
      std::snprintf(code, sizeof code, "P%07d", i * 7);
      Value v = text ? Value{std::string(code)} : Value{i};
      entries.push_back({writer.key_for({&v, 1}), RowPointer{static_cast<uint32_t>(10 + i / 200), uint8_t(i % 200)}});
    }
    for (const Model& e : entries) writer.insert(e.key, e.row);
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) builder.add(it->key, it->row, true);
    builder.build(built, built, built);
    const std::set<Model> model(entries.begin(), entries.end());
    check_tree(built, layout, model);
    TreeCheck a{appended, nullptr, layout, {}, {}};
    TreeCheck b{built, nullptr, layout, {}, {}};
    const int depth_a = a.run();
    const int depth_b = b.run();
    const auto& leaves_a = a.levels[depth_a - 1];
    const auto& leaves_b = b.levels[depth_b - 1];
    ASSERT_EQ(leaves_a.size(), leaves_b.size());
    for (std::size_t i = 0; i < leaves_a.size(); ++i) {
      IndexPage pa, pb;
      decode_index_page(appended.page(leaves_a[i]), leaves_a[i], appended.page_count(), "a", layout, pa);
      decode_index_page(built.page(leaves_b[i]), leaves_b[i], built.page_count(), "b", layout, pb);
      EXPECT_EQ(pa.bytes, pb.bytes) << "leaf " << i;
      EXPECT_EQ(pa.prefix_length, pb.prefix_length) << "leaf " << i;
    }
  }
}

TEST(IndexBuilder, UniqueIndexRefusesADuplicateBeforeWritingAnything) {
  MemoryFile file;
  IndexLayout layout = make_layout(ColumnType::kLong, true, true);
  layout.first_page = file.new_root(2);
  IndexWriter writer(file, file, file, layout);
  const std::size_t writes_before = file.writes;
  {
    IndexBuilder builder(layout);
    for (int32_t i = 0; i < 5000; ++i) {
      Value v = i == 4321 ? int32_t{17} : i;
      builder.add(writer.key_for({&v, 1}), RowPointer{static_cast<uint32_t>(10 + i / 100), uint8_t(i % 100)}, true);
    }
    Error e = [&] {
      try {
        builder.build(file, file, file);
      } catch (const Error& err) {
        return err;
      }
      return Error(ErrorCategory::kIo, "no error");
    }();
    EXPECT_EQ(e.category(), ErrorCategory::kConstraint);
    EXPECT_NE(std::string(e.what()).find("unique index 'ByValue' of table 'Things'"), std::string::npos) << e.what();
    EXPECT_EQ(file.writes, writes_before);
    EXPECT_EQ(file.owned, std::set<uint32_t>{layout.first_page});
  }
  // Keys that may not clash (a Null column) are kept side by side.
  IndexBuilder builder(layout);
  Value null;
  const auto key = writer.key_for({&null, 1});
  builder.add(key, RowPointer{10, 1}, false);
  builder.add(key, RowPointer{10, 2}, false);
  builder.build(file, file, file);
  check_tree(file, layout, {{key, RowPointer{10, 1}}, {key, RowPointer{10, 2}}});
  // An index with entries is not built over.
  IndexBuilder again(layout);
  again.add(key, RowPointer{10, 3}, false);
  try {
    again.build(file, file, file);
    ADD_FAILURE() << "built over a filled index";
  } catch (const Error& err) {
    EXPECT_EQ(err.category(), ErrorCategory::kInvalidArgument);
  }
}

}  // namespace
}  // namespace jet::index
