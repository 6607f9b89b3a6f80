// Internal: parsing a Jet 4 table definition (TDEF) and the index layouts the
// index module needs from it.
//
// TDEF page header (every page of the chain):
//   offset size  field                                        known from
//   0x00   1     page type 0x02                               H, F
//   0x01   1     0x01                                         H
//   0x02   2     free space in this page                      H
//   0x04   4     next TDEF page of this table, 0 = last       H, F (test2V2000
//                                                             spans 2 pages)
// Continuation pages contribute their bytes from 0x08 onward; the definition
// below is read from the first page followed by those bytes.
//
// Definition block (offsets into the joined buffer):
//   0x08   4     length of the definition data                H
//   0x10   4     number of rows                               H, F
//   0x14   4     next autonumber value                        H
//   0x28   1     table type: 0x4E user, 0x53 system           H, F
//   0x29   2     max columns (deleted ones included)          H, F (delColTest)
//   0x2B   2     number of variable-length columns            H, F
//   0x2D   2     number of columns                            H, F
//   0x2F   4     number of logical indexes                    H, F
//   0x33   4     number of real (physical) indexes            H, F
//   0x37   4     row pointer of the table's page usage map    H, F
//   0x3B   4     row pointer of its free-space map            H
//   0x3F         real index counts, 12 bytes each             H
//   then         column descriptors, 25 bytes each:
//     +0  1 type   +5 2 column number (null-mask bit)   +7 2 variable-table
//     index   +9 2 display index   +11 2 sort order, or precision(+11) and
//     scale(+12) for numeric   +14 1 sort order version   +15 1 flags
//     (0x01 fixed, 0x02 always set, 0x04 autonumber, 0x40 auto GUID, 0x80
//     hyperlink)   +16 1 0x01 compressed unicode   +21 2 offset in the fixed
//     area   +23 2 length                                     H, F
//   then         column names: 2-byte byte length + UCS-2     H, F
//   then         real indexes, 52 bytes each: +4 ten (column number 2,
//                order 1: 0x01 ascending) slots, 0xFFFF = none; +34 usage
//                map row pointer; +38 first index page; +46 flags
//                (0x01 unique, 0x02 ignore nulls, 0x08 required,
//                0x80 always set): the notes place the flags at +42,
//                but in Access-written files +42..45 hold other bytes
//                and the flags are at +46 (testIndexPropertiesV2000:
//                primary keys 0x89, ignore-nulls indexes 0x82)       H, F
//   then         logical indexes, 28 bytes each: +4 index number, +8 real
//                index number, +12 related table type, +13 related index,
//                +17 related table page, +21 cascade updates, +22 cascade
//                deletes, +23 index type (0x01 primary, 0x02 foreign)  H, F
//   then         logical index names: 2-byte length + UCS-2   H, F
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "index/index_layout.h"
#include "jet/schema.h"
#include "page_source.h"

namespace jet {

// Reads the definition whose first page is `tdef_page`. `name` is used for
// messages and stored in the result. Throws kCorruption naming the file,
// table and page for any inconsistency (wrong page type, loops in the page
// chain, counts that run past the data).
TableDef read_table_def(PageSource& pages, uint32_t tdef_page, const std::string& name);

// Writing. The definition is rebuilt from a TableDef: header (row count,
// last counter value, table type 0x4E user / 0x53 system, counts, map row
// pointers), real-index row counts, columns (25 bytes each, with Access's
// constant 0x0659 at +1, as every fixture has it; sort order 0x0409 on every
// column), names, real indexes (52 bytes: 0x0783 at +0 as in every
// fixture, flags at +46 with 0x80 always set), logical indexes (28 bytes,
// 0x0659 at +0), index names, and the 0xFFFF end of the (empty) list of
// long-value column maps. The length at 0x08 counts from the page start to
// that end, and the page's free-space field is 4096 - length - 8
// (adox_jet4 page 2: 1050 and 3038; testV2000 page 24: 536 and 3552).
// Column descriptors of system tables carry flag 0x10 (adox_jet4).
std::vector<uint8_t> build_table_def(const TableDef& table);

class Pager;
class PageAllocator;

// Writes `bytes` (from build_table_def) over the definition's page chain
// starting at `first_page` (an existing TDEF page, or a fresh zeroed page),
// adding continuation pages when it grew, freeing those no longer needed.
void write_table_def(Pager& pager, PageAllocator& allocator, uint32_t first_page, const std::vector<uint8_t>& bytes);

// The handshake with the index module for one logical index of `table`.
index::IndexLayout make_index_layout(const TableDef& table, const IndexDef& index);

}  // namespace jet
