// Internal: building a whole Jet 4 index tree at once from its entries.
//
// For a table that gets many rows into empty indexes (compaction, bulk
// loads): instead of one tree walk and page rewrite per row (IndexWriter),
// the entries are gathered, sorted once, and written level by level: leaves
// left to right, then each level of intermediate pages above them, the top
// page going to the index's root page. The pages come out as the
// IndexWriter lays out an index filled by appends in key order (see
// index_writer.cc for the rules): full leaves, the longest prefix first and
// last entry share only on pages that need it, intermediate pages listing
// each child's last entry and naming their last child as the tail page,
// every level chained by previous/next links.
//
// Usage:
//   jet::index::IndexBuilder b(layout);
//   for each row:  b.add(key, row, may_clash);   // key from IndexWriter::key_for
//   b.build(pages, store, allocator);             // the index must be empty
//
// may_clash: false for a key with a Null column (never a duplicate in a
// unique index, as in Access). Keys the index skips (IndexWriter::skips)
// are not to be added.
//
// build() throws kConstraint when a unique index would get two entries with
// the same key (naming the index and both rows), kInvalidArgument when the
// index already has entries or a key is too long, kCorruption/kIo from the
// pages. Nothing is written before the entries are checked.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "index/index_layout.h"
#include "index/index_writer.h"
#include "page_source.h"

namespace jet::index {

// Whether the index tree holds no entries (its root is an empty leaf).
bool index_is_empty(PageSource& pages, const IndexLayout& layout);

class IndexBuilder {
 public:
  explicit IndexBuilder(const IndexLayout& layout) : layout_(layout) {}

  void add(std::span<const uint8_t> key, RowPointer row, bool may_clash);
  std::size_t size() const { return starts_.size(); }

  void build(PageSource& pages, IndexPageStore& store, IndexPageAllocator& allocator);

 private:
  const IndexLayout& layout_;
  std::vector<uint8_t> bytes_;          // entries back to back: key, row pointer (4 bytes)
  std::vector<uint32_t> starts_;        // where each entry starts
  std::vector<bool> may_clash_;         // per entry
};

}  // namespace jet::index
