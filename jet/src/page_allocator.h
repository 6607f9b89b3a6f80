// Internal: handing out pages and keeping the maps that say who owns them.
//
// Jet keeps three kinds of page bookkeeping (H: "Page Usage Maps"; F):
//   - the file's global map, row 0 of data page 1: an inline map (below)
//     whose set bits are FREE pages; pages past its end count as free. Access
//     grows the row by 32 bytes (256 pages) when the file outgrows it
//     (testV2000: a 96-byte bitmap for 743 pages; empty2000 and adox_jet4:
//     64 bytes, bits set from the first page past the end of the file);
//     freed pages inside the file show as set bits (indexTestV2000).
//   - each table's usage map (pages holding its rows) and free-space map
//     (those with room), rows named by the table definition;
//   - each real index's usage map (its index pages).
// Long-value (LVAL) pages belong to no table or index map in the Access
// 2000 files (testV2000), only to the global one.
//
// Map rows (usage_map.h has the byte layout): inline maps cover 8 pages per
// bitmap byte from a start page; reference maps list type-0x05 pages that
// each cover 32736 pages. The allocator sets and clears bits, moves an
// inline map's start when its pages allow, and turns an inline map into a
// reference map when they do not. Map rows keep their length (other rows
// share their page), except the global map, which grows as Access grows it.
//
// New pages are the lowest page the global map marks free inside the file
// (pages Access or this engine freed: emptied data, LVAL and index pages,
// dropped tables), zeroed; only when there is none does the file grow. The
// global map itself takes the reference form when page 1 has no room left
// for its inline bitmap; map pages of a reference-form global map come
// from the end of the file.
//
// All changes go through the pager's write unit (Pager::page_for_write,
// append_page); the caller holds a WriteScope.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "index/index_writer.h"
#include "pager.h"

namespace jet {

// Row-slot editing on data pages (table rows, LVAL rows, map rows).
namespace data_page {

// Formats `page` as an empty data page owned by `owner` (a definition page,
// or 0x4C41564C "LVAL" for long values, 0 for map pages).
void init(uint8_t* page, uint32_t owner);
// Free bytes between the slot table and the lowest row.
std::size_t gap(const uint8_t* page);
// Whether a new row of `size` bytes fits (with its slot).
bool fits(const uint8_t* page, std::size_t size);
// Appends a row in a new slot with `flags` (0, kRowDeleted for moved data);
// returns its row number. The caller checked fits().
uint8_t add_row(uint8_t* page, std::span<const uint8_t> bytes, uint16_t flags = 0);
// Replaces row `row`'s bytes and flags, moving the rows after it; the page
// must have room for any growth (size_delta <= gap).
void replace_row(uint8_t* page, uint8_t row, std::span<const uint8_t> bytes, uint16_t flags);
// Bytes of row `row` (deleted rows: empty).
std::span<const uint8_t> row_bytes(const uint8_t* page, uint8_t row);
uint16_t row_flags(const uint8_t* page, uint8_t row);
uint16_t row_count(const uint8_t* page);

}  // namespace data_page

inline constexpr uint32_t kLvalOwner = 0x4C41564C;  // "LVAL" read as a little-endian word
inline constexpr uint32_t kGlobalMapRow = (1u << 8) | 0;  // page 1, row 0

class PageAllocator final : public index::IndexPageAllocator {
 public:
  explicit PageAllocator(Pager& pager) : pager_(pager) {}

  // A zeroed page marked in use in the global map: a free page of the file
  // when there is one, else a new page at its end. The caller formats it.
  uint32_t new_page();
  // Marks `page` free in the global map (it belongs to nobody any more).
  void free_page(uint32_t page);

  // Sets / clears `page`'s bit in the map row `map_row` (a row pointer).
  // `what` names the owner for messages.
  void map_add(uint32_t map_row, uint32_t page, const std::string& what);
  void map_remove(uint32_t map_row, uint32_t page, const std::string& what);
  // Clears every bit of the map row `map_row` (its reference form's map
  // pages stay, emptied).
  void map_clear(uint32_t map_row, const std::string& what);

  // A new, formatted LVAL page.
  uint32_t new_long_value_page();
  // Stores `bytes` as a row on an LVAL page with room (the last one used,
  // or a new one); returns the row pointer.
  uint32_t add_long_value_row(std::span<const uint8_t> bytes);
  // Marks the LVAL rows of the long value whose row field is `field`
  // deleted (their bytes go, as Access compacts a page on delete); an LVAL
  // page left without live rows becomes a free page.
  void delete_long_value(std::span<const uint8_t> field);

  // index::IndexPageAllocator
  uint32_t allocate_index_page(const index::IndexLayout& layout) override;
  void release_index_page(const index::IndexLayout& layout, uint32_t page_number) override;

  // Where the next map rows go (create table): a map page with room for
  // `rows` rows of `row_size` bytes, made when needed.
  uint32_t map_page_with_room(std::size_t rows, std::size_t row_size);

  Pager& pager() { return pager_; }

 private:
  // The global map's row (page 1, row 0), checked for a known form.
  std::vector<uint8_t> global_row();
  void put_global_row(const std::vector<uint8_t>& row);
  // A free page inside the file, now marked in use; 0 when there is none.
  uint32_t take_free_page();
  void set_global(uint32_t page, bool free);
  void set_reference_global(std::vector<uint8_t>& map, uint32_t page, bool free);
  void global_to_reference(const std::vector<uint8_t>& inline_map);
  void free_if_empty_long_value_page(uint32_t page);
  void set_bit(uint32_t map_row, uint32_t page, bool on, const std::string& what);

  Pager& pager_;
  uint32_t last_map_page_ = 0;
  uint32_t lval_page_ = 0;  // the LVAL page that last had room
};

// Writable pages for the index writer, over the pager.
class PagerIndexStore final : public index::IndexPageStore {
 public:
  explicit PagerIndexStore(Pager& pager) : pager_(pager) {}
  uint8_t* page_for_write(uint32_t page_number) override { return pager_.page_for_write(page_number); }

 private:
  Pager& pager_;
};

}  // namespace jet
