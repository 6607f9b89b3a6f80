// Building a whole index tree from sorted entries, level by level.
//
// Each level is a run of items in key order: on the leaf level the entries
// themselves, above it one item per page below (that page's last entry and
// its number). Pages take items greedily while they fit:
//   - a leaf holds its entries whole while they fit 3,616 bytes, else with
//     the longest prefix its first and last entries share; the next entry
//     that would not fit starts the next leaf (the full page stays full, as
//     appends in key order leave it);
//   - an intermediate page lists all its children but the last, each as its
//     last entry and child pointer (fitted by the same prefix rule), and
//     names the last child as its tail page; a page with one child lists it.
// A level of one page is the top: it is written to the index's root page,
// which never moves; every other page is a new page from the allocator,
// chained to its neighbours on the same level.
#include "index/index_builder.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "index/index_page.h"
#include "jet/error.h"

namespace jet::index {
namespace {

constexpr std::size_t kRowPointerBytes = 4;
constexpr std::size_t kChildBytes = 4;

// Items of one level: entries (key and row pointer) back to back, and the
// child page each stands for (0 on the leaf level).
struct Level {
  bool leaf = true;
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> starts{0};
  std::vector<uint32_t> children;

  std::size_t count() const { return starts.size() - 1; }
  std::span<const uint8_t> entry(std::size_t i) const {
    return {bytes.data() + starts[i], starts[i + 1] - starts[i]};
  }
  void add(std::span<const uint8_t> e, uint32_t child) {
    bytes.insert(bytes.end(), e.begin(), e.end());
    starts.push_back(static_cast<uint32_t>(bytes.size()));
    if (!leaf) children.push_back(child);
  }
};

// Longest prefix the keys of entries a and b share (row pointers excluded).
std::size_t common_prefix(std::span<const uint8_t> a, std::span<const uint8_t> b) {
  const std::size_t limit = std::min(a.size(), b.size()) - kRowPointerBytes;
  std::size_t n = 0;
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// The items [from, from + stored) listed on one page: whether they fit,
// and the prefix the page then uses.
bool listed_fit(const Level& level, std::size_t from, std::size_t stored, std::size_t& prefix) {
  prefix = 0;
  if (stored == 0) return true;
  const std::size_t whole =
      level.starts[from + stored] - level.starts[from] + (level.leaf ? 0 : kChildBytes * stored);
  if (whole <= kIndexEntryCapacity) return true;
  if (stored < 2) return false;
  prefix = common_prefix(level.entry(from), level.entry(from + stored - 1));
  return whole - prefix * (stored - 1) <= kIndexEntryCapacity;
}

std::size_t listed(const Level& level, std::size_t items) {
  return level.leaf || items < 2 ? items : items - 1;
}

struct PageRun {
  std::size_t from = 0;
  std::size_t items = 0;
  std::size_t prefix = 0;
};

std::vector<PageRun> pack(const Level& level) {
  std::vector<PageRun> runs;
  std::size_t from = 0;
  const std::size_t n = level.count();
  while (from < n) {
    PageRun run{from, 1, 0};
    std::size_t prefix = 0;
    listed_fit(level, from, listed(level, 1), run.prefix);
    while (from + run.items < n && listed_fit(level, from, listed(level, run.items + 1), prefix)) {
      ++run.items;
      run.prefix = prefix;
    }
    runs.push_back(run);
    from += run.items;
  }
  return runs;
}

}  // namespace

bool index_is_empty(PageSource& pages, const IndexLayout& layout) {
  if (layout.first_page == 0 || layout.first_page >= pages.page_count()) return false;
  const uint8_t* page = pages.page(layout.first_page);
  if (page[0] != kLeafPageType) return false;
  for (std::size_t i = 0; i < kIndexMaskSize; ++i) {
    if (page[kIndexMaskOffset + i] != 0) return false;
  }
  return true;
}

void IndexBuilder::add(std::span<const uint8_t> key, RowPointer row, bool may_clash) {
  const auto where = [&] {
    return "index '" + layout_.name + "' of table '" + layout_.table_name + "'";
  };
  if (key.size() > IndexWriter::kMaxKeyBytes) {
    throw Error(ErrorCategory::kConstraint, where() + ": a key of " + std::to_string(key.size()) +
                                                " bytes is longer than an index page can hold");
  }
  if (row.page == 0 || row.page > 0xFFFFFF) {
    throw Error(ErrorCategory::kInvalidArgument,
                where() + ": row pointer to page " + std::to_string(row.page) + " cannot be indexed");
  }
  starts_.push_back(static_cast<uint32_t>(bytes_.size()));
  bytes_.insert(bytes_.end(), key.begin(), key.end());
  bytes_.push_back(static_cast<uint8_t>(row.page >> 16));
  bytes_.push_back(static_cast<uint8_t>(row.page >> 8));
  bytes_.push_back(static_cast<uint8_t>(row.page));
  bytes_.push_back(row.row);
  may_clash_.push_back(may_clash);
}

void IndexBuilder::build(PageSource& pages, IndexPageStore& store, IndexPageAllocator& allocator) {
  const std::string where = pages.file_name() + ": index '" + layout_.name + "' of table '" + layout_.table_name + "'";
  if (!index_is_empty(pages, layout_)) {
    throw Error(ErrorCategory::kInvalidArgument, where + ": an index can only be built whole while it is empty");
  }
  if (starts_.empty()) return;

  // Sort the entries (key, then row pointer, byte by byte).
  const std::size_t n = starts_.size();
  auto entry = [&](uint32_t i) {
    const std::size_t end = i + 1 < n ? starts_[i + 1] : bytes_.size();
    return std::span<const uint8_t>(bytes_.data() + starts_[i], end - starts_[i]);
  };
  std::vector<uint32_t> order(n);
  for (uint32_t i = 0; i < n; ++i) order[i] = i;
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    auto x = entry(a);
    auto y = entry(b);
    const int c = std::memcmp(x.data(), y.data(), std::min(x.size(), y.size()));
    return c != 0 ? c < 0 : x.size() < y.size();
  });

  Level level;
  level.bytes.reserve(bytes_.size());
  level.starts.reserve(n + 1);
  for (std::size_t k = 0; k < n; ++k) {
    auto e = entry(order[k]);
    if (k > 0 && layout_.unique && may_clash_[order[k]] && may_clash_[order[k - 1]]) {
      auto p = entry(order[k - 1]);
      if (p.size() == e.size() && std::memcmp(p.data(), e.data(), e.size() - kRowPointerBytes) == 0) {
        auto row_of = [](std::span<const uint8_t> x) {
          const uint8_t* r = x.data() + x.size() - kRowPointerBytes;
          return "page " + std::to_string((r[0] << 16) | (r[1] << 8) | r[2]) + " row " + std::to_string(r[3]);
        };
        throw Error(ErrorCategory::kConstraint, "the rows at " + row_of(p) + " and " + row_of(e) +
                                                    " have the same key in the unique index '" + layout_.name +
                                                    "' of table '" + layout_.table_name + "'");
      }
    }
    level.add(e, 0);
  }
  bytes_.clear();
  bytes_.shrink_to_fit();

  const uint8_t root_byte_1a = pages.page(layout_.first_page)[kIndexPrefixLengthOffset + 2];
  IndexPage page;
  for (int depth = 0;; ++depth) {
    if (depth >= 32) throw Error(ErrorCategory::kInvalidArgument, where + ": the tree would be too deep");
    const std::vector<PageRun> runs = pack(level);
    const bool top = runs.size() == 1;
    std::vector<uint32_t> numbers(runs.size());
    for (std::size_t r = 0; r < runs.size(); ++r) {
      numbers[r] = top ? layout_.first_page : allocator.allocate_index_page(layout_);
      if (numbers[r] == 0 || numbers[r] >= pages.page_count()) {
        throw Error(ErrorCategory::kInvalidArgument, where + ": the allocator handed out page " +
                                                         std::to_string(numbers[r]) + ", which is not in the file");
      }
    }
    Level up;
    up.leaf = false;
    for (std::size_t r = 0; r < runs.size(); ++r) {
      const PageRun& run = runs[r];
      const std::size_t stored = listed(level, run.items);
      page.clear();
      page.number = numbers[r];
      page.leaf = level.leaf;
      page.tdef_page = layout_.tdef_page;
      page.prev_page = r > 0 ? numbers[r - 1] : 0;
      page.next_page = r + 1 < runs.size() ? numbers[r + 1] : 0;
      page.tail_page = !level.leaf && run.items >= 2 ? level.children[run.from + run.items - 1] : 0;
      page.prefix_length = static_cast<uint16_t>(run.prefix);
      page.byte_1a = top ? root_byte_1a : 0;
      page.starts.push_back(0);
      for (std::size_t i = run.from; i < run.from + stored; ++i) {
        auto e = level.entry(i);
        page.bytes.insert(page.bytes.end(), e.begin(), e.end());
        if (!level.leaf) {
          const uint32_t c = level.children[i];
          for (int shift = 24; shift >= 0; shift -= 8) page.bytes.push_back(static_cast<uint8_t>(c >> shift));
        }
        page.starts.push_back(static_cast<uint32_t>(page.bytes.size()));
      }
      encode_index_page(page, store.page_for_write(numbers[r]));
      up.add(level.entry(run.from + run.items - 1), numbers[r]);
    }
    if (top) return;
    level = std::move(up);
  }
}

}  // namespace jet::index
