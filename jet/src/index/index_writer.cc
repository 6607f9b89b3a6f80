// Keeping a Jet 4 index tree up to date: inserting and removing entries,
// splitting and freeing pages, as Access lays its indexes out.
//
// Layout rules followed (F = seen on every index page of the Access-written
// fixtures, J = as the independent Jackcess writer does, ours = our choice
// where neither shows Access's rule):
//   - The root page never moves (the table definition names it). A root that
//     overflows keeps its number: its entries move to a new page that becomes
//     the root's only child, which is then split.                      F, J
//   - An empty index is an empty leaf root; a root intermediate page that
//     loses its last child becomes an empty leaf again.                F, J
//   - Every intermediate entry equals the last entry (key and row pointer)
//     of the subtree of its child page.                                F, J
//   - An intermediate page with two or more children names the last one as
//     its tail page and lists only the others as entries; with one child it
//     lists that child and has no tail.                                F, J
//   - Prefix compression: a page whose full entries fit its 3,616 bytes
//     stores them whole (prefix length 0); a page that needs compression to
//     fit uses the longest key prefix its first and last entries share. F (on
//     all of the fixtures' 500+ index pages)
//   - A page that does not fit even compressed is split: the first half of
//     its entries (by count) moves to a new page linked in before it, so the
//     original page keeps its parent entry.                            J; F (the
//     interleaved page numbers of the products fixtures' leaves)
//   - An entry appended past the end of the last leaf when that leaf is full
//     starts a new last leaf of its own, leaving the full page full (the
//     compIndexTest fixture: a 510-entry leaf followed by a 2-entry tail);
//     sequential keys (counters) so fill their pages.                  F
//   - Pages of every level are chained with previous/next links in key
//     order, also across parents.                                      notes
//   - A page left without entries is unlinked from its neighbours, dropped
//     from its parent and given back to the allocator (its usage-map bit
//     cleared).                                                        J, ours
//   - Header byte 0x1A is kept as read; new pages get 0.               ours
//
// One operation loads the pages on the path from the root to the leaf,
// changes them in memory (entries as full bytes, intermediate pages with
// their tail as a last child), settles overflows and emptied pages bottom
// up, and writes each changed page once, encoded with the rules above.
#include "index/index_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "index/index_reader.h"
#include "index/key_encoding.h"
#include "jet/error.h"

namespace jet::index {
namespace {

constexpr std::size_t kRowPointerBytes = 4;
constexpr std::size_t kChildBytes = 4;

int compare_bytes(std::span<const uint8_t> a, std::span<const uint8_t> b) { return compare_keys(a, b); }

void append_row_pointer(std::vector<uint8_t>& out, RowPointer row) {
  out.push_back(static_cast<uint8_t>(row.page >> 16));
  out.push_back(static_cast<uint8_t>(row.page >> 8));
  out.push_back(static_cast<uint8_t>(row.page));
  out.push_back(row.row);
}

std::string quote_value(const Value& v) {
  struct Visitor {
    std::string operator()(std::monostate) const { return "Null"; }
    std::string operator()(bool b) const { return b ? "True" : "False"; }
    std::string operator()(uint8_t x) const { return std::to_string(x); }
    std::string operator()(int16_t x) const { return std::to_string(x); }
    std::string operator()(int32_t x) const { return std::to_string(x); }
    std::string operator()(const Currency& c) const {
      const int64_t whole = c.ten_thousandths / 10000;
      int64_t frac = c.ten_thousandths % 10000;
      if (frac < 0) frac = -frac;
      char buf[48];
      std::snprintf(buf, sizeof buf, "%s%lld.%04lld", (c.ten_thousandths < 0 && whole == 0) ? "-" : "",
                    static_cast<long long>(whole), static_cast<long long>(frac));
      return buf;
    }
    std::string operator()(float x) const {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.9g", x);
      return buf;
    }
    std::string operator()(double x) const {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.17g", x);
      return buf;
    }
    std::string operator()(const DateTime& d) const {
      char buf[48];
      std::snprintf(buf, sizeof buf, "date %.10g", d.days);
      return buf;
    }
    std::string operator()(const std::string& s) const { return "'" + s + "'"; }
    std::string operator()(const Bytes& b) const { return std::to_string(b.data.size()) + " bytes of binary data"; }
    std::string operator()(const Guid&) const { return "a GUID"; }
    std::string operator()(const Decimal&) const { return "a decimal value"; }
  };
  return std::visit(Visitor{}, v);
}

}  // namespace


// One index page in memory while an operation changes it. Entries are held
// whole (key bytes and row pointer, no shared prefix, no child pointer);
// an intermediate page holds one child per entry, its tail page included as
// the last child. The tail's entry is the last entry of the page's own
// subtree, known from the parent's entry for this page; on the rightmost
// path of the tree nothing names it, and `last_unknown` marks the
// placeholder (it is looked up only if that child must become a listed
// entry).
struct IndexWriter::Node {
  uint32_t number = 0;
  bool leaf = true;
  uint32_t prev = 0;
  uint32_t next = 0;
  uint8_t byte_1a = 0;
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> starts{0};  // count() + 1 offsets into bytes
  std::vector<uint32_t> children;   // intermediate pages: one per entry
  bool last_unknown = false;
  bool dirty = false;         // must be written
  bool last_changed = false;  // the parent's entry for this page must follow

  std::size_t count() const { return starts.size() - 1; }
  std::span<const uint8_t> entry(std::size_t i) const {
    return {bytes.data() + starts[i], starts[i + 1] - starts[i]};
  }
  bool known(std::size_t i) const { return !(last_unknown && i + 1 == count()); }

  void insert(std::size_t i, std::span<const uint8_t> e, uint32_t child) {
    const uint32_t at = starts[i];
    bytes.insert(bytes.begin() + at, e.begin(), e.end());
    starts.insert(starts.begin() + static_cast<std::ptrdiff_t>(i) + 1, at);
    for (std::size_t k = i + 1; k < starts.size(); ++k) starts[k] += static_cast<uint32_t>(e.size());
    if (!leaf) children.insert(children.begin() + static_cast<std::ptrdiff_t>(i), child);
  }
  void erase(std::size_t i) {
    if (!leaf && last_unknown && i + 1 == count()) last_unknown = false;
    const uint32_t at = starts[i];
    const uint32_t n = starts[i + 1] - at;
    bytes.erase(bytes.begin() + at, bytes.begin() + at + n);
    starts.erase(starts.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    for (std::size_t k = i + 1; k < starts.size(); ++k) starts[k] -= n;
    if (!leaf) children.erase(children.begin() + static_cast<std::ptrdiff_t>(i));
  }
  void replace(std::size_t i, std::span<const uint8_t> e) {
    const uint32_t child = leaf ? 0 : children[i];
    const bool was_last_unknown = last_unknown;
    erase(i);
    insert(i, e, child);
    if (was_last_unknown && i + 1 != count()) last_unknown = true;
  }
  // Moves entries [0, k) into `front` (an empty node of the same kind).
  void move_front_to(std::size_t k, Node& front) {
    const uint32_t cut = starts[k];
    front.bytes.assign(bytes.begin(), bytes.begin() + cut);
    front.starts.assign(starts.begin(), starts.begin() + static_cast<std::ptrdiff_t>(k) + 1);
    bytes.erase(bytes.begin(), bytes.begin() + cut);
    starts.erase(starts.begin(), starts.begin() + static_cast<std::ptrdiff_t>(k));
    for (auto& s : starts) s -= cut;
    if (!leaf) {
      front.children.assign(children.begin(), children.begin() + static_cast<std::ptrdiff_t>(k));
      children.erase(children.begin(), children.begin() + static_cast<std::ptrdiff_t>(k));
    }
  }
  // Entries listed on the page: all but the tail on intermediate pages
  // with two or more children.
  std::size_t stored_count() const { return leaf || count() < 2 ? count() : count() - 1; }
};

struct IndexWriter::Frame {
  Node node;
  std::size_t pos = 0;  // leaf: where the entry is or goes; intermediate: the child followed
};

namespace {

using Node = IndexWriter::Node;

// Bytes the page's listed entries take whole, and with the shared prefix
// Access would choose; the prefix chosen is returned in `prefix`.
std::size_t page_bytes(const Node& n, std::size_t stored, std::size_t& prefix) {
  prefix = 0;
  if (stored == 0) return 0;
  const std::size_t whole = n.starts[stored] + (n.leaf ? 0 : kChildBytes * stored);
  if (whole <= kIndexEntryCapacity || stored < 2) return whole;
  auto a = n.entry(0);
  auto b = n.entry(stored - 1);
  const std::size_t limit = std::min(a.size(), b.size()) - kRowPointerBytes;
  while (prefix < limit && a[prefix] == b[prefix]) ++prefix;
  return whole - prefix * (stored - 1);
}

bool fits(const Node& n) {
  std::size_t prefix = 0;
  return page_bytes(n, n.stored_count(), prefix) <= kIndexEntryCapacity;
}

}  // namespace

IndexWriter::IndexWriter(PageSource& pages, IndexPageStore& store, IndexPageAllocator& allocator,
                         const IndexLayout& layout)
    : pages_(pages), store_(store), allocator_(allocator), layout_(layout) {}

IndexWriter::~IndexWriter() = default;

std::vector<uint8_t> IndexWriter::key_for(std::span<const Value> values) const {
  return encode_key(layout_, values);
}

bool IndexWriter::skips(std::span<const uint8_t> key) const {
  if (!layout_.ignore_nulls || key.size() != layout_.columns.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (key[i] != (layout_.columns[i].ascending ? 0x00 : 0xFF)) return false;
  }
  return true;
}

[[noreturn]] void IndexWriter::fail(ErrorCategory category, const std::string& what) const {
  throw Error(category, pages_.file_name() + ": index '" + layout_.name + "' of table '" + layout_.table_name +
                            "': " + what);
}

void IndexWriter::check_insert(std::span<const Value> values, std::span<const uint8_t> key,
                               std::optional<RowPointer> self) {
  bool any_null = false;
  for (std::size_t i = 0; i < values.size() && i < layout_.columns.size(); ++i) {
    if (is_null(values[i]) && layout_.columns[i].type != ColumnType::kBoolean) any_null = true;
  }
  auto value_list = [&] {
    std::string s;
    for (std::size_t i = 0; i < values.size(); ++i) {
      if (i > 0) s += ", ";
      s += quote_value(values[i]);
    }
    return s;
  };
  if (any_null && (layout_.primary_key || layout_.required)) {
    throw Error(ErrorCategory::kConstraint,
                "index '" + layout_.name + "' of table '" + layout_.table_name + "' does not accept Null (key " +
                    value_list() + ")");
  }
  if (!layout_.unique || any_null || skips(key)) return;
  IndexReader reader(pages_, layout_);
  for (IndexCursor c = reader.lower_bound(key); c.valid(); c.next()) {
    if (compare_keys(c.key(), key) != 0) break;
    if (self && c.row() == *self) continue;
    throw Error(ErrorCategory::kConstraint,
                "the value " + value_list() + " is already in the unique index '" + layout_.name + "' of table '" +
                    layout_.table_name + "'");
  }
}

void IndexWriter::load(uint32_t number, Node& out, const std::vector<uint8_t>* upper) {
  if (number == 0 || number >= pages_.page_count()) {
    fail(ErrorCategory::kCorruption, "page pointer " + std::to_string(number) + " is out of range");
  }
  decode_index_page(pages_.page(number), number, pages_.page_count(), pages_.file_name(), layout_, scratch_);
  out = Node{};
  out.number = number;
  out.leaf = scratch_.leaf;
  out.prev = scratch_.prev_page;
  out.next = scratch_.next_page;
  out.byte_1a = scratch_.byte_1a;
  const std::size_t n = scratch_.entry_count();
  if (out.leaf) {
    out.bytes = scratch_.bytes;
    out.starts = n == 0 ? std::vector<uint32_t>{0} : scratch_.starts;
    return;
  }
  out.bytes.reserve(scratch_.bytes.size());
  out.children.reserve(n + 1);
  out.starts.reserve(n + 2);
  for (std::size_t i = 0; i < n; ++i) {
    auto e = scratch_.entry_without_child(i);
    out.bytes.insert(out.bytes.end(), e.begin(), e.end());
    out.starts.push_back(static_cast<uint32_t>(out.bytes.size()));
    out.children.push_back(scratch_.child(i));
  }
  if (scratch_.tail_page != 0) {
    if (upper != nullptr) {
      out.bytes.insert(out.bytes.end(), upper->begin(), upper->end());
    } else {
      out.last_unknown = true;
    }
    out.starts.push_back(static_cast<uint32_t>(out.bytes.size()));
    out.children.push_back(scratch_.tail_page);
  }
}

std::vector<uint8_t> IndexWriter::subtree_last(uint32_t number) {
  for (uint32_t depth = 0; depth < 64; ++depth) {
    decode_index_page(pages_.page(number), number, pages_.page_count(), pages_.file_name(), layout_, scratch_);
    const std::size_t n = scratch_.entry_count();
    if (scratch_.leaf) {
      if (n == 0) fail(ErrorCategory::kCorruption, "page " + std::to_string(number) + " is an empty leaf inside the tree");
      auto e = scratch_.entry(n - 1);
      return {e.begin(), e.end()};
    }
    if (scratch_.tail_page != 0) {
      number = scratch_.tail_page;
    } else if (n > 0) {
      number = scratch_.child(n - 1);
    } else {
      fail(ErrorCategory::kCorruption, "page " + std::to_string(number) + " is an empty intermediate page");
    }
  }
  fail(ErrorCategory::kCorruption, "the index tree is deeper than any real one");
}

void IndexWriter::store(Node& n) {
  IndexPage& p = scratch_;
  p.clear();
  p.number = n.number;
  p.leaf = n.leaf;
  p.tdef_page = layout_.tdef_page;
  p.prev_page = n.prev;
  p.next_page = n.next;
  p.byte_1a = n.byte_1a;
  const std::size_t stored = n.stored_count();
  if (!n.leaf && n.count() == 1 && n.last_unknown) {
    // The only child must be listed: find its last entry.
    const uint32_t child = n.children[0];
    std::vector<uint8_t> last = subtree_last(child);
    n.erase(0);
    n.insert(0, last, child);
    p.clear();
    p.number = n.number;
    p.leaf = false;
    p.tdef_page = layout_.tdef_page;
    p.prev_page = n.prev;
    p.next_page = n.next;
    p.byte_1a = n.byte_1a;
  }
  if (n.leaf) {
    p.bytes = n.bytes;
    p.starts = n.count() == 0 ? std::vector<uint32_t>{} : n.starts;
  } else {
    p.starts.push_back(0);
    for (std::size_t i = 0; i < stored; ++i) {
      auto e = n.entry(i);
      p.bytes.insert(p.bytes.end(), e.begin(), e.end());
      const uint32_t c = n.children[i];
      for (int shift = 24; shift >= 0; shift -= 8) p.bytes.push_back(static_cast<uint8_t>(c >> shift));
      p.starts.push_back(static_cast<uint32_t>(p.bytes.size()));
    }
    if (stored == 0) p.starts.clear();
    p.tail_page = n.count() >= 2 ? n.children.back() : 0;
  }
  std::size_t prefix = 0;
  const std::size_t used = page_bytes(n, stored, prefix);
  if (used > kIndexEntryCapacity) {
    fail(ErrorCategory::kInvalidArgument, "page " + std::to_string(n.number) + " overflows");
  }
  p.prefix_length = static_cast<uint16_t>(prefix);
  encode_index_page(p, store_.page_for_write(n.number));
  n.dirty = false;
}

void IndexWriter::set_link(uint32_t number, bool next_link, uint32_t value) {
  uint8_t* page = store_.page_for_write(number);
  if (page[0] != kLeafPageType && page[0] != kIntermediatePageType) {
    fail(ErrorCategory::kCorruption, "page " + std::to_string(number) + " in an index page chain is not an index page");
  }
  const std::size_t at = next_link ? kIndexNextOffset : kIndexPrevOffset;
  for (int i = 0; i < 4; ++i) page[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t IndexWriter::new_page() {
  const uint32_t number = allocator_.allocate_index_page(layout_);
  if (number == 0 || number >= pages_.page_count()) {
    fail(ErrorCategory::kInvalidArgument, "the allocator handed out page " + std::to_string(number) +
                                              ", which is not in the file");
  }
  return number;
}

void IndexWriter::descend(std::span<const uint8_t> entry) {
  path_.clear();
  uint32_t number = layout_.first_page;
  const std::vector<uint8_t>* upper = nullptr;
  std::vector<uint8_t> upper_copy;
  for (int depth = 0;; ++depth) {
    if (depth >= 32) fail(ErrorCategory::kCorruption, "the index tree is deeper than any real one");
    path_.emplace_back();
    Frame& f = path_.back();
    load(number, f.node, upper);
    const Node& n = f.node;
    // First entry >= `entry` (the unknown last entry counts as greater).
    std::size_t lo = 0;
    std::size_t hi = n.leaf ? n.count() : (n.last_unknown ? n.count() - 1 : n.count());
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      if (compare_bytes(n.entry(mid), entry) < 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    f.pos = lo;
    if (n.leaf) return;
    if (n.count() == 0) {
      if (depth == 0) {
        fail(ErrorCategory::kCorruption, "the root page " + std::to_string(number) + " is an intermediate page without entries");
      }
      fail(ErrorCategory::kCorruption, "page " + std::to_string(number) + " is an intermediate page without entries");
    }
    if (f.pos == n.count()) f.pos = n.count() - 1;
    for (std::size_t d = 0; d + 1 < path_.size(); ++d) {
      if (path_[d].node.number == n.children[f.pos]) fail(ErrorCategory::kCorruption, "the index tree loops");
    }
    if (n.known(f.pos)) {
      auto e = n.entry(f.pos);
      upper_copy.assign(e.begin(), e.end());
      upper = &upper_copy;
    } else {
      upper = nullptr;
    }
    number = n.children[f.pos];
  }
}

void IndexWriter::insert(std::span<const uint8_t> key, RowPointer row) {
  if (skips(key)) return;
  if (key.size() > kMaxKeyBytes) {
    fail(ErrorCategory::kConstraint, "a key of " + std::to_string(key.size()) + " bytes is longer than an index page can hold");
  }
  if (row.page == 0 || row.page > 0xFFFFFF) {
    fail(ErrorCategory::kInvalidArgument, "row pointer to page " + std::to_string(row.page) + " cannot be indexed");
  }
  entry_buffer_.assign(key.begin(), key.end());
  append_row_pointer(entry_buffer_, row);
  descend(entry_buffer_);
  Frame& leaf = path_.back();
  Node& n = leaf.node;
  if (leaf.pos < n.count() && compare_bytes(n.entry(leaf.pos), entry_buffer_) == 0) {
    fail(ErrorCategory::kInvalidArgument, "the entry for data page " + std::to_string(row.page) + " row " +
                                              std::to_string(row.row) + " is already there");
  }
  appended_ = leaf.pos == n.count() && n.next == 0;
  n.insert(leaf.pos, entry_buffer_, 0);
  n.dirty = true;
  n.last_changed = leaf.pos + 1 == n.count();
  settle();
}

void IndexWriter::remove(std::span<const uint8_t> key, RowPointer row) {
  if (skips(key)) return;
  entry_buffer_.assign(key.begin(), key.end());
  append_row_pointer(entry_buffer_, row);
  descend(entry_buffer_);
  Frame& leaf = path_.back();
  Node& n = leaf.node;
  if (leaf.pos >= n.count() || compare_bytes(n.entry(leaf.pos), entry_buffer_) != 0) {
    fail(ErrorCategory::kNotFound, "no entry for data page " + std::to_string(row.page) + " row " +
                                       std::to_string(row.row) + " with that key");
  }
  appended_ = false;
  n.last_changed = leaf.pos + 1 == n.count();
  n.erase(leaf.pos);
  n.dirty = true;
  settle();
}

// Splits `n` (not the root) until it fits, inserting each new page into
// `parent` before `n` (at parent position `ci`, which follows `n`).
void IndexWriter::split(Node& n, Node& parent, std::size_t& ci) {
  if (n.leaf && appended_ && n.next == 0 && n.count() >= 2) {
    // A full last leaf that an append overflowed: the new entry starts a new
    // last leaf, the full page stays as it is.
    appended_ = false;
    Node t;
    t.number = new_page();
    t.leaf = true;
    t.prev = n.number;
    t.next = 0;
    auto e = n.entry(n.count() - 1);
    std::vector<uint8_t> last(e.begin(), e.end());
    n.erase(n.count() - 1);
    t.insert(0, last, 0);
    n.next = t.number;
    // Parent: n's entry becomes its new last; t follows with the new entry.
    auto ne = n.entry(n.count() - 1);
    std::vector<uint8_t> n_last(ne.begin(), ne.end());
    parent.replace(ci, n_last);
    if (ci + 1 == parent.count()) parent.last_unknown = false;
    parent.insert(ci + 1, last, t.number);
    parent.dirty = true;
    parent.last_changed = parent.last_changed || ci + 2 == parent.count();
    store(t);
    n.last_changed = false;  // handled here
    // n keeps its position ci; the caller writes n.
    if (!fits(n)) split(n, parent, ci);
    return;
  }
  while (!fits(n)) {
    const std::size_t count = n.count();
    if (count < 2) fail(ErrorCategory::kInvalidArgument, "an entry does not fit an index page");
    // First half by count; fewer if the front half alone would not fit.
    std::size_t k = (count + 1) / 2;
    Node s;
    s.leaf = n.leaf;
    for (;;) {
      s.bytes.assign(n.bytes.begin(), n.bytes.begin() + n.starts[k]);
      s.starts.assign(n.starts.begin(), n.starts.begin() + static_cast<std::ptrdiff_t>(k) + 1);
      if (!n.leaf) s.children.assign(n.children.begin(), n.children.begin() + static_cast<std::ptrdiff_t>(k));
      if (fits(s) || k == 1) break;
      --k;
    }
    s = Node{};
    s.leaf = n.leaf;
    n.move_front_to(k, s);
    s.number = new_page();
    s.prev = n.prev;
    s.next = n.number;
    if (n.prev != 0) set_link(n.prev, /*next_link=*/true, s.number);
    n.prev = s.number;
    auto se = s.entry(s.count() - 1);
    std::vector<uint8_t> s_last(se.begin(), se.end());
    parent.insert(ci, s_last, s.number);
    ++ci;
    parent.dirty = true;
    store(s);
  }
}

void IndexWriter::settle() {
  for (std::size_t d = path_.size(); d-- > 0;) {
    Node& n = path_[d].node;
    if (!n.dirty && !n.last_changed) break;
    if (d == 0) {
      if (!n.leaf && n.count() == 0) {
        // The root lost its last child: an empty index is an empty leaf.
        n.leaf = true;
        n.children.clear();
        n.last_unknown = false;
        n.dirty = true;
      }
      if (!fits(n)) {
        // The root keeps its page: its entries move down into a new page,
        // which is then split under it.
        Frame child;
        child.node = n;
        child.node.number = new_page();
        child.node.prev = 0;
        child.node.next = 0;
        child.node.byte_1a = 0;
        child.node.dirty = true;
        Node root;
        root.number = n.number;
        root.leaf = false;
        root.byte_1a = n.byte_1a;
        root.dirty = true;
        std::vector<uint8_t> placeholder;
        root.insert(0, placeholder, child.node.number);
        root.last_unknown = true;
        Frame top;
        top.node = std::move(root);
        top.pos = 0;
        path_[0] = std::move(child);
        path_.insert(path_.begin(), std::move(top));
        d = 2;  // the loop's decrement visits the moved page next
        continue;
      }
      if (n.dirty) store(n);
      n.last_changed = false;
      break;
    }
    Node& parent = path_[d - 1].node;
    std::size_t ci = path_[d - 1].pos;
    if (n.count() == 0) {
      // An emptied page leaves the tree.
      if (n.prev != 0) set_link(n.prev, /*next_link=*/true, n.next);
      if (n.next != 0) set_link(n.next, /*next_link=*/false, n.prev);
      allocator_.release_index_page(layout_, n.number);
      const bool was_last = ci + 1 == parent.count();
      parent.erase(ci);
      parent.dirty = true;
      if (was_last && parent.count() > 0) {
        // The page before becomes the last child; its entry is this page's
        // subtree end no longer, but the parent's own last entry changed.
        parent.last_changed = true;
      }
      n.dirty = n.last_changed = false;
      continue;
    }
    if (!fits(n)) split(n, parent, ci);
    path_[d - 1].pos = ci;
    if (n.last_changed) {
      if (n.known(n.count() - 1)) {
        auto e = n.entry(n.count() - 1);
        std::vector<uint8_t> last(e.begin(), e.end());
        const bool parent_last = ci + 1 == parent.count();
        const bool listed = ci < parent.stored_count();
        parent.replace(ci, last);
        if (parent_last) {
          parent.last_unknown = false;
          parent.last_changed = true;
        }
        if (listed) parent.dirty = true;
      }
      n.last_changed = false;
    }
    if (n.dirty) store(n);
  }
}

}  // namespace jet::index
