// Internal: reading a Jet 4 index tree: full scans in key order, seeks and
// range scans.
//
// Usage (the catalog fills the IndexLayout from the table definition):
//
//   jet::index::IndexReader reader(pages, layout);
//   for (auto c = reader.first(); c.valid(); c.next()) use(c.row());
//   std::vector<Value> key{int32_t{42}};
//   for (RowPointer r : reader.find(key)) ...            // rows whose key equals
//   auto c = reader.seek(key);                          // first entry >= key
//
// Order is the index's own order: byte order of the encoded keys, so
// descending columns run from high to low values and Null sorts first in an
// ascending column, last in a descending one; entries with equal keys follow
// row pointer order.
//
// Errors: every damaged page, out-of-range page pointer, entry out of order or
// loop in a page chain throws jet::Error kCorruption naming the file, the
// index, the page and what is wrong. A reader never loops forever: each walk
// visits every page at most once.
//
// Lifetime: the reader and its cursors keep references to `pages` and
// `layout`; both must outlive them. A cursor copies the entries of the leaf
// page it stands on, so other reads of the PageSource do not disturb it.
// Not thread-safe (neither is PageSource).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "index/index_layout.h"
#include "index/index_page.h"
#include "jet/value.h"
#include "page_source.h"

namespace jet::index {

class IndexCursor {
 public:
  IndexCursor(IndexCursor&&) noexcept;
  IndexCursor& operator=(IndexCursor&&) noexcept;
  ~IndexCursor();

  // False once the cursor ran past the last entry (or the range's end).
  bool valid() const { return valid_; }
  // The current entry's encoded key bytes; valid until next(). Only while
  // valid().
  std::span<const uint8_t> key() const;
  // The row the current entry points to. Only while valid().
  RowPointer row() const;
  // Moves to the next entry in index order (following the leaf chain).
  void next();

  struct State;  // opaque: the leaf page copy and the walk's bookkeeping

 private:
  friend class IndexReader;
  explicit IndexCursor(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
  bool valid_ = false;
};

// One end of a key range, given as the values of the first n key columns
// (n may be less than the number of columns: then every key that starts with
// those values counts as equal to the bound).
struct KeyBound {
  std::vector<Value> values;
  bool inclusive = true;
};

class IndexReader {
 public:
  IndexReader(PageSource& pages, const IndexLayout& layout);

  const IndexLayout& layout() const { return layout_; }

  // Cursor on the first entry of the index (invalid when the index is empty).
  IndexCursor first();

  // Cursor on the first entry whose key is >= `key` (encoded key bytes,
  // possibly a prefix of full keys). Walks the tree from the root.
  IndexCursor lower_bound(std::span<const uint8_t> key);

  // Cursor on the first entry >= the key of `values` (see append_key).
  IndexCursor seek(std::span<const Value> values);

  // Every row pointer in index order.
  std::vector<RowPointer> scan();

  // Rows whose first values.size() key columns equal `values`, in index order.
  std::vector<RowPointer> find(std::span<const Value> values);

  // Rows between two bounds in index order; an absent bound is open.
  std::vector<RowPointer> range(const std::optional<KeyBound>& from, const std::optional<KeyBound>& to);

  // Same, over encoded bounds: `from` / `to` are encoded key prefixes.
  std::vector<RowPointer> range_bytes(std::span<const uint8_t> from, bool from_inclusive, bool has_from,
                                      std::span<const uint8_t> to, bool to_inclusive, bool has_to);

  // For writers: the pages from the root down to the leaf where `entry`
  // (key bytes followed by the 4-byte row pointer, or a bare key) belongs:
  // the leaf holding the first entry >= it, or, when it is greater than every
  // entry, the last leaf reached through the last child or tail page. Empty
  // when the index has no leaf (an intermediate root without entries).
  std::vector<uint32_t> leaf_path(std::span<const uint8_t> entry);

 private:
  uint32_t descend(std::span<const uint8_t> key, std::vector<uint32_t>* path);
  IndexCursor& scratch_cursor();
  IndexCursor start_cursor();
  void position(IndexCursor& cursor, std::span<const uint8_t> key);

  PageSource& pages_;
  const IndexLayout& layout_;
  std::vector<uint8_t> key_buffer_;
  std::unique_ptr<IndexCursor> scratch_;  // reused by find(): no allocation per lookup once warm
};

}  // namespace jet::index
