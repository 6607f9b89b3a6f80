// Walking a Jet 4 index tree.
//
// The tree: the root (IndexLayout::first_page) is a leaf page when the index
// fits on one page, otherwise an intermediate page. Each intermediate entry
// names a child page whose subtree ends with that entry's key and row; an
// intermediate page may also name a tail page, a last child that Jet appends
// to without touching the entries above (see index_page.cc). Leaves are
// chained with next/previous links in key order, tail pages included.
//
// Seeking descends from the root to the first child whose last entry is >=
// the sought key, then searches the leaf; when the leaf holds nothing >= the
// key the cursor continues along the leaf chain. Scans follow the leaf chain
// from the leftmost leaf and check, page to page, that entries keep rising:
// any loop in the chain revisits entries that are not greater and is reported
// as such; chains of pages without entries are bounded by the page count.
#include "index/index_reader.h"

#include <bit>
#include <cstring>
#include <string>

#include "index/key_encoding.h"
#include "jet/error.h"

namespace jet::index {
namespace {

constexpr int kMaxDepth = 32;  // a 4096-byte page holds at least ~7 entries: far deeper than any real tree

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

[[noreturn]] void corrupt(PageSource& pages, const IndexLayout& layout, uint32_t page, const std::string& what) {
  throw Error(ErrorCategory::kCorruption, pages.file_name() + ": index '" + layout.name + "' of table '" +
                                              layout.table_name + "', page " + std::to_string(page) + ": " + what);
}

// Compares the concatenation a1 || a2 with b, byte-wise.
int compare_split(const uint8_t* a1, std::size_t n1, const uint8_t* a2, std::size_t n2, std::span<const uint8_t> b) {
  const std::size_t m1 = n1 < b.size() ? n1 : b.size();
  if (m1 > 0) {
    int c = std::memcmp(a1, b.data(), m1);
    if (c != 0) return c;
  }
  if (n1 > b.size()) return 1;
  const std::size_t rest = b.size() - n1;
  const std::size_t m2 = n2 < rest ? n2 : rest;
  if (m2 > 0) {
    int c = std::memcmp(a2, b.data() + n1, m2);
    if (c != 0) return c;
  }
  const std::size_t total = n1 + n2;
  return total < b.size() ? -1 : (total > b.size() ? 1 : 0);
}

// On intermediate page `page_number` (bytes `page`), the child to descend
// into for the first entry >= key: the child of the first entry whose key
// and row are >= key, else the tail page, else the last child. Reads the
// entries in place (no copy). Returns 0 when the page has no entries and no
// tail.
uint32_t find_child(PageSource& pages, const IndexLayout& layout, const uint8_t* page, uint32_t page_number,
                    std::span<const uint8_t> key) {
  const uint32_t page_count = pages.page_count();
  const std::size_t prefix_length = static_cast<uint16_t>(page[kIndexPrefixLengthOffset] |
                                                          (page[kIndexPrefixLengthOffset + 1] << 8));
  const uint32_t tail = le32(page + kIndexTailOffset);
  const uint8_t* data = page + kIndexEntriesOffset;
  const uint8_t* mask = page + kIndexMaskOffset;
  std::size_t start = 0;
  std::size_t count = 0;
  std::size_t prefix = 0;
  uint32_t last_child = 0;
  for (std::size_t byte = 0; byte < kIndexMaskSize; ++byte) {
    unsigned bits = mask[byte];
    while (bits != 0) {
      const int bit = std::countr_zero(bits);
      bits &= bits - 1;
      const std::size_t end = byte * 8 + static_cast<std::size_t>(bit);
      if (end > kIndexEntryCapacity || end <= start) {
        corrupt(pages, layout, page_number, "entry mask is damaged");
      }
      if (count == 1) {
        prefix = prefix_length;
        if (prefix > start) corrupt(pages, layout, page_number, "shared prefix is longer than the first entry");
      }
      const std::size_t stored = end - start;
      if (prefix + stored < 9) corrupt(pages, layout, page_number, "an intermediate entry is too short");
      const uint8_t* child_bytes = data + end - 4;
      const uint32_t child = (static_cast<uint32_t>(child_bytes[0]) << 24) |
                             (static_cast<uint32_t>(child_bytes[1]) << 16) |
                             (static_cast<uint32_t>(child_bytes[2]) << 8) | child_bytes[3];
      if (child == 0 || child >= page_count || child == page_number) {
        corrupt(pages, layout, page_number,
                "entry " + std::to_string(count) + " points to child page " + std::to_string(child) +
                    ", which is out of range");
      }
      // Entry without its child pointer = first `prefix` bytes of entry 0,
      // then the stored bytes minus the child pointer.
      const int c = compare_split(data, prefix, data + start, stored - 4, key);
      if (c >= 0) return child;
      last_child = child;
      start = end;
      ++count;
    }
  }
  if (tail != 0) {
    if (tail >= page_count || tail == page_number) {
      corrupt(pages, layout, page_number, "tail page " + std::to_string(tail) + " is out of range");
    }
    return tail;
  }
  return last_child;
}

}  // namespace

struct IndexCursor::State {
  PageSource* pages = nullptr;
  const IndexLayout* layout = nullptr;
  IndexPage leaf;
  std::size_t pos = 0;
  uint32_t pages_walked = 0;
  std::vector<uint8_t> last_of_previous;  // last entry of the previous leaf, for order checks
  bool has_end = false;
  bool end_inclusive = true;
  std::vector<uint8_t> end_key;
};

IndexCursor::IndexCursor(std::unique_ptr<State> state) : state_(std::move(state)) {}
IndexCursor::IndexCursor(IndexCursor&&) noexcept = default;
IndexCursor& IndexCursor::operator=(IndexCursor&&) noexcept = default;
IndexCursor::~IndexCursor() = default;

std::span<const uint8_t> IndexCursor::key() const { return state_->leaf.key(state_->pos); }

RowPointer IndexCursor::row() const { return state_->leaf.row(state_->pos); }

namespace {

// Loads leaf `number` into the cursor state, checking it continues the chain.
void load_leaf(IndexCursor::State& s, uint32_t number, uint32_t from) {
  PageSource& pages = *s.pages;
  const IndexLayout& layout = *s.layout;
  if (++s.pages_walked > pages.page_count()) {
    corrupt(pages, layout, number, "the leaf page chain loops (more pages walked than the file holds)");
  }
  const uint8_t* page = pages.page(number);
  if (page[0] != kLeafPageType) {
    corrupt(pages, layout, number,
            from != 0 ? "the leaf chain from page " + std::to_string(from) + " leads to a page that is not a leaf"
                      : std::string("expected a leaf page"));
  }
  decode_index_page(page, number, pages.page_count(), pages.file_name(), layout, s.leaf);
  if (from != 0 && s.leaf.prev_page != from) {
    corrupt(pages, layout, number,
            "previous-page link " + std::to_string(s.leaf.prev_page) + " does not lead back to page " +
                std::to_string(from) + " (a broken or looping leaf chain)");
  }
  if (from != 0 && s.leaf.entry_count() > 0 && !s.last_of_previous.empty() &&
      compare_keys(s.last_of_previous, s.leaf.entry(0)) >= 0) {
    corrupt(pages, layout, number,
            "its first entry is not greater than the last entry of page " + std::to_string(from) +
                " (a looping or misordered leaf chain)");
  }
}

// Moves past empty leaves; returns false at the end of the chain.
bool settle(IndexCursor::State& s) {
  while (s.pos >= s.leaf.entry_count()) {
    const uint32_t next = s.leaf.next_page;
    if (next == 0) return false;
    const uint32_t from = s.leaf.number;
    if (s.leaf.entry_count() > 0) {
      auto last = s.leaf.entry(s.leaf.entry_count() - 1);
      s.last_of_previous.assign(last.begin(), last.end());
    }
    load_leaf(s, next, from);
    s.pos = 0;
  }
  return true;
}

bool within_end(const IndexCursor::State& s) {
  if (!s.has_end) return true;
  auto key = s.leaf.key(s.pos);
  const int c = compare_keys(key, s.end_key);
  if (s.end_inclusive) return c <= 0 || key_has_prefix(key, s.end_key);
  return c < 0;  // a key that starts with the bound compares greater
}

}  // namespace

void IndexCursor::next() {
  if (!valid_) return;
  ++state_->pos;
  valid_ = settle(*state_) && within_end(*state_);
}

IndexReader::IndexReader(PageSource& pages, const IndexLayout& layout) : pages_(pages), layout_(layout) {}

uint32_t IndexReader::descend(std::span<const uint8_t> key, std::vector<uint32_t>* path) {
  uint32_t number = layout_.first_page;
  if (number == 0 || number >= pages_.page_count()) {
    corrupt(pages_, layout_, number,
            "the index's root page is out of range (file has " + std::to_string(pages_.page_count()) + " pages)");
  }
  uint32_t visited[kMaxDepth];
  int depth = 0;
  for (;;) {
    if (path != nullptr) path->push_back(number);
    const uint8_t* page = pages_.page(number);
    if (page[0] == kLeafPageType) return number;
    if (page[0] != kIntermediatePageType) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "0x%02X", page[0]);
      corrupt(pages_, layout_, number,
              std::string(depth == 0 ? "the index's root" : "a child page") +
                  " is not an index page (type " + hex + ")");
    }
    if (layout_.tdef_page != 0 && le32(page + kIndexTdefOffset) != layout_.tdef_page) {
      corrupt(pages_, layout_, number, "the page belongs to another table");
    }
    for (int i = 0; i < depth; ++i) {
      if (visited[i] == number) corrupt(pages_, layout_, number, "the index tree loops back to this page");
    }
    if (depth == kMaxDepth) corrupt(pages_, layout_, number, "the index tree is deeper than any real one");
    visited[depth++] = number;
    const uint32_t child = find_child(pages_, layout_, page, number, key);
    if (child == 0) return 0;  // an intermediate page without entries: an empty index
    number = child;
  }
}

std::vector<uint32_t> IndexReader::leaf_path(std::span<const uint8_t> entry) {
  std::vector<uint32_t> path;
  if (descend(entry, &path) == 0) path.clear();
  return path;
}

void IndexReader::position(IndexCursor& cursor, std::span<const uint8_t> key) {
  IndexCursor::State& s = *cursor.state_;
  const uint32_t number = descend(key, nullptr);
  if (number == 0) {
    cursor.valid_ = false;
    s.leaf.clear();
    return;
  }
  s.pages_walked = 0;
  s.last_of_previous.clear();
  load_leaf(s, number, 0);
  // First entry >= key on this leaf (entries rise strictly).
  std::size_t lo = 0;
  std::size_t hi = s.leaf.entry_count();
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    if (compare_keys(s.leaf.entry(mid), key) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  s.pos = lo;
  cursor.valid_ = settle(s) && within_end(s);
}

IndexCursor IndexReader::start_cursor() {
  auto state = std::make_unique<IndexCursor::State>();
  state->pages = &pages_;
  state->layout = &layout_;
  return IndexCursor(std::move(state));
}

IndexCursor IndexReader::first() {
  IndexCursor cursor = start_cursor();
  position(cursor, {});
  return cursor;
}

IndexCursor IndexReader::lower_bound(std::span<const uint8_t> key) {
  IndexCursor cursor = start_cursor();
  position(cursor, key);
  return cursor;
}

IndexCursor IndexReader::seek(std::span<const Value> values) {
  key_buffer_.clear();
  append_key(layout_, values, key_buffer_);
  return lower_bound(key_buffer_);
}

std::vector<RowPointer> IndexReader::scan() {
  std::vector<RowPointer> rows;
  for (IndexCursor c = first(); c.valid(); c.next()) rows.push_back(c.row());
  return rows;
}

IndexCursor& IndexReader::scratch_cursor() {
  if (!scratch_) scratch_ = std::make_unique<IndexCursor>(start_cursor());
  IndexCursor::State& s = *scratch_->state_;
  s.has_end = false;
  s.end_key.clear();
  return *scratch_;
}

std::vector<RowPointer> IndexReader::find(std::span<const Value> values) {
  key_buffer_.clear();
  append_key(layout_, values, key_buffer_);
  std::vector<RowPointer> rows;
  IndexCursor& c = scratch_cursor();
  position(c, key_buffer_);
  for (; c.valid() && key_has_prefix(c.key(), key_buffer_); c.next()) rows.push_back(c.row());
  return rows;
}

std::vector<RowPointer> IndexReader::range(const std::optional<KeyBound>& from, const std::optional<KeyBound>& to) {
  std::vector<uint8_t> from_key;
  std::vector<uint8_t> to_key;
  if (from) append_key(layout_, from->values, from_key);
  if (to) append_key(layout_, to->values, to_key);
  return range_bytes(from_key, from ? from->inclusive : true, from.has_value(), to_key, to ? to->inclusive : true,
                     to.has_value());
}

std::vector<RowPointer> IndexReader::range_bytes(std::span<const uint8_t> from, bool from_inclusive, bool has_from,
                                                 std::span<const uint8_t> to, bool to_inclusive, bool has_to) {
  IndexCursor cursor = start_cursor();
  cursor.state_->has_end = has_to;
  cursor.state_->end_inclusive = to_inclusive;
  cursor.state_->end_key.assign(to.begin(), to.end());
  position(cursor, has_from ? from : std::span<const uint8_t>{});
  if (has_from && !from_inclusive) {
    while (cursor.valid() && key_has_prefix(cursor.key(), from)) cursor.next();
  }
  std::vector<RowPointer> rows;
  for (; cursor.valid(); cursor.next()) rows.push_back(cursor.row());
  return rows;
}

}  // namespace jet::index
