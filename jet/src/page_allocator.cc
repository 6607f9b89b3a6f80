#include "page_allocator.h"

#include <algorithm>
#include <cstring>

#include "binary.h"
#include "data_page.h"
#include "jet/error.h"
#include "usage_map.h"

namespace jet {
namespace data_page {

namespace {
struct Slot {
  uint16_t flags;
  std::vector<uint8_t> bytes;
};

std::vector<Slot> read_slots(const uint8_t* page) {
  uint16_t n = row_count(page);
  std::vector<Slot> slots(n);
  for (uint16_t r = 0; r < n; ++r) {
    auto b = row_bytes(page, uint8_t(r));
    slots[r].flags = row_flags(page, uint8_t(r));
    slots[r].bytes.assign(b.begin(), b.end());
  }
  return slots;
}

void write_slots(uint8_t* page, const std::vector<Slot>& slots) {
  std::size_t end = kPageSize;
  const std::size_t table_end = kDataOffRowTable + 2 * slots.size();
  for (std::size_t r = 0; r < slots.size(); ++r) {
    end -= slots[r].bytes.size();
    if (end < table_end) {
      throw Error(ErrorCategory::kInvalidArgument, "internal: rows overflow their data page");
    }
    if (!slots[r].bytes.empty()) std::memcpy(page + end, slots[r].bytes.data(), slots[r].bytes.size());
    put_le16(page + kDataOffRowTable + 2 * r, uint16_t(end | slots[r].flags));
  }
  put_le16(page + kDataOffRowCount, uint16_t(slots.size()));
  std::memset(page + table_end, 0, end - table_end);
  put_le16(page + 2, uint16_t(end - table_end));
}
}  // namespace

void init(uint8_t* page, uint32_t owner) {
  std::memset(page, 0, kPageSize);
  page[0] = kPageTypeData;
  page[1] = 0x01;
  put_le32(page + kDataOffTdefPage, owner);
  put_le16(page + 2, uint16_t(kPageSize - kDataOffRowTable));
}

uint16_t row_count(const uint8_t* page) { return le16(page + kDataOffRowCount); }

uint16_t row_flags(const uint8_t* page, uint8_t row) {
  return le16(page + kDataOffRowTable + 2 * row) & ~kRowOffsetMask;
}

std::span<const uint8_t> row_bytes(const uint8_t* page, uint8_t row) {
  uint16_t start = le16(page + kDataOffRowTable + 2 * row) & kRowOffsetMask;
  uint16_t end = row == 0 ? kPageSize : (le16(page + kDataOffRowTable + 2 * (row - 1)) & kRowOffsetMask);
  if (start > end || end > kPageSize) return {};
  return {page + start, std::size_t(end - start)};
}

std::size_t gap(const uint8_t* page) {
  uint16_t n = row_count(page);
  std::size_t low = kPageSize;
  for (uint16_t r = 0; r < n; ++r) low = std::min<std::size_t>(low, le16(page + kDataOffRowTable + 2 * r) & kRowOffsetMask);
  std::size_t table_end = kDataOffRowTable + 2u * n;
  return low > table_end ? low - table_end : 0;
}

bool fits(const uint8_t* page, std::size_t size) { return row_count(page) < 255 && gap(page) >= size + 2; }

uint8_t add_row(uint8_t* page, std::span<const uint8_t> bytes, uint16_t flags) {
  // The new row goes right below the lowest row; nothing else moves.
  const uint16_t n = row_count(page);
  std::size_t low = kPageSize;
  for (uint16_t r = 0; r < n; ++r) low = std::min<std::size_t>(low, le16(page + kDataOffRowTable + 2 * r) & kRowOffsetMask);
  const std::size_t table_end = kDataOffRowTable + 2u * (n + 1);
  if (n >= 255 || low < table_end + bytes.size()) {
    throw Error(ErrorCategory::kInvalidArgument, "internal: a row does not fit its data page");
  }
  if (n > 0 && low != (le16(page + kDataOffRowTable + 2 * (n - 1)) & kRowOffsetMask)) {
    // Rows out of slot order (not seen in Access files): lay the page out anew.
    auto slots = read_slots(page);
    slots.push_back(Slot{flags, std::vector<uint8_t>(bytes.begin(), bytes.end())});
    write_slots(page, slots);
    return uint8_t(n);
  }
  const std::size_t start = low - bytes.size();
  if (!bytes.empty()) std::memcpy(page + start, bytes.data(), bytes.size());
  put_le16(page + kDataOffRowTable + 2 * n, uint16_t(start | flags));
  put_le16(page + kDataOffRowCount, uint16_t(n + 1));
  put_le16(page + 2, uint16_t(start - table_end));
  return uint8_t(n);
}

void replace_row(uint8_t* page, uint8_t row, std::span<const uint8_t> bytes, uint16_t flags) {
  auto slots = read_slots(page);
  slots.at(row) = Slot{flags, std::vector<uint8_t>(bytes.begin(), bytes.end())};
  write_slots(page, slots);
}

}  // namespace data_page

namespace {

// Access grows the global map's bitmap in steps of this many bytes.
constexpr std::size_t kGlobalMapStep = 32;
// A reference-form map row: the type byte and 17 pointers, enough for the
// largest Jet 4 file (2 GB = 524288 pages), and the length of Access's own
// map rows (5 + 64 bytes).
constexpr std::size_t kReferenceRowSize = 1 + 4 * 17;

bool get_bit(const uint8_t* bits, uint32_t k) { return (bits[k / 8] >> (k % 8)) & 1; }
void put_bit(uint8_t* bits, uint32_t k, bool on) {
  if (on) bits[k / 8] |= uint8_t(1u << (k % 8));
  else bits[k / 8] &= uint8_t(~(1u << (k % 8)));
}

// The first set bit among `n` bitmap bytes, or -1.
int64_t first_set_bit(const uint8_t* bits, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, bits + i, 8);
    if (w != 0) break;
  }
  for (; i < n; ++i) {
    if (bits[i] != 0) return int64_t(i) * 8 + __builtin_ctz(bits[i]);
  }
  return -1;
}

void format_map_page(uint8_t* page) {
  std::memset(page, 0, kPageSize);
  page[0] = kPageTypeUsageMap;
  page[1] = 0x01;
}

// In a map page of the file's page map for range `range`: pages at or past
// `page_count` read free, as the inline form has them.
void mark_past_end_free(uint8_t* page, std::size_t range, uint32_t page_count) {
  const uint64_t first = uint64_t(range) * kPagesPerMapPage;
  for (uint32_t k = 0; k < kPagesPerMapPage; ++k) {
    if (first + k >= page_count) put_bit(page + kMapPageBitmapOffset, k, true);
  }
}

// A usage map's row (page and row of a row pointer), checked: on a data page
// inside the file, present, and long enough for its header. `where` names it
// in errors.
struct MapRow {
  uint32_t page;
  uint8_t row;
  std::string where;
  const uint8_t* data;
  std::span<const uint8_t> bytes;
};

MapRow map_row_at(Pager& pager, uint32_t map_row, const std::string& what) {
  MapRow at{row_pointer_page(map_row), row_pointer_row(map_row), pager.file_name() + ": usage map of " + what,
            nullptr, {}};
  if (at.page == 0 || at.page >= pager.page_count()) {
    throw Error(ErrorCategory::kCorruption,
                at.where + " points to page " + std::to_string(at.page) + ", outside the file");
  }
  at.data = pager.page(at.page);
  if (at.data[0] != kPageTypeData || at.row >= data_page::row_count(at.data)) {
    throw Error(ErrorCategory::kCorruption, at.where + " points to a row that does not exist");
  }
  at.bytes = data_page::row_bytes(at.data, at.row);
  if (at.bytes.size() < 5) throw Error(ErrorCategory::kCorruption, at.where + " is cut short");
  return at;
}

}  // namespace

uint32_t PageAllocator::new_page() {
  if (uint32_t p = take_free_page(); p != 0) {
    std::memset(pager_.page_for_write(p), 0, kPageSize);
    return p;
  }
  uint32_t p = pager_.append_page();
  if (pager_.page_count() > 1 && p > 1) set_global(p, false);
  return p;
}

void PageAllocator::free_page(uint32_t page) { set_global(page, true); }

std::vector<uint8_t> PageAllocator::global_row() {
  const uint8_t* ro = pager_.page(1);
  if (ro[0] != kPageTypeData || data_page::row_count(ro) < 1) {
    throw Error(ErrorCategory::kCorruption, pager_.file_name() + ": page 1 does not hold the file's page map");
  }
  auto row = data_page::row_bytes(ro, 0);
  if (row.size() < 5 || (row[0] != kMapTypeInline && row[0] != kMapTypeReference)) {
    throw Error(ErrorCategory::kCorruption, pager_.file_name() + ": the file's page map (page 1) has an unknown form");
  }
  return std::vector<uint8_t>(row.begin(), row.end());
}

void PageAllocator::put_global_row(const std::vector<uint8_t>& row) {
  uint8_t* w = pager_.page_for_write(1);
  const std::size_t old = data_page::row_bytes(w, 0).size();
  if (row.size() > old && row.size() - old > data_page::gap(w)) {
    throw Error(ErrorCategory::kInvalidArgument, "internal: the file's page map does not fit page 1");
  }
  data_page::replace_row(w, 0, row, data_page::row_flags(w, 0));
}

uint32_t PageAllocator::take_free_page() {
  const uint32_t count = pager_.page_count();
  if (count < 3) return 0;
  std::vector<uint8_t> map = global_row();
  uint32_t found = 0;
  if (map[0] == kMapTypeInline) {
    // Set bits rise with the page; the first one at or past the end of the
    // file ends the search (pages past the end are "free" but not there).
    // Pages 0 and 1 are never free, whatever their bits say.
    const uint32_t start = le32(map.data() + 1);
    uint8_t* bits = map.data() + 5;
    const std::size_t n = map.size() - 5;
    for (uint32_t p = start; p < 2 && p - start < n * 8; ++p) put_bit(bits, p - start, false);
    int64_t k = first_set_bit(bits, n);
    if (k >= 0 && uint64_t(start) + uint64_t(k) < count) found = start + uint32_t(k);
  } else {
    for (std::size_t i = 0; 1 + 4 * i + 4 <= map.size() && found == 0; ++i) {
      if (uint64_t(i) * kPagesPerMapPage >= count) break;
      const uint32_t mp = le32(map.data() + 1 + 4 * i);
      if (!names_map_page(mp)) continue;
      if (mp >= count || pager_.page(mp)[0] != kPageTypeUsageMap) {
        throw Error(ErrorCategory::kCorruption, pager_.file_name() + ": the file's page map names page " +
                                                    std::to_string(mp) + ", which is not a usage-map page");
      }
      const uint8_t* bits = pager_.page(mp) + kMapPageBitmapOffset;
      const std::size_t n = kPageSize - kMapPageBitmapOffset;
      for (std::size_t from = 0; from < n;) {
        int64_t k = first_set_bit(bits + from, n - from);
        if (k < 0) break;
        uint64_t bit = from * 8 + uint64_t(k);
        uint64_t page = uint64_t(i) * kPagesPerMapPage + bit;
        if (page >= count) break;
        if (page >= 2) {
          found = uint32_t(page);
          break;
        }
        // Pages 0 and 1: clear their stray bits and look again.
        put_bit(pager_.page_for_write(mp) + kMapPageBitmapOffset, uint32_t(bit), false);
        bits = pager_.page(mp) + kMapPageBitmapOffset;
      }
    }
  }
  if (found != 0) set_global(found, false);
  return found;
}

void PageAllocator::set_global(uint32_t page, bool free) {
  std::vector<uint8_t> map = global_row();
  if (map[0] == kMapTypeReference) {
    set_reference_global(map, page, free);
    return;
  }
  uint32_t start = le32(map.data() + 1);
  uint64_t bits = uint64_t(map.size() - 5) * 8;
  if (page < start) return;  // before the map: counted in use already
  if (page - start >= bits) {
    if (free) return;  // past the map's end: free already
    // Grow the bitmap; new bits past the file's end read "free".
    std::size_t need = (page - start) / 8 + 1;
    std::size_t bytes = map.size() - 5;
    while (bytes < need) bytes += kGlobalMapStep;
    const uint8_t* w = pager_.page(1);
    if (5 + bytes - data_page::row_bytes(w, 0).size() > data_page::gap(w)) {
      // Page 1 is full: the map takes the reference form, as Access's
      // large files have it.
      global_to_reference(map);
      set_global(page, free);
      return;
    }
    std::size_t old = map.size();
    map.resize(5 + bytes, 0);
    for (std::size_t k = (old - 5) * 8; k < bytes * 8; ++k) {
      if (start + k >= pager_.page_count()) put_bit(map.data() + 5, uint32_t(k), true);
    }
  }
  put_bit(map.data() + 5, page - start, free);
  put_global_row(map);
}

void PageAllocator::set_reference_global(std::vector<uint8_t>& map, uint32_t page, bool free) {
  const std::size_t i = page / kPagesPerMapPage;
  const std::size_t slots = (map.size() - 1) / 4;
  if (i >= slots) {
    if (!free) {
      throw Error(ErrorCategory::kUnsupported, pager_.file_name() + ": the file's page map cannot describe page " +
                                                   std::to_string(page) + ": the file is too large");
    }
    return;  // a page it cannot describe is not reused
  }
  uint32_t mp = le32(map.data() + 1 + 4 * i);
  if (!names_map_page(mp)) {
    if (!free) return;  // no map page: the range is in use
    // A map page for the range, taken from the end of the file (reusing a
    // free page would need this very map).
    mp = pager_.append_page();
    format_map_page(pager_.page_for_write(mp));
    mark_past_end_free(pager_.page_for_write(mp), i, pager_.page_count());
    put_le32(map.data() + 1 + 4 * i, mp);
    put_global_row(map);
    set_global(mp, false);
  } else if (mp >= pager_.page_count() || pager_.page(mp)[0] != kPageTypeUsageMap) {
    throw Error(ErrorCategory::kCorruption, pager_.file_name() + ": the file's page map names page " +
                                                std::to_string(mp) + ", which is not a usage-map page");
  }
  put_bit(pager_.page_for_write(mp) + kMapPageBitmapOffset, page % kPagesPerMapPage, free);
}

void PageAllocator::global_to_reference(const std::vector<uint8_t>& inline_map) {
  const uint32_t start = le32(inline_map.data() + 1);
  const uint64_t bits = uint64_t(inline_map.size() - 5) * 8;
  const uint32_t count = pager_.page_count();
  std::vector<uint32_t> free_pages;
  for (uint32_t p = std::max<uint32_t>(start, 2); p < count; ++p) {
    uint64_t k = p - start;
    if (k >= bits || get_bit(inline_map.data() + 5, uint32_t(k))) free_pages.push_back(p);
  }
  std::vector<uint8_t> ref(kReferenceRowSize, 0);
  ref[0] = kMapTypeReference;
  // Ranges without free pages need no map page (their pages are in use).
  for (uint32_t p : free_pages) {
    const std::size_t i = p / kPagesPerMapPage;
    uint32_t mp = le32(ref.data() + 1 + 4 * i);
    if (mp == 0) {
      mp = pager_.append_page();
      format_map_page(pager_.page_for_write(mp));
      put_le32(ref.data() + 1 + 4 * i, mp);
    }
    put_bit(pager_.page_for_write(mp) + kMapPageBitmapOffset, p % kPagesPerMapPage, true);
  }
  for (std::size_t i = 0; 1 + 4 * i + 4 <= ref.size(); ++i) {
    if (uint32_t mp = le32(ref.data() + 1 + 4 * i); mp != 0) {
      mark_past_end_free(pager_.page_for_write(mp), i, pager_.page_count());
    }
  }
  put_global_row(ref);
}

void PageAllocator::set_bit(uint32_t map_row, uint32_t page, bool on, const std::string& what) {
  const MapRow at = map_row_at(pager_, map_row, what);
  const uint32_t mp = at.page;
  const uint8_t row_no = at.row;
  const std::string& where = at.where;
  const uint8_t* ro = at.data;
  std::span<const uint8_t> row = at.bytes;
  std::vector<uint8_t> map(row.begin(), row.end());
  const uint16_t flags = data_page::row_flags(ro, row_no);

  if (map[0] == 0x00) {
    uint32_t start = le32(map.data() + 1);
    const uint32_t bits = uint32_t(map.size() - 5) * 8;
    if (page >= start && page - start < bits) {
      put_bit(map.data() + 5, page - start, on);
    } else if (!on) {
      return;
    } else {
      // Gather the owned pages and try a new start that covers them all.
      std::vector<uint32_t> owned;
      for (uint32_t k = 0; k < bits; ++k)
        if (get_bit(map.data() + 5, k)) owned.push_back(start + k);
      owned.push_back(page);
      uint32_t lo = *std::min_element(owned.begin(), owned.end()) & ~7u;
      uint32_t hi = *std::max_element(owned.begin(), owned.end());
      if (hi - lo < bits) {
        std::fill(map.begin() + 5, map.end(), 0);
        put_le32(map.data() + 1, lo);
        for (uint32_t p : owned) put_bit(map.data() + 5, p - lo, true);
      } else {
        // Becomes a reference map: type-0x05 pages, 32736 pages each.
        std::vector<uint8_t> ref(map.size(), 0);
        ref[0] = 0x01;
        const std::size_t slots = (ref.size() - 1) / 4;
        for (uint32_t p : owned) {
          std::size_t i = p / kPagesPerMapPage;
          if (i >= slots) throw Error(ErrorCategory::kUnsupported, where + ": the file is too large for this map");
          uint32_t bp = le32(ref.data() + 1 + 4 * i);
          if (bp == 0) {
            bp = new_page();
            format_map_page(pager_.page_for_write(bp));
            put_le32(ref.data() + 1 + 4 * i, bp);
          }
          put_bit(pager_.page_for_write(bp) + kMapPageBitmapOffset, p % kPagesPerMapPage, true);
        }
        map = std::move(ref);
      }
    }
  } else if (map[0] == 0x01) {
    std::size_t i = page / kPagesPerMapPage;
    const std::size_t slots = (map.size() - 1) / 4;
    if (i >= slots) {
      if (!on) return;
      throw Error(ErrorCategory::kUnsupported, where + ": the file is too large for this map");
    }
    uint32_t bp = le32(map.data() + 1 + 4 * i);
    if (!names_map_page(bp)) {
      if (!on) return;
      bp = new_page();
      format_map_page(pager_.page_for_write(bp));
      put_le32(map.data() + 1 + 4 * i, bp);
    } else if (bp >= pager_.page_count() || pager_.page(bp)[0] != kPageTypeUsageMap) {
      throw Error(ErrorCategory::kCorruption, where + ": page " + std::to_string(bp) + " is not a usage-map page");
    }
    put_bit(pager_.page_for_write(bp) + kMapPageBitmapOffset, page % kPagesPerMapPage, on);
  } else {
    throw Error(ErrorCategory::kCorruption, where + ": unknown map type " + std::to_string(map[0]));
  }
  data_page::replace_row(pager_.page_for_write(mp), row_no, map, flags);
}

void PageAllocator::map_clear(uint32_t map_row, const std::string& what) {
  const MapRow at = map_row_at(pager_, map_row, what);
  const uint32_t mp = at.page;
  const uint8_t row_no = at.row;
  const std::string& where = at.where;
  const uint8_t* ro = at.data;
  std::span<const uint8_t> row = at.bytes;
  if (row[0] == kMapTypeInline) {
    std::vector<uint8_t> map(row.begin(), row.end());
    std::fill(map.begin() + 5, map.end(), 0);
    data_page::replace_row(pager_.page_for_write(mp), row_no, map, data_page::row_flags(ro, row_no));
  } else if (row[0] == kMapTypeReference) {
    for (std::size_t i = 0; 1 + 4 * i + 4 <= row.size(); ++i) {
      const uint32_t bp = le32(row.data() + 1 + 4 * i);
      if (!names_map_page(bp)) continue;
      if (bp >= pager_.page_count() || pager_.page(bp)[0] != kPageTypeUsageMap) {
        throw Error(ErrorCategory::kCorruption, where + ": page " + std::to_string(bp) + " is not a usage-map page");
      }
      uint8_t* w = pager_.page_for_write(bp);
      std::memset(w + kMapPageBitmapOffset, 0, kPageSize - kMapPageBitmapOffset);
      ro = pager_.page(mp);
      row = data_page::row_bytes(ro, row_no);
    }
  } else {
    throw Error(ErrorCategory::kCorruption, where + ": unknown map type " + std::to_string(row[0]));
  }
}

void PageAllocator::map_add(uint32_t map_row, uint32_t page, const std::string& what) {
  set_bit(map_row, page, true, what);
}

void PageAllocator::map_remove(uint32_t map_row, uint32_t page, const std::string& what) {
  set_bit(map_row, page, false, what);
}

uint32_t PageAllocator::new_long_value_page() {
  uint32_t p = new_page();
  data_page::init(pager_.page_for_write(p), kLvalOwner);
  lval_page_ = p;
  return p;
}

uint32_t PageAllocator::add_long_value_row(std::span<const uint8_t> bytes) {
  uint32_t p = lval_page_;
  bool ok = p != 0 && p < pager_.page_count();
  if (ok) {
    const uint8_t* ro = pager_.page(p);
    ok = ro[0] == kPageTypeData && le32(ro + kDataOffTdefPage) == kLvalOwner && data_page::fits(ro, bytes.size());
  }
  if (!ok) p = new_long_value_page();
  uint8_t row = data_page::add_row(pager_.page_for_write(p), bytes);
  return (p << 8) | row;
}

void PageAllocator::delete_long_value(std::span<const uint8_t> field) {
  if (field.size() < 12) return;
  const uint8_t kind = field[3] & 0xC0;
  if (kind & 0x80) return;  // inline
  uint32_t ptr = le32(field.data() + 4);
  const bool chain = (kind & 0x40) == 0;
  for (int hops = 0; ptr != 0 && hops < 1 << 20; ++hops) {
    uint32_t pg = row_pointer_page(ptr);
    uint8_t r = row_pointer_row(ptr);
    if (pg == 0 || pg >= pager_.page_count()) return;
    const uint8_t* ro = pager_.page(pg);
    if (ro[0] != kPageTypeData || le32(ro + kDataOffTdefPage) != kLvalOwner || r >= data_page::row_count(ro)) return;
    if (data_page::row_flags(ro, r) & kRowDeleted) return;
    auto b = data_page::row_bytes(ro, r);
    uint32_t next = chain && b.size() >= 4 ? le32(b.data()) : 0;
    data_page::replace_row(pager_.page_for_write(pg), r, {}, kRowDeleted | kRowLookup);
    free_if_empty_long_value_page(pg);
    ptr = next;
  }
}

void PageAllocator::free_if_empty_long_value_page(uint32_t page) {
  const uint8_t* ro = pager_.page(page);
  const uint16_t n = data_page::row_count(ro);
  for (uint16_t r = 0; r < n; ++r) {
    if ((data_page::row_flags(ro, uint8_t(r)) & (kRowDeleted | kRowLookup)) != (kRowDeleted | kRowLookup)) return;
  }
  std::memset(pager_.page_for_write(page), 0, kPageSize);
  free_page(page);
  if (lval_page_ == page) lval_page_ = 0;
}

uint32_t PageAllocator::allocate_index_page(const index::IndexLayout& layout) {
  uint32_t p = new_page();
  map_add(layout.usage_map, p, "index '" + layout.name + "' of table '" + layout.table_name + "'");
  return p;
}

void PageAllocator::release_index_page(const index::IndexLayout& layout, uint32_t page_number) {
  map_remove(layout.usage_map, page_number, "index '" + layout.name + "' of table '" + layout.table_name + "'");
  free_page(page_number);
}

uint32_t PageAllocator::map_page_with_room(std::size_t rows, std::size_t row_size) {
  if (last_map_page_ != 0 && last_map_page_ < pager_.page_count()) {
    const uint8_t* p = pager_.page(last_map_page_);
    if (p[0] == kPageTypeData && le32(p + kDataOffTdefPage) == 0 && data_page::row_count(p) + rows < 255 &&
        data_page::gap(p) >= rows * (row_size + 2)) {
      return last_map_page_;
    }
  }
  uint32_t p = new_page();
  data_page::init(pager_.page_for_write(p), 0);
  last_map_page_ = p;
  return p;
}

}  // namespace jet
