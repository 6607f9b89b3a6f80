// Test helpers for the index module: pages in memory and B-trees built by
// hand from sorted entries.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "index/index_page.h"
#include "index/key_encoding.h"
#include "jet/error.h"
#include "page_source.h"

namespace jet::index {

class MemoryPages : public PageSource {
 public:
  explicit MemoryPages(uint32_t count) : pages_(count, std::vector<uint8_t>(kPageSize, 0)) {}
  const uint8_t* page(uint32_t n) override {
    if (n >= pages_.size()) throw Error(ErrorCategory::kCorruption, name_ + ": page " + std::to_string(n) + " beyond end");
    return pages_[n].data();
  }
  uint32_t page_count() const override { return static_cast<uint32_t>(pages_.size()); }
  const std::string& file_name() const override { return name_; }
  uint8_t* raw(uint32_t n) { return pages_[n].data(); }

 private:
  std::vector<std::vector<uint8_t>> pages_;
  std::string name_ = "memory.mdb";
};

inline void append_entry(IndexPage& p, std::span<const uint8_t> key, RowPointer row, uint32_t child = 0) {
  p.add_entry(key, row, child);
}

struct Entry {
  std::vector<uint8_t> key;
  RowPointer row;
};

// Builds a B-tree over `entries` (sorted) into `pages`, `per_leaf` entries
// per leaf and `per_node` children per intermediate page, pages allocated
// from `next_page` up. With `tail`, each intermediate level's last child is
// left out of the entries and named as the tail page instead, as Jet does
// when appending. Returns the root page.
inline uint32_t build_tree(MemoryPages& pages, const std::vector<Entry>& entries, std::size_t per_leaf,
                    std::size_t per_node, bool tail, uint32_t next_page = 10) {
  struct Child {
    uint32_t page;
    Entry last;
  };
  std::vector<Child> level;
  std::vector<uint32_t> leaf_pages;
  for (std::size_t i = 0; i < entries.size() || leaf_pages.empty(); i += per_leaf) {
    leaf_pages.push_back(next_page++);
  }
  for (std::size_t li = 0; li < leaf_pages.size(); ++li) {
    IndexPage p;
    p.leaf = true;
    p.number = leaf_pages[li];
    p.tdef_page = 2;
    p.prev_page = li > 0 ? leaf_pages[li - 1] : 0;
    p.next_page = li + 1 < leaf_pages.size() ? leaf_pages[li + 1] : 0;
    for (std::size_t i = li * per_leaf; i < entries.size() && i < (li + 1) * per_leaf; ++i) {
      append_entry(p, entries[i].key, entries[i].row);
    }
    p.prefix_length = static_cast<uint16_t>(shared_prefix_limit(p));
    encode_index_page(p, pages.raw(p.number));
    if (p.entry_count() > 0) level.push_back({p.number, entries[std::min(entries.size(), (li + 1) * per_leaf) - 1]});
  }
  if (level.size() <= 1) return leaf_pages[0];
  while (level.size() > 1) {
    std::vector<Child> up;
    std::vector<uint32_t> node_pages;
    for (std::size_t i = 0; i < level.size(); i += per_node) node_pages.push_back(next_page++);
    for (std::size_t ni = 0; ni < node_pages.size(); ++ni) {
      IndexPage p;
      p.leaf = false;
      p.number = node_pages[ni];
      p.tdef_page = 2;
      p.prev_page = ni > 0 ? node_pages[ni - 1] : 0;
      p.next_page = ni + 1 < node_pages.size() ? node_pages[ni + 1] : 0;
      std::size_t end = std::min(level.size(), (ni + 1) * per_node);
      for (std::size_t i = ni * per_node; i < end; ++i) {
        if (tail && i + 1 == end && ni + 1 == node_pages.size() && end - ni * per_node > 1) {
          p.tail_page = level[i].page;
        } else {
          append_entry(p, level[i].last.key, level[i].last.row, level[i].page);
        }
      }
      p.prefix_length = static_cast<uint16_t>(shared_prefix_limit(p));
      encode_index_page(p, pages.raw(p.number));
      up.push_back({p.number, level[end - 1].last});
    }
    level = std::move(up);
  }
  return level[0].page;
}

}  // namespace jet::index
