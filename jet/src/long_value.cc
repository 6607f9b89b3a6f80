#include "long_value.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "binary.h"
#include "data_page.h"
#include "jet/error.h"

namespace jet {
namespace {

// Locates an LVAL row; returns a pointer to its bytes (valid until the next
// page read) and sets `len`.
const uint8_t* lval_row(PageSource& pages, uint32_t ptr, std::size_t& len, const ValueWhere& where_ctx) {
  uint32_t pg = row_pointer_page(ptr);
  if (pg == 0 || pg >= pages.page_count()) {
    throw Error(ErrorCategory::kCorruption, where_ctx.describe() + ": long value points to page " + std::to_string(pg) +
                                                ", outside the file (" + std::to_string(pages.page_count()) + " pages)");
  }
  const uint8_t* page = pages.page(pg);
  if (page[0] != kPageTypeData || std::memcmp(page + kDataOffTdefPage, "LVAL", 4) != 0) {
    throw Error(ErrorCategory::kCorruption, where_ctx.describe() + ": long value points to page " + std::to_string(pg) +
                                                ", which is not a long-value page");
  }
  RowSlot slot = data_page_row(page, row_pointer_row(ptr), pages, pg);
  if (slot.deleted) {
    throw Error(ErrorCategory::kCorruption, where_ctx.describe() + ": long value points to deleted row " +
                                                std::to_string(row_pointer_row(ptr)) + " of page " + std::to_string(pg));
  }
  len = slot.end - slot.start;
  return page + slot.start;
}

}  // namespace

void read_long_value(PageSource& pages, const uint8_t* field, std::size_t size, std::vector<uint8_t>& out,
                     const ValueWhere& where_ctx) {
  out.clear();
  if (size < kLongValueHeader) {
    throw Error(ErrorCategory::kCorruption, where_ctx.describe() + ": long value header is " + std::to_string(size) +
                                                " bytes, expected at least 12");
  }
  // The top two bits of the 32-bit length word are the storage kind.
  const uint32_t length = le32(field) & 0x3FFFFFFF;
  const uint8_t kind = field[3] & 0xC0;
  const uint32_t ptr = le32(field + 4);
  if (kind & kLongValueInline) {
    if (length > size - kLongValueHeader) {
      throw Error(ErrorCategory::kCorruption, where_ctx.describe() + ": inline long value of " + std::to_string(length) +
                                                  " bytes does not fit its " + std::to_string(size - 12) +
                                                  "-byte field");
    }
    out.assign(field + kLongValueHeader, field + kLongValueHeader + length);
    return;
  }
  if (kind & kLongValueSingle) {
    std::size_t len;
    const uint8_t* row = lval_row(pages, ptr, len, where_ctx);
    if (len < length) {
      throw Error(ErrorCategory::kCorruption, where_ctx.describe() + ": long value of " + std::to_string(length) +
                                                  " bytes is stored in a row of only " + std::to_string(len));
    }
    out.assign(row, row + length);
    return;
  }
  if (length > uint64_t(pages.page_count()) * kPageSize) {
    throw Error(ErrorCategory::kCorruption, where_ctx.describe() + ": long value claims " + std::to_string(length) +
                                                " bytes, more than the whole file");
  }
  out.reserve(length);
  uint32_t next = ptr;
  // A chain that comes back to a row it visited loops; short chains are
  // checked against a list, long ones against a set.
  std::vector<uint32_t> visited;
  std::unordered_set<uint32_t> visited_set;
  uint64_t hops = 0;
  while (out.size() < length) {
    if (next == 0) {
      throw Error(ErrorCategory::kCorruption, where_ctx.describe() + ": long value chain ends after " + std::to_string(out.size()) +
                                                  " of " + std::to_string(length) + " bytes");
    }
    ++hops;
    bool seen;
    if (visited.size() < 64) {
      seen = std::find(visited.begin(), visited.end(), next) != visited.end();
      visited.push_back(next);
      if (visited.size() == 64) visited_set.insert(visited.begin(), visited.end());
    } else {
      seen = !visited_set.insert(next).second;
    }
    if (seen || hops > length) {
      throw Error(ErrorCategory::kCorruption, where_ctx.describe() + ": long value chain loops back to row " +
                                                  std::to_string(row_pointer_row(next)) + " of page " +
                                                  std::to_string(row_pointer_page(next)));
    }
    std::size_t len;
    const uint8_t* row = lval_row(pages, next, len, where_ctx);
    if (len < 4) throw Error(ErrorCategory::kCorruption, where_ctx.describe() + ": long value chain row is cut short");
    next = le32(row);
    std::size_t take = len - 4;
    if (take > length - out.size()) take = length - out.size();
    out.insert(out.end(), row + 4, row + 4 + take);
  }
}

}  // namespace jet
