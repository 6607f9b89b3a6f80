#include "usage_map.h"

#include <vector>

#include "binary.h"
#include "data_page.h"
#include "jet/error.h"

namespace jet {
namespace {

// Calls `on(page)` for every set bit of `n` bitmap bytes describing pages
// from `first`.
template <typename F>
void for_bits(const uint8_t* bits, std::size_t n, uint64_t first, F&& on) {
  for (std::size_t i = 0; i < n; ++i) {
    uint8_t b = bits[i];
    while (b != 0) {
      int k = __builtin_ctz(b);
      b &= static_cast<uint8_t>(b - 1);
      on(first + i * 8 + k);
    }
  }
}

// The bytes of the map row at `row_pointer` (a copy: reading map pages may
// evict its page).
std::vector<uint8_t> map_row(PageSource& pages, uint32_t row_pointer, const std::string& where) {
  uint32_t pg = row_pointer_page(row_pointer);
  if (pg == 0 || pg >= pages.page_count()) {
    throw Error(ErrorCategory::kCorruption, where + " points to page " + std::to_string(pg) +
                                                ", outside the file (" + std::to_string(pages.page_count()) + " pages)");
  }
  const uint8_t* page = pages.page(pg);
  if (page[0] != kPageTypeData) {
    throw Error(ErrorCategory::kCorruption, where + " points to page " + std::to_string(pg) +
                                                ", which is not a data page (type " + std::to_string(page[0]) + ")");
  }
  RowSlot slot = data_page_row(page, row_pointer_row(row_pointer), pages, pg);
  if (slot.deleted || slot.end - slot.start < 1) {
    throw Error(ErrorCategory::kCorruption, where + ": its row is deleted or empty");
  }
  return std::vector<uint8_t>(page + slot.start, page + slot.end);
}

// The bitmap of the map page `map_page` (checked to be one).
const uint8_t* map_page_bits(PageSource& pages, uint32_t map_page, const std::string& where) {
  if (map_page >= pages.page_count()) {
    throw Error(ErrorCategory::kCorruption, where + ": map page " + std::to_string(map_page) +
                                                " lies beyond the end of the file (" +
                                                std::to_string(pages.page_count()) + " pages)");
  }
  const uint8_t* mp = pages.page(map_page);
  if (mp[0] != kPageTypeUsageMap) {
    throw Error(ErrorCategory::kCorruption, where + ": page " + std::to_string(map_page) +
                                                " is not a usage-map page (type " + std::to_string(mp[0]) + ")");
  }
  return mp + kMapPageBitmapOffset;
}

// Every page the map lists, inside the file or not.
template <typename F>
void walk_usage_map(PageSource& pages, uint32_t row_pointer, const std::string& what, F&& on) {
  const std::string where = pages.file_name() + ": usage map of " + what;
  std::vector<uint8_t> row = map_row(pages, row_pointer, where);
  if (row[0] == kMapTypeInline) {
    if (row.size() < 5) throw Error(ErrorCategory::kCorruption, where + ": inline map is cut short");
    for_bits(row.data() + 5, row.size() - 5, le32(row.data() + 1), on);
  } else if (row[0] == kMapTypeReference) {
    for (std::size_t i = 0; 1 + 4 * i + 4 <= row.size(); ++i) {
      uint32_t map_page = le32(row.data() + 1 + 4 * i);
      if (!names_map_page(map_page)) continue;
      for_bits(map_page_bits(pages, map_page, where), kPageSize - kMapPageBitmapOffset,
               uint64_t(i) * kPagesPerMapPage, on);
    }
  } else {
    throw Error(ErrorCategory::kCorruption, where + ": unknown map type " + std::to_string(row[0]));
  }
}

}  // namespace

std::vector<uint32_t> read_usage_map(PageSource& pages, uint32_t row_pointer, const std::string& what) {
  std::vector<uint32_t> out;
  const uint32_t page_count = pages.page_count();
  walk_usage_map(pages, row_pointer, what, [&](uint64_t page) {
    // Maps may be written ahead of the file's growth; pages past the end
    // hold nothing yet, so they are not owned in any useful sense.
    if (page < page_count) out.push_back(static_cast<uint32_t>(page));
  });
  return out;
}

std::vector<uint32_t> usage_map_pages_past_end(PageSource& pages, uint32_t row_pointer, const std::string& what) {
  std::vector<uint32_t> out;
  const uint32_t page_count = pages.page_count();
  walk_usage_map(pages, row_pointer, what, [&](uint64_t page) {
    if (page >= page_count && page <= UINT32_MAX) out.push_back(static_cast<uint32_t>(page));
  });
  return out;
}

bool FreePageMap::is_free(uint32_t page) const {
  if (!reference) {
    if (page < start) return false;
    uint64_t k = page - start;
    if (k >= bits.size() * 8) return true;
    return (bits[k / 8] >> (k % 8)) & 1;
  }
  std::size_t i = page / kPagesPerMapPage;
  if (i >= ranges.size() || ranges[i].empty()) return false;
  uint32_t k = page % kPagesPerMapPage;
  return (ranges[i][k / 8] >> (k % 8)) & 1;
}

FreePageMap read_free_page_map(PageSource& pages) {
  const std::string where = pages.file_name() + ": the file's page map (page 1)";
  if (pages.page_count() < 2) throw Error(ErrorCategory::kCorruption, where + " is missing: the file is cut short");
  const uint8_t* p = pages.page(1);
  if (p[0] != kPageTypeData || le16(p + kDataOffRowCount) < 1) {
    throw Error(ErrorCategory::kCorruption, where + " is not there: page 1 holds no map row");
  }
  RowSlot slot = data_page_row(p, 0, pages, 1);
  if (slot.deleted || slot.end - slot.start < 5) throw Error(ErrorCategory::kCorruption, where + " is cut short");
  std::vector<uint8_t> row(p + slot.start, p + slot.end);
  FreePageMap m;
  if (row[0] == kMapTypeInline) {
    m.start = le32(row.data() + 1);
    m.bits.assign(row.begin() + 5, row.end());
  } else if (row[0] == kMapTypeReference) {
    m.reference = true;
    for (std::size_t i = 0; 1 + 4 * i + 4 <= row.size(); ++i) {
      uint32_t ptr = le32(row.data() + 1 + 4 * i);
      m.map_pages.push_back(names_map_page(ptr) ? ptr : 0);
      if (!names_map_page(ptr)) {
        m.ranges.emplace_back();
        continue;
      }
      const uint8_t* bits = map_page_bits(pages, ptr, where);
      m.ranges.emplace_back(bits, bits + (kPageSize - kMapPageBitmapOffset));
    }
  } else {
    throw Error(ErrorCategory::kCorruption, where + " has unknown map type " + std::to_string(row[0]));
  }
  return m;
}

}  // namespace jet
