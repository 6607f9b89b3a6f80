// Internal: keeping one Jet 4 index tree up to date as rows change.
//
// For the storage and rows modules: the writer reaches pages only through the
// two small interfaces below, so jet_index keeps no link dependency on the
// pager or the table code.
//   - IndexPageStore: implemented over the Pager (STORAGE): a writable image
//     of a page that is already in the file (captured for the journal).
//   - IndexPageAllocator: implemented by the PageAllocator (ROWS): a new
//     page for an index, recorded as owned in that index's usage map, and
//     giving a page back (its usage-map bit cleared) when a page empties.
// Reads go through the PageSource the writer is given (the same Pager): a
// page read there must show what page_for_write wrote.
//
// Usage (per logical index that owns its real index; the table runs every
// check before it writes anything):
//
//   jet::index::IndexWriter w(pager, store, allocator, layout);
//   std::vector<uint8_t> key = w.key_for(values);   // throws kConstraint for
//                                                   // a value it cannot encode
//   w.check_insert(values, key);                    // kConstraint: duplicate
//   ... write the row ...
//   w.insert(key, row);
//   ... on delete:  w.remove(key, row);
//   ... on update:  w.check_insert(new_values, new_key, old_row) before
//                   writing anything, then
//                   w.remove(old_key, old_row); w.insert(new_key, new_row);
//                   (an update that keeps the key and the row pointer needs
//                   neither: the index does not change)
//
// A writer is cheap to make (two small buffers) and keeps nothing between
// calls: every call reads the tree afresh, so writers of the same index may
// come and go between statements and across savepoint rollbacks.
//
// Page layout follows Access (see index_writer.cc for each rule and where it
// is known from): the root keeps its page, leaves split in half with the new
// page linked in before the old, appends past the last leaf start a new
// leaf, intermediate pages name their last child as the tail page, prefix
// compression only on pages that need it, pages of every level chained.
//
// Failures: insert/remove throw jet::Error (kCorruption for a damaged tree,
// kNotFound from remove() when the entry is missing, kIo from the pages).
// A throw part-way may leave pages changed: the caller rolls the statement
// back through its pager savepoint.
//
// Not thread-safe. The writer keeps references to all four arguments.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "index/index_layout.h"
#include "index/index_page.h"
#include "jet/error.h"
#include "jet/value.h"
#include "page_source.h"

namespace jet::index {

// Writable pages of the open file (implemented over the Pager).
class IndexPageStore {
 public:
  virtual ~IndexPageStore() = default;
  // A writable image (kPageSize bytes) of page `page_number`, which exists in
  // the file, holding its current contents. The writer changes it (or
  // rewrites it whole) before its next call here or on the PageSource; the
  // pointer need stay valid only until then.
  virtual uint8_t* page_for_write(uint32_t page_number) = 0;
};

// Pages for an index (implemented by the table's PageAllocator).
class IndexPageAllocator {
 public:
  virtual ~IndexPageAllocator() = default;
  // A page the index may use, recorded as owned in `layout`'s usage map
  // (IndexLayout::usage_map) and in the file's own bookkeeping. Its contents
  // do not matter: the writer overwrites the whole page through
  // IndexPageStore::page_for_write before using it.
  virtual uint32_t allocate_index_page(const IndexLayout& layout) = 0;
  // `page_number` no longer belongs to the index: clear its usage-map bit.
  virtual void release_index_page(const IndexLayout& layout, uint32_t page_number) = 0;
};

class IndexWriter {
 public:
  IndexWriter(PageSource& pages, IndexPageStore& store, IndexPageAllocator& allocator, const IndexLayout& layout);

  const IndexLayout& layout() const { return layout_; }

  // The encoded key of a row's key-column values (one per key column, in key
  // order). Throws kConstraint naming the index and the value when a value
  // cannot be a key (text the General sort order cannot express, wrong type).
  std::vector<uint8_t> key_for(std::span<const Value> values) const;

  // True when the index keeps no entry for `key` (an ignore-nulls index and a
  // key whose every column is Null); insert/remove then do nothing.
  bool skips(std::span<const uint8_t> key) const;

  // The check a table runs before it writes anything for a new or changed
  // row: throws kConstraint naming the index, its table and the value when
  //   - the index is unique and another row than `self` already has `key`
  //     (keys with a Null column never clash, as in Access);
  //   - the index is the primary key or required and a key column is Null.
  // `values` are the key's values (for the message), `key` their encoding
  // (key_for). `self`: the row being updated (its own entry is no clash).
  void check_insert(std::span<const Value> values, std::span<const uint8_t> key,
                    std::optional<RowPointer> self = std::nullopt);

  // The first part of check_insert, which needs no page: throws kConstraint
  // when the index is the primary key or required and a key column is Null.
  // Returns whether a key column is Null (such a key never clashes in a
  // unique index).
  bool check_nulls(std::span<const Value> values) const;

  // Adds the entry (key, row), splitting pages as needed. Throws
  // kInvalidArgument when the entry is already there, kConstraint when the
  // key is longer than kMaxKeyBytes.
  void insert(std::span<const uint8_t> key, RowPointer row);

  // Removes the entry (key, row). Throws kNotFound when it is not there.
  void remove(std::span<const uint8_t> key, RowPointer row);

  // Longest encoded key an entry may hold: an intermediate entry adds 8
  // bytes (row and child pointers) and must fit the 3,616 bytes a page has
  // for entries. insert() refuses longer keys with kConstraint.
  static constexpr std::size_t kMaxKeyBytes = kIndexEntryCapacity - 8;

  ~IndexWriter();
  IndexWriter(const IndexWriter&) = delete;
  IndexWriter& operator=(const IndexWriter&) = delete;

  struct Node;  // one page in memory while an operation changes it

 private:
  struct Frame;
  struct RawPage;
  void descend(std::span<const uint8_t> entry);
  void read_raw(uint32_t number, RawPage& out);
  Node& loaded(std::size_t depth);
  bool append_in_place(std::span<const uint8_t> entry);
  void load(uint32_t number, Node& out, const std::vector<uint8_t>* upper);
  void node_from_raw(const RawPage& raw, Node& out, const std::vector<uint8_t>* upper);
  void store(Node& node);
  void settle(std::size_t depth, const std::vector<uint8_t>* carry);
  void split(Node& node, Node& parent, std::size_t& child_index);
  void set_link(uint32_t page_number, bool next_link, uint32_t value);
  uint32_t new_page();
  std::vector<uint8_t> subtree_last(uint32_t page_number);
  [[noreturn]] void fail(ErrorCategory category, const std::string& what) const;

  PageSource& pages_;
  IndexPageStore& store_;
  IndexPageAllocator& allocator_;
  const IndexLayout& layout_;
  std::vector<uint8_t> entry_buffer_;
  IndexPage scratch_;
  std::vector<Frame> path_;  // root first
  std::unique_ptr<RawPage[]> raw_holder_;  // the two below, in one allocation
  RawPage& raw_;             // the page descend() read last (the leaf)
  RawPage& load_raw_;        // for load()
  bool raw_valid_ = false;   // raw_ still points into the page source's current page
  bool appended_ = false;    // the entry being inserted went past the last leaf's end
};

}  // namespace jet::index
