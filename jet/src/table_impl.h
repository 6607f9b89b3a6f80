// Internal: the state an open Table keeps, shared by its read path
// (table.cc) and its write path (table_write.cc).
#pragma once

#include <memory>
#include <vector>

#include "index/index_layout.h"
#include "jet/table.h"
#include "page_source.h"
#include "row_decoder.h"

namespace jet {

class PageAllocator;

// Lookup rows point to rows that point to rows...: Jet never chains them,
// but a damaged file could; this bounds the walk.
constexpr int kMaxLookupHops = 8;

struct Table::Impl {
  Impl(PageSource& pages, const TableDef& def);
  ~Impl();
  PageSource& pages;
  RowDecoder decoder;
  uint8_t copy[kPageSize];
  std::vector<uint32_t> owned_pages;
  bool owned_loaded = false;
  std::vector<index::IndexLayout> layouts;  // one per logical index
  // Write path: created on first write.
  std::unique_ptr<PageAllocator> allocator;
  uint32_t insert_page = 0;  // the data page that last took a row
};

}  // namespace jet
