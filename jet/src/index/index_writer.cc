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
#include <bit>
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

// One level of the path from the root to the leaf of an operation. Pages
// above the leaf are read in place on the way down and loaded into `node`
// only when something of theirs must change.
struct IndexWriter::Frame {
  uint32_t number = 0;
  bool loaded = false;
  bool via_tail = false;  // reached through its parent's tail pointer
  std::size_t pos = 0;    // leaf: where the entry is or goes; above: the child followed
  Node node;
};

// An index page read in place, without copying its entries. The entry
// mask is held as 64-bit words with running bit counts, so that where entry
// i ends is found without walking every entry before it (a search over the
// counts, then within one word). Bounds are checked where an entry is
// used; order is not (the reader checks it on every scan).
struct IndexWriter::RawPage {
  static constexpr std::size_t kWords = (kIndexMaskSize + 7) / 8;
  const IndexWriter* owner = nullptr;
  const uint8_t* page = nullptr;
  uint32_t number = 0;
  bool leaf = true;
  std::size_t prefix = 0;
  uint32_t tail = 0;
  uint32_t next = 0;
  std::size_t n = 0;
  uint64_t words[kWords] = {};
  uint16_t counts[kWords + 1] = {};  // set bits in words[0 .. w)

  std::size_t count() const { return n; }
  // Where entry i ends, in bytes from 0x1E0 (i < count()).
  std::size_t end(std::size_t i) const {
    std::size_t lo = 0;
    std::size_t hi = kWords;  // counts[lo] <= i < counts[hi]
    while (hi - lo > 1) {
      const std::size_t mid = (lo + hi) / 2;
      if (counts[mid] <= i) {
        lo = mid;
      } else {
        hi = mid;
      }
    }
    uint64_t w = words[lo];
    for (std::size_t k = i - counts[lo]; k > 0; --k) w &= w - 1;
    return lo * 64 + static_cast<std::size_t>(std::countr_zero(w));
  }
  std::size_t start(std::size_t i) const { return i == 0 ? 0 : end(i - 1); }
  // The first mark at or after byte `from`; there must be one.
  std::size_t next_mark(std::size_t from) const {
    std::size_t w = from / 64;
    uint64_t bits = words[w] & (~uint64_t{0} << (from % 64));
    while (bits == 0) bits = words[++w];
    return w * 64 + static_cast<std::size_t>(std::countr_zero(bits));
  }
  // Bytes taken from the first entry, then stored bytes, of entry i.
  std::size_t shared(std::size_t i) const { return i == 0 ? 0 : prefix; }
  const uint8_t* data() const { return page + kIndexEntriesOffset; }
  // The stored bytes [s, e) of entry i, checked to hold a whole entry.
  void span(std::size_t i, std::size_t& s, std::size_t& e) const {
    s = start(i);
    // Entry i ends at the first mark after entry i - 1's end (i < count():
    // there is one).
    e = next_mark(i == 0 ? 0 : s + 1);
    const std::size_t min_entry = kRowPointerBytes + 1 + (leaf ? 0 : kChildBytes);
    if (shared(i) + (e - s) < min_entry) {
      owner->fail(ErrorCategory::kCorruption,
                  "page " + std::to_string(number) + ": entry " + std::to_string(i) + " is too short");
    }
  }
  // Entry i without its child pointer compared with `b`.
  int compare(std::size_t i, std::span<const uint8_t> b) const {
    std::size_t s = 0;
    std::size_t e = 0;
    span(i, s, e);
    const std::size_t n1 = shared(i);
    const std::size_t n2 = e - s - (leaf ? 0 : kChildBytes);
    const std::size_t m1 = std::min(n1, b.size());
    if (m1 > 0) {
      int c = std::memcmp(data(), b.data(), m1);
      if (c != 0) return c;
    }
    if (n1 > b.size()) return 1;
    const std::size_t rest = b.size() - n1;
    const std::size_t m2 = std::min(n2, rest);
    if (m2 > 0) {
      int c = std::memcmp(data() + s, b.data() + n1, m2);
      if (c != 0) return c;
    }
    const std::size_t total = n1 + n2;
    return total < b.size() ? -1 : (total > b.size() ? 1 : 0);
  }
  // Entry i without its child pointer, whole.
  void full(std::size_t i, std::vector<uint8_t>& out) const {
    std::size_t s = 0;
    std::size_t e = 0;
    span(i, s, e);
    out.assign(data(), data() + shared(i));
    out.insert(out.end(), data() + s, data() + e - (leaf ? 0 : kChildBytes));
  }
  uint32_t child(std::size_t i) const {
    std::size_t s = 0;
    std::size_t e = 0;
    span(i, s, e);
    const uint8_t* c = data() + e - kChildBytes;
    return (static_cast<uint32_t>(c[0]) << 24) | (static_cast<uint32_t>(c[1]) << 16) |
           (static_cast<uint32_t>(c[2]) << 8) | c[3];
  }
  RowPointer row(std::size_t i) const {
    std::size_t s = 0;
    std::size_t e = 0;
    span(i, s, e);
    const uint8_t* r = data() + e - (leaf ? 0 : kChildBytes) - kRowPointerBytes;
    return RowPointer{static_cast<uint32_t>((r[0] << 16) | (r[1] << 8) | r[2]), r[3]};
  }
  // First entry >= b (count() when none).
  std::size_t lower_bound(std::span<const uint8_t> b) const {
    std::size_t lo = 0;
    std::size_t hi = count();
    while (lo < hi) {
      const std::size_t mid = (lo + hi) / 2;
      if (compare(mid, b) < 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    return lo;
  }
};

namespace {

// Bit count without a library call on CPUs the build does not assume have
// a popcount instruction.
inline unsigned bit_count(uint64_t x) {
  x = x - ((x >> 1) & 0x5555555555555555ULL);
  x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return static_cast<unsigned>((x * 0x0101010101010101ULL) >> 56);
}

uint32_t read_le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

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
    : pages_(pages),
      store_(store),
      allocator_(allocator),
      layout_(layout),
      raw_holder_(std::make_unique<RawPage[]>(2)),
      raw_(raw_holder_[0]),
      load_raw_(raw_holder_[1]) {}

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

namespace {

std::string value_list(std::span<const Value> values) {
  std::string s;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) s += ", ";
    s += quote_value(values[i]);
  }
  return s;
}

}  // namespace

bool IndexWriter::check_nulls(std::span<const Value> values) const {
  bool any_null = false;
  for (std::size_t i = 0; i < values.size() && i < layout_.columns.size(); ++i) {
    if (is_null(values[i]) && layout_.columns[i].type != ColumnType::kBoolean) any_null = true;
  }
  if (any_null && (layout_.primary_key || layout_.required)) {
    throw Error(ErrorCategory::kConstraint,
                "index '" + layout_.name + "' of table '" + layout_.table_name + "' does not accept Null (key " +
                    value_list(values) + ")");
  }
  return any_null;
}

void IndexWriter::check_insert(std::span<const Value> values, std::span<const uint8_t> key,
                               std::optional<RowPointer> self) {
  const bool any_null = check_nulls(values);
  if (!layout_.unique || any_null || skips(key)) return;
  // Entries with this key follow the first entry >= the bare key, maybe
  // over several leaves.
  descend(key);
  std::size_t i = path_.back().pos;
  std::vector<uint8_t> entry;
  for (uint32_t walked = 0; walked <= pages_.page_count(); ++walked) {
    if (i == raw_.count()) {
      if (raw_.next == 0) return;
      read_raw(raw_.next, raw_);
      if (!raw_.leaf) fail(ErrorCategory::kCorruption, "the leaf chain leads to an intermediate page");
      i = 0;
      continue;
    }
    raw_.full(i, entry);
    if (entry.size() != key.size() + kRowPointerBytes || !std::equal(key.begin(), key.end(), entry.begin())) return;
    if (!(self && raw_.row(i) == *self)) {
      throw Error(ErrorCategory::kConstraint,
                  "the value " + value_list(values) + " is already in the unique index '" + layout_.name + "' of table '" +
                      layout_.table_name + "'");
    }
    ++i;
  }
  fail(ErrorCategory::kCorruption, "the leaf chain loops");
}

void IndexWriter::load(uint32_t number, Node& out, const std::vector<uint8_t>* upper) {
  RawPage& raw = load_raw_;
  read_raw(number, raw);
  node_from_raw(raw, out, upper);
}

void IndexWriter::node_from_raw(const RawPage& raw, Node& out, const std::vector<uint8_t>* upper) {
  out.number = raw.number;
  out.leaf = raw.leaf;
  out.prev = read_le32(raw.page + kIndexPrevOffset);
  out.next = raw.next;
  out.byte_1a = raw.page[kIndexPrefixLengthOffset + 2];
  out.last_unknown = false;
  out.dirty = out.last_changed = false;
  const std::size_t n = raw.count();
  const std::size_t child_bytes = out.leaf ? 0 : kChildBytes;
  const std::size_t min_entry = kRowPointerBytes + 1 + child_bytes;
  const std::size_t stored = n > 0 ? raw.end(n - 1) : 0;
  const std::size_t whole = stored + (n > 1 ? raw.prefix * (n - 1) : 0);
  out.bytes.resize(whole);  // at least what the entries take (less their child pointers)
  out.starts.resize(n + 1);
  out.starts[0] = 0;
  out.children.clear();
  if (!out.leaf) out.children.reserve(n + 1);
  const uint8_t* data = raw.data();
  uint8_t* to = out.bytes.data();
  const uint32_t page_count = pages_.page_count();
  std::size_t at = 0;
  std::size_t start = 0;
  std::size_t i = 0;
  for (std::size_t w = 0; w < RawPage::kWords; ++w) {
    for (uint64_t bits = raw.words[w]; bits != 0; bits &= bits - 1, ++i) {
      const std::size_t end = w * 64 + static_cast<std::size_t>(std::countr_zero(bits));
      const std::size_t shared = raw.shared(i);
      if (shared + end - start < min_entry) {
        fail(ErrorCategory::kCorruption, "page " + std::to_string(raw.number) + ": entry " + std::to_string(i) +
                                             " is too short");
      }
      if (shared > 0) std::memcpy(to + at, data, shared);
      at += shared;
      const std::size_t own = end - start - child_bytes;
      std::memcpy(to + at, data + start, own);
      at += own;
      out.starts[i + 1] = static_cast<uint32_t>(at);
      if (!out.leaf) {
        const uint8_t* c = data + end - kChildBytes;
        const uint32_t child = (static_cast<uint32_t>(c[0]) << 24) | (static_cast<uint32_t>(c[1]) << 16) |
                               (static_cast<uint32_t>(c[2]) << 8) | c[3];
        if (child == 0 || child >= page_count || child == raw.number) {
          fail(ErrorCategory::kCorruption, "page " + std::to_string(raw.number) + ": entry " + std::to_string(i) +
                                               " names child page " + std::to_string(child) + ", out of range");
        }
        out.children.push_back(child);
      }
      start = end;
    }
  }
  out.bytes.resize(at);
  if (raw.tail != 0) {
    if (upper != nullptr) {
      out.bytes.insert(out.bytes.end(), upper->begin(), upper->end());
    } else {
      out.last_unknown = true;
    }
    out.starts.push_back(static_cast<uint32_t>(out.bytes.size()));
    out.children.push_back(raw.tail);
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

void IndexWriter::read_raw(uint32_t number, RawPage& out) {
  if (number == 0 || number >= pages_.page_count()) {
    fail(ErrorCategory::kCorruption, "page pointer " + std::to_string(number) + " is out of range");
  }
  const uint8_t* page = pages_.page(number);
  const auto where = [&](const std::string& what) {
    fail(ErrorCategory::kCorruption, "page " + std::to_string(number) + ": " + what);
  };
  if (page[0] != kLeafPageType && page[0] != kIntermediatePageType) where("not an index page");
  if (layout_.tdef_page != 0 && read_le32(page + kIndexTdefOffset) != layout_.tdef_page) {
    where("belongs to another table");
  }
  out.owner = this;
  out.page = page;
  out.number = number;
  out.leaf = page[0] == kLeafPageType;
  out.prefix = static_cast<uint16_t>(page[kIndexPrefixLengthOffset] | (page[kIndexPrefixLengthOffset + 1] << 8));
  out.tail = out.leaf ? 0 : read_le32(page + kIndexTailOffset);
  out.next = read_le32(page + kIndexNextOffset);
  const uint8_t* mask = page + kIndexMaskOffset;
  out.counts[0] = 0;
  for (std::size_t w = 0; w < RawPage::kWords; ++w) {
    uint64_t word = 0;
    if constexpr (std::endian::native == std::endian::little) {
      if (w * 8 + 8 <= kIndexMaskSize) {
        std::memcpy(&word, mask + w * 8, 8);
      } else {
        std::memcpy(&word, mask + w * 8, kIndexMaskSize - w * 8);
      }
    } else {
      for (std::size_t b = 0; b < 8 && w * 8 + b < kIndexMaskSize; ++b) {
        word |= static_cast<uint64_t>(mask[w * 8 + b]) << (8 * b);
      }
    }
    out.words[w] = word;
    out.counts[w + 1] = static_cast<uint16_t>(out.counts[w] + (word == 0 ? 0 : bit_count(word)));
  }
  out.n = out.counts[RawPage::kWords];
  // Bit n marks an entry ending n bytes into the entry area: never 0, never
  // past the area's end.
  if ((out.words[0] & 1) != 0) where("the entry mask marks an empty first entry");
  constexpr std::size_t kLastBit = kIndexEntryCapacity;  // an entry may end exactly at the page's end
  const std::size_t last_word = kLastBit / 64;
  const uint64_t beyond = (kLastBit % 64 == 63) ? 0 : (~uint64_t{0} << (kLastBit % 64 + 1));
  bool stray = (out.words[last_word] & beyond) != 0;
  for (std::size_t w = last_word + 1; w < RawPage::kWords; ++w) stray = stray || out.words[w] != 0;
  if (stray) where("the entry mask marks an entry end beyond the page");
  if (out.n > 0 && out.prefix > out.end(0)) where("the shared prefix is longer than the first entry");
  if (out.tail != 0 && (out.tail >= pages_.page_count() || out.tail == number)) where("the tail page is out of range");
}

void IndexWriter::descend(std::span<const uint8_t> entry) {
  path_.clear();
  uint32_t number = layout_.first_page;
  bool via_tail = false;
  for (int depth = 0;; ++depth) {
    if (depth >= 32) fail(ErrorCategory::kCorruption, "the index tree is deeper than any real one");
    for (const Frame& f : path_) {
      if (f.number == number) fail(ErrorCategory::kCorruption, "the index tree loops through page " + std::to_string(number));
    }
    path_.emplace_back();
    Frame& f = path_.back();
    f.number = number;
    f.via_tail = via_tail;
    read_raw(number, raw_);
    raw_valid_ = true;
    f.pos = raw_.lower_bound(entry);
    if (raw_.leaf) return;
    // The child whose subtree ends at the first entry >= `entry`; past the
    // listed entries, the tail page, or else the last child.
    const uint32_t here = number;
    if (f.pos < raw_.count()) {
      number = raw_.child(f.pos);
      via_tail = false;
    } else if (raw_.tail != 0) {
      number = raw_.tail;
      via_tail = true;
    } else if (raw_.count() > 0) {
      f.pos = raw_.count() - 1;
      number = raw_.child(f.pos);
      via_tail = false;
    } else {
      fail(ErrorCategory::kCorruption, "page " + std::to_string(number) + " is an intermediate page without entries");
    }
    if (number == 0 || number >= pages_.page_count() || number == here) {
      fail(ErrorCategory::kCorruption, "page " + std::to_string(here) + " names child page " + std::to_string(number) +
                                           ", out of range");
    }
  }
}

IndexWriter::Node& IndexWriter::loaded(std::size_t d) {
  Frame& f = path_[d];
  if (!f.loaded) {
    if (d + 1 == path_.size() && raw_valid_ && raw_.number == f.number) {
      node_from_raw(raw_, f.node, nullptr);  // the leaf descend() just read
    } else {
      load(f.number, f.node, nullptr);
    }
    raw_valid_ = false;
    f.loaded = true;
    if (d + 1 < path_.size()) {
      // Where the page below sits among this page's children.
      const uint32_t child = path_[d + 1].number;
      auto it = std::find(f.node.children.begin(), f.node.children.end(), child);
      if (it == f.node.children.end()) {
        fail(ErrorCategory::kCorruption, "page " + std::to_string(f.number) + " does not lead to page " +
                                             std::to_string(child) + " any more");
      }
      f.pos = static_cast<std::size_t>(it - f.node.children.begin());
    }
  }
  return f.node;
}

bool IndexWriter::append_in_place(std::span<const uint8_t> entry) {
  Frame& f = path_.back();
  const RawPage& leaf = raw_;  // descend() left the leaf here
  const std::size_t n = leaf.count();
  if (n == 0 || f.pos != n) return false;
  const std::size_t used = leaf.end(n - 1);
  std::size_t prefix = leaf.prefix;
  if (n == 1 && prefix != 0) return false;
  std::size_t add = entry.size();
  if (prefix == 0) {
    // Whole entries; they must still fit whole (else the page compresses).
    if (used + add > kIndexEntryCapacity) return false;
  } else {
    // A compressed page keeps its prefix only while its first and new last
    // keys share exactly that much.
    const std::size_t first_end = leaf.end(0);
    if (first_end < kRowPointerBytes + 1) return false;
    const std::size_t first_key = first_end - kRowPointerBytes;
    const std::size_t new_key = entry.size() - kRowPointerBytes;
    std::size_t common = 0;
    const std::size_t limit = std::min(first_key, new_key);
    while (common < limit && leaf.data()[common] == entry[common]) ++common;
    if (common != prefix) return false;
    add -= prefix;
    if (used + add > kIndexEntryCapacity) return false;
  }
  uint8_t* page = store_.page_for_write(leaf.number);
  std::memcpy(page + kIndexEntriesOffset + used, entry.data() + (entry.size() - add), add);
  const std::size_t end = used + add;
  page[kIndexMaskOffset + end / 8] |= static_cast<uint8_t>(1u << (end % 8));
  const uint16_t free_space = static_cast<uint16_t>(kIndexEntryCapacity - end);
  page[kIndexFreeSpaceOffset] = static_cast<uint8_t>(free_space);
  page[kIndexFreeSpaceOffset + 1] = static_cast<uint8_t>(free_space >> 8);
  return true;
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
  const std::size_t deepest = path_.size() - 1;
  if (path_[deepest].pos < raw_.count() && raw_.compare(path_[deepest].pos, entry_buffer_) == 0) {
    fail(ErrorCategory::kInvalidArgument, "the entry for data page " + std::to_string(row.page) + " row " +
                                              std::to_string(row.row) + " is already there");
  }
  appended_ = path_[deepest].pos == raw_.count() && raw_.next == 0;
  if (append_in_place(entry_buffer_)) {
    // The leaf's last entry is new: its parent's entry follows.
    if (deepest > 0) settle(deepest - 1, &entry_buffer_);
    return;
  }
  Node& n = loaded(deepest);
  n.insert(path_[deepest].pos, entry_buffer_, 0);
  n.dirty = true;
  n.last_changed = path_[deepest].pos + 1 == n.count();
  settle(deepest, nullptr);
}

void IndexWriter::remove(std::span<const uint8_t> key, RowPointer row) {
  if (skips(key)) return;
  entry_buffer_.assign(key.begin(), key.end());
  append_row_pointer(entry_buffer_, row);
  descend(entry_buffer_);
  const std::size_t deepest = path_.size() - 1;
  const std::size_t pos = path_[deepest].pos;
  if (pos >= raw_.count() || raw_.compare(pos, entry_buffer_) != 0) {
    fail(ErrorCategory::kNotFound, "no entry for data page " + std::to_string(row.page) + " row " +
                                       std::to_string(row.row) + " with that key");
  }
  appended_ = false;
  Node& n = loaded(deepest);
  n.last_changed = pos + 1 == n.count();
  n.erase(pos);
  n.dirty = true;
  settle(deepest, nullptr);
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
    parent.insert(ci + 1, last, t.number);
    parent.dirty = true;
    if (ci + 2 == parent.count()) parent.last_changed = true;
    store(t);
    n.last_changed = false;  // its parent entry is set
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

// Settles the path from level `d` up: `carry`, when given, is the new last
// entry of the subtree of the page at level d + 1 (its parent's entry for
// it follows). Pages are loaded only where something of theirs changes.
void IndexWriter::settle(std::size_t d, const std::vector<uint8_t>* carry) {
  std::vector<uint8_t> carried;
  bool has_carry = carry != nullptr;
  if (has_carry) carried = *carry;
  for (;;) {
    Frame& f = path_[d];
    if (has_carry) {
      if (!f.loaded && path_[d + 1].via_tail) {
        // The child is this page's tail: nothing listed here changes, but
        // this page's own last entry did.
        if (d == 0) return;
        --d;
        continue;
      }
      Node& n = loaded(d);
      const bool listed = f.pos < n.stored_count();
      const bool last = f.pos + 1 == n.count();
      n.replace(f.pos, carried);
      if (listed) n.dirty = true;
      if (last) n.last_changed = true;
      has_carry = false;
    }
    if (!f.loaded) return;
    Node& n = f.node;
    if (!n.dirty && !n.last_changed) return;
    if (d == 0) {
      if (!n.leaf && n.count() == 0) {
        // The root lost its last child: an empty index is an empty leaf.
        n.leaf = true;
        n.children.clear();
        n.last_unknown = false;
        n.dirty = true;
      }
      if (fits(n)) {
        if (n.dirty) store(n);
        return;
      }
      // The root keeps its page: its entries move down into a new page,
      // which is then split under it.
      Frame child;
      child.node = std::move(n);
      child.loaded = true;
      child.node.number = new_page();
      child.number = child.node.number;
      child.node.prev = child.node.next = 0;
      child.node.byte_1a = 0;
      child.node.dirty = true;
      child.node.last_changed = true;
      child.via_tail = false;
      child.pos = f.pos;
      Frame top;
      top.number = layout_.first_page;
      top.loaded = true;
      top.pos = 0;
      top.node.number = layout_.first_page;
      top.node.leaf = false;
      top.node.byte_1a = child.node.byte_1a;
      top.node.dirty = true;
      top.node.insert(0, std::vector<uint8_t>{}, child.number);
      top.node.last_unknown = true;
      path_[0] = std::move(child);
      path_.insert(path_.begin(), std::move(top));
      d = 1;
      continue;
    }
    if (n.count() == 0) {
      // An emptied page leaves the tree.
      Node& parent = loaded(d - 1);
      const std::size_t ci = path_[d - 1].pos;
      if (n.prev != 0) set_link(n.prev, /*next_link=*/true, n.next);
      if (n.next != 0) set_link(n.next, /*next_link=*/false, n.prev);
      allocator_.release_index_page(layout_, n.number);
      const bool was_last = ci + 1 == parent.count();
      parent.erase(ci);
      parent.dirty = true;
      if (was_last && parent.count() > 0) parent.last_changed = true;
      n.dirty = n.last_changed = false;
      --d;
      continue;
    }
    if (!fits(n)) {
      Node& parent = loaded(d - 1);
      split(n, parent, path_[d - 1].pos);
    }
    if (n.last_changed && n.known(n.count() - 1)) {
      auto e = n.entry(n.count() - 1);
      carried.assign(e.begin(), e.end());
      has_carry = true;
    }
    n.last_changed = false;
    if (n.dirty) store(n);
    --d;
  }
}

}  // namespace jet::index
