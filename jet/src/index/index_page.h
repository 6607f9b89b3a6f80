// Internal: one Jet 4 index page (leaf 0x04 or intermediate 0x03), decoded.
//
// The byte layout is documented at the top of index_page.cc. Decoding expands
// the page's shared entry prefix, so every entry here holds its full bytes:
//   leaf entry:         key bytes, data page (3 bytes BE), data row (1 byte)
//   intermediate entry: key bytes, data page (3 bytes BE), data row (1 byte),
//                       child page (4 bytes BE)
// An intermediate entry is a copy of the last leaf entry below its child, so
// entries of both kinds compare the same way (key, then row pointer).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "index/index_layout.h"

namespace jet::index {

inline constexpr uint8_t kIntermediatePageType = 0x03;
inline constexpr uint8_t kLeafPageType = 0x04;

// Header offsets of a Jet 4 index page.
inline constexpr std::size_t kIndexFreeSpaceOffset = 2;
inline constexpr std::size_t kIndexTdefOffset = 4;
inline constexpr std::size_t kIndexPrevOffset = 12;
inline constexpr std::size_t kIndexNextOffset = 16;
inline constexpr std::size_t kIndexTailOffset = 20;
inline constexpr std::size_t kIndexPrefixLengthOffset = 24;
inline constexpr std::size_t kIndexMaskOffset = 27;
inline constexpr std::size_t kIndexMaskSize = 453;
inline constexpr std::size_t kIndexEntriesOffset = 0x1E0;  // kIndexMaskOffset + kIndexMaskSize
// Room for entry bytes on one page (also what the mask can address).
inline constexpr std::size_t kIndexEntryCapacity = 4096 - kIndexEntriesOffset;

struct IndexPage {
  uint32_t number = 0;
  bool leaf = true;
  uint32_t tdef_page = 0;
  uint32_t prev_page = 0;  // 0: none
  uint32_t next_page = 0;  // 0: none
  uint32_t tail_page = 0;  // intermediate pages: a last child not yet in the entries (0: none)
  uint16_t prefix_length = 0;
  uint16_t free_space = 0;
  uint8_t byte_1a = 0;  // unknown header byte at 0x1A (Access sets 1 on some intermediate pages); kept as read

  // Full bytes of all entries, back to back; entry i is
  // bytes[starts[i] .. starts[i + 1]).
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> starts;  // entry_count() + 1 offsets

  std::size_t entry_count() const { return starts.empty() ? 0 : starts.size() - 1; }
  std::span<const uint8_t> entry(std::size_t i) const {
    return {bytes.data() + starts[i], starts[i + 1] - starts[i]};
  }
  // Entry without the child pointer: key bytes and row pointer.
  std::span<const uint8_t> entry_without_child(std::size_t i) const;
  // Key bytes of entry i (entry without row pointer and child pointer).
  std::span<const uint8_t> key(std::size_t i) const;
  RowPointer row(std::size_t i) const;
  uint32_t child(std::size_t i) const;  // intermediate pages only

  // Appends an entry (entries must be appended in rising order; the child
  // pointer is written on intermediate pages only).
  void add_entry(std::span<const uint8_t> key, RowPointer row, uint32_t child = 0);

  void clear();
};

// Decodes page `number` (kPageSize bytes at `page`) into `out`, reusing its
// storage. Checks the page type, header fields, entry mask, prefix length,
// entry sizes (a leaf entry has at least 5 bytes, an intermediate one 9) and
// that entries rise strictly, and that pointers lie below `page_count`.
// Throws jet::Error kCorruption naming `file`, the index and the page.
void decode_index_page(const uint8_t* page, uint32_t number, uint32_t page_count, const std::string& file,
                       const IndexLayout& layout, IndexPage& out);

// Writes `in` as a page image (kPageSize bytes at `page`): header, mask and
// entries, every entry after the first without the first
// `in.prefix_length` bytes. Throws kInvalidArgument when the entries do not
// fit the page or do not all share that prefix. Access chooses the prefix
// when it fills or splits a page (small pages it built by appending carry
// none), so a writer picks 0 or up to shared_prefix_limit(); decoding and
// re-encoding an Access page gives back its bytes.
void encode_index_page(const IndexPage& in, uint8_t* page);

// Longest prefix every key on the page shares (0 with fewer than 2 entries).
std::size_t shared_prefix_limit(const IndexPage& in);

// Bytes the page's entries take when encoded with in.prefix_length.
std::size_t encoded_entry_bytes(const IndexPage& in);

}  // namespace jet::index
