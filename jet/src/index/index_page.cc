// Jet 4 index pages: decoding and encoding.
//
// Page layout (4096 bytes; header integers little-endian, entry integers
// big-endian). "Notes" = the format notes (HACKING.md, whose table shows the
// Jet 3 offsets; Jet 4 has four more bytes at 8), "fixtures" = confirmed on
// the index pages of the Access-written fixtures by the tests.
//
//   offset size  field
//   0x000  1     page type: 0x03 intermediate, 0x04 leaf          notes, fixtures
//   0x001  1     always 0x01                                       notes, fixtures
//   0x002  2     free space: 4096 - end of the last entry          notes, fixtures
//   0x004  4     page of the owning table's definition             notes, fixtures
//   0x008  4     unknown, 0                                        fixtures
//   0x00C  4     previous page on the same level (0: none)         notes, fixtures
//   0x010  4     next page on the same level (0: none)             notes, fixtures
//   0x014  4     tail page: intermediate pages only, a last child  notes
//                that the entries do not list yet (0: none)
//   0x018  2     shared prefix length                              notes, fixtures
//   0x01A  1     unknown: 0, or 1 on some intermediate pages       fixtures
//   0x01B  453   entry mask: bit n (low bit first) set where an    notes, fixtures
//                entry ends n bytes after 0x1E0 (the first entry
//                starts at 0x1E0 and has no bit of its own)
//   0x1E0  ...   entries, back to back
//
// Entries as stored: the first entry in full; every further entry without
// the first `prefix length` bytes of the first entry, which it shares.
// Full entry: key bytes (key_encoding.h), data page (3 bytes, big-endian),
// data row (1 byte), and on intermediate pages the child page (4 bytes,
// big-endian) whose subtree ends with this entry's key and row.
// Entries rise strictly in byte order (key, then row pointer).
#include "index/index_page.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <string>

#include "index/key_encoding.h"
#include "jet/error.h"
#include "page_source.h"

namespace jet::index {
namespace {

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
void put_le16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put_le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr std::size_t kRowPointerSize = 4;
constexpr std::size_t kChildPointerSize = 4;

[[noreturn]] void corrupt(const std::string& file, const IndexLayout& layout, uint32_t page, const std::string& what) {
  throw Error(ErrorCategory::kCorruption, file + ": index '" + layout.name + "' of table '" + layout.table_name +
                                              "', page " + std::to_string(page) + ": " + what);
}

}  // namespace

std::span<const uint8_t> IndexPage::entry_without_child(std::size_t i) const {
  std::span<const uint8_t> e = entry(i);
  return leaf ? e : e.first(e.size() - kChildPointerSize);
}

std::span<const uint8_t> IndexPage::key(std::size_t i) const {
  std::span<const uint8_t> e = entry_without_child(i);
  return e.first(e.size() - kRowPointerSize);
}

RowPointer IndexPage::row(std::size_t i) const {
  std::span<const uint8_t> e = entry_without_child(i);
  const uint8_t* p = e.data() + e.size() - kRowPointerSize;
  return RowPointer{static_cast<uint32_t>((p[0] << 16) | (p[1] << 8) | p[2]), p[3]};
}

uint32_t IndexPage::child(std::size_t i) const {
  std::span<const uint8_t> e = entry(i);
  const uint8_t* p = e.data() + e.size() - kChildPointerSize;
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

void IndexPage::add_entry(std::span<const uint8_t> key, RowPointer row, uint32_t child) {
  if (row.page > 0xFFFFFF) {
    throw Error(ErrorCategory::kInvalidArgument,
                "index entry: data page " + std::to_string(row.page) + " does not fit the 3 bytes of a row pointer");
  }
  if (starts.empty()) starts.push_back(0);
  bytes.insert(bytes.end(), key.begin(), key.end());
  bytes.push_back(static_cast<uint8_t>(row.page >> 16));
  bytes.push_back(static_cast<uint8_t>(row.page >> 8));
  bytes.push_back(static_cast<uint8_t>(row.page));
  bytes.push_back(row.row);
  if (!leaf) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(child >> shift));
  }
  starts.push_back(static_cast<uint32_t>(bytes.size()));
}

void IndexPage::clear() {
  bytes.clear();
  starts.clear();
  prefix_length = 0;
  byte_1a = 0;
  prev_page = next_page = tail_page = 0;
}

void decode_index_page(const uint8_t* page, uint32_t number, uint32_t page_count, const std::string& file,
                       const IndexLayout& layout, IndexPage& out) {
  out.clear();
  out.number = number;
  const uint8_t type = page[0];
  if (type != kLeafPageType && type != kIntermediatePageType) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", type);
    corrupt(file, layout, number, std::string("expected an index page (type 0x03 or 0x04), found type ") + hex);
  }
  out.leaf = type == kLeafPageType;
  out.free_space = le16(page + kIndexFreeSpaceOffset);
  out.tdef_page = le32(page + kIndexTdefOffset);
  out.prev_page = le32(page + kIndexPrevOffset);
  out.next_page = le32(page + kIndexNextOffset);
  out.tail_page = le32(page + kIndexTailOffset);
  out.prefix_length = le16(page + kIndexPrefixLengthOffset);
  out.byte_1a = page[kIndexPrefixLengthOffset + 2];

  if (layout.tdef_page != 0 && out.tdef_page != layout.tdef_page) {
    corrupt(file, layout, number,
            "belongs to the table whose definition is on page " + std::to_string(out.tdef_page) +
                ", not page " + std::to_string(layout.tdef_page));
  }
  auto check_link = [&](uint32_t link, const char* what) {
    if (link >= page_count || link == number) {
      corrupt(file, layout, number,
              std::string(what) + " pointer " + std::to_string(link) + " is out of range (file has " +
                  std::to_string(page_count) + " pages)");
    }
  };
  if (out.prev_page != 0) check_link(out.prev_page, "previous page");
  if (out.next_page != 0) check_link(out.next_page, "next page");
  if (out.tail_page != 0) check_link(out.tail_page, "tail page");
  if (out.leaf && out.tail_page != 0) corrupt(file, layout, number, "a leaf page names a tail page");

  const std::size_t min_entry = kRowPointerSize + 1 + (out.leaf ? 0 : kChildPointerSize);
  const uint8_t* data = page + kIndexEntriesOffset;
  const uint8_t* mask = page + kIndexMaskOffset;

  out.bytes.reserve(kIndexEntryCapacity + 64);
  out.starts.push_back(0);
  std::size_t stored_start = 0;  // where the current entry starts in `data`
  std::size_t prefix = 0;        // bytes taken from the first entry
  for (std::size_t byte = 0; byte < kIndexMaskSize; ++byte) {
    unsigned bits = mask[byte];
    while (bits != 0) {
      const int bit = std::countr_zero(bits);
      bits &= bits - 1;
      const std::size_t end = byte * 8 + static_cast<std::size_t>(bit);
      if (end > kIndexEntryCapacity) {
        corrupt(file, layout, number, "entry mask marks an entry end beyond the page (offset " +
                                          std::to_string(end) + ")");
      }
      if (end <= stored_start) corrupt(file, layout, number, "entry mask marks an empty entry");
      const std::size_t first_entry_size = out.entry_count() == 0 ? 0 : out.starts[1];
      if (out.entry_count() == 1) {
        // The shared prefix is known once the first entry is.
        prefix = out.prefix_length;
        if (prefix > first_entry_size) {
          corrupt(file, layout, number,
                  "shared prefix length " + std::to_string(prefix) + " exceeds the first entry's " +
                      std::to_string(first_entry_size) + " bytes");
        }
      }
      const std::size_t full = prefix + (end - stored_start);
      if (full < min_entry) {
        corrupt(file, layout, number,
                "entry " + std::to_string(out.entry_count()) + " is only " + std::to_string(full) + " bytes long");
      }
      const std::size_t at = out.bytes.size();
      const std::size_t copied = out.entry_count() > 0 ? prefix : 0;
      out.bytes.resize(at + copied + (end - stored_start));
      if (copied > 0) std::memcpy(out.bytes.data() + at, out.bytes.data(), copied);
      std::memcpy(out.bytes.data() + at + copied, data + stored_start, end - stored_start);
      out.starts.push_back(static_cast<uint32_t>(out.bytes.size()));
      stored_start = end;

      const std::size_t i = out.entry_count() - 1;
      const RowPointer row = out.row(i);
      if (row.page == 0 || row.page >= page_count) {
        corrupt(file, layout, number,
                "entry " + std::to_string(i) + " points to data page " + std::to_string(row.page) +
                    ", outside the file's " + std::to_string(page_count) + " pages");
      }
      if (!out.leaf) {
        const uint32_t child = out.child(i);
        if (child == 0 || child >= page_count || child == number) {
          corrupt(file, layout, number,
                  "entry " + std::to_string(i) + " points to child page " + std::to_string(child) +
                      ", which is out of range");
        }
      }
      if (i > 0 && compare_keys(out.entry_without_child(i - 1), out.entry_without_child(i)) >= 0) {
        corrupt(file, layout, number, "entries " + std::to_string(i - 1) + " and " + std::to_string(i) +
                                          " are out of order");
      }
    }
  }
  if (out.entry_count() == 0) {
    out.starts.clear();
    if (out.prefix_length != 0) corrupt(file, layout, number, "a page without entries has a shared prefix");
  } else if (out.entry_count() == 1 && out.prefix_length > out.starts[1]) {
    corrupt(file, layout, number, "shared prefix length exceeds the only entry");
  }
}

std::size_t shared_prefix_limit(const IndexPage& in) {
  const std::size_t n = in.entry_count();
  if (n < 2) return 0;
  auto first = in.key(0);
  auto last = in.key(n - 1);
  std::size_t prefix = 0;
  while (prefix < first.size() && prefix < last.size() && first[prefix] == last[prefix]) ++prefix;
  return prefix;
}

std::size_t encoded_entry_bytes(const IndexPage& in) {
  const std::size_t n = in.entry_count();
  if (n == 0) return 0;
  return in.bytes.size() - std::size_t{in.prefix_length} * (n - 1);
}

void encode_index_page(const IndexPage& in, uint8_t* page) {
  std::memset(page, 0, kPageSize);
  const std::size_t n = in.entry_count();
  const std::size_t prefix = in.prefix_length;
  if (prefix > 0 && (n == 0 || (n > 1 && prefix > shared_prefix_limit(in)) || prefix > in.key(0).size())) {
    throw Error(ErrorCategory::kInvalidArgument, "index page " + std::to_string(in.number) + ": shared prefix of " +
                                                     std::to_string(prefix) + " bytes is not shared by its entries");
  }
  const std::size_t used = encoded_entry_bytes(in);
  if (used > kIndexEntryCapacity) {
    throw Error(ErrorCategory::kInvalidArgument, "index page " + std::to_string(in.number) + ": " +
                                                     std::to_string(used) + " bytes of entries do not fit the page");
  }
  page[0] = in.leaf ? kLeafPageType : kIntermediatePageType;
  page[1] = 0x01;
  put_le16(page + kIndexFreeSpaceOffset, static_cast<uint16_t>(kPageSize - kIndexEntriesOffset - used));
  put_le32(page + kIndexTdefOffset, in.tdef_page);
  put_le32(page + kIndexPrevOffset, in.prev_page);
  put_le32(page + kIndexNextOffset, in.next_page);
  put_le32(page + kIndexTailOffset, in.leaf ? 0 : in.tail_page);
  put_le16(page + kIndexPrefixLengthOffset, static_cast<uint16_t>(prefix));
  page[kIndexPrefixLengthOffset + 2] = in.byte_1a;
  uint8_t* data = page + kIndexEntriesOffset;
  std::size_t pos = 0;
  for (std::size_t i = 0; i < n; ++i) {
    auto e = in.entry(i);
    const std::size_t skip = i == 0 ? 0 : prefix;
    std::memcpy(data + pos, e.data() + skip, e.size() - skip);
    pos += e.size() - skip;
    page[kIndexMaskOffset + pos / 8] |= static_cast<uint8_t>(1u << (pos % 8));
  }
}

}  // namespace jet::index
