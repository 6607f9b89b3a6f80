#include "usage_map.h"

#include <vector>

#include "binary.h"
#include "data_page.h"
#include "jet/error.h"

namespace jet {
namespace {

constexpr std::size_t kMapPageBitmapOffset = 4;
constexpr uint32_t kPagesPerMapPage = (kPageSize - kMapPageBitmapOffset) * 8;

void add_bits(const uint8_t* bits, std::size_t n, uint64_t first, uint32_t page_count, std::vector<uint32_t>& out,
              const std::string& where) {
  for (std::size_t i = 0; i < n; ++i) {
    uint8_t b = bits[i];
    while (b != 0) {
      int k = __builtin_ctz(b);
      b &= static_cast<uint8_t>(b - 1);
      uint64_t page = first + i * 8 + k;
      if (page >= page_count) {
        // Maps may be written ahead of the file's growth; pages past the end
        // hold nothing yet, so they are not owned in any useful sense.
        continue;
      }
      out.push_back(static_cast<uint32_t>(page));
    }
  }
}

}  // namespace

std::vector<uint32_t> read_usage_map(PageSource& pages, uint32_t row_pointer, const std::string& what) {
  const std::string where = pages.file_name() + ": usage map of " + what;
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
  // Copy: reading map pages below may evict this page.
  std::vector<uint8_t> row(page + slot.start, page + slot.end);
  std::vector<uint32_t> out;
  const uint32_t page_count = pages.page_count();
  if (row[0] == 0x00) {
    if (row.size() < 5) throw Error(ErrorCategory::kCorruption, where + ": inline map is cut short");
    add_bits(row.data() + 5, row.size() - 5, le32(row.data() + 1), page_count, out, where);
  } else if (row[0] == 0x01) {
    for (std::size_t i = 0; 1 + 4 * i + 4 <= row.size(); ++i) {
      uint32_t map_page = le32(row.data() + 1 + 4 * i);
      if (map_page == 0) continue;
      if (map_page >= page_count) {
        throw Error(ErrorCategory::kCorruption, where + ": map page " + std::to_string(map_page) +
                                                    " lies beyond the end of the file");
      }
      const uint8_t* mp = pages.page(map_page);
      if (mp[0] != kPageTypeUsageMap) {
        throw Error(ErrorCategory::kCorruption, where + ": page " + std::to_string(map_page) +
                                                    " is not a usage-map page (type " + std::to_string(mp[0]) + ")");
      }
      add_bits(mp + kMapPageBitmapOffset, kPageSize - kMapPageBitmapOffset, uint64_t(i) * kPagesPerMapPage,
               page_count, out, where);
    }
  } else {
    throw Error(ErrorCategory::kCorruption, where + ": unknown map type " + std::to_string(row[0]));
  }
  return out;
}

}  // namespace jet
