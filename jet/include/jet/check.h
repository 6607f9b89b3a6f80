// The consistency check behind `jetsql --check`.
//
// Reads the whole file and reports every inconsistency it finds, one line
// each, naming the page, table, index or row:
//   - pages: every page's type byte is one Jet writes (0x01 data, 0x02
//     table definition, 0x03/0x04 index, 0x05 usage map) unless the file's
//     page map marks it free; data pages have a sane slot table, rows
//     inside the page and a free-space field equal to the gap between the
//     slot table and the lowest row (as on every Access-written page);
//   - the file's page map (page 1) marks no page free that a table or an
//     index owns;
//   - per table: the definition reads; every data page naming the table is
//     in its usage map, and no page of its map holds another table's rows;
//     every row decodes; every lookup row points to moved data of the same
//     table, and every moved row is reached by exactly one lookup row; the
//     definition's row count equals the rows found;
//   - per index: its pages decode and its entries rise strictly (key, then
//     row); it holds exactly one entry per row (the key the row's values
//     encode to; none for an all-Null key of an ignore-nulls index); its
//     root page is in its usage map; a unique index holds no key twice
//     (keys with a Null column excepted).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace jet {

class Database;

struct CheckReport {
  std::vector<std::string> problems;
  uint32_t pages = 0;
  uint32_t tables = 0;
  uint64_t rows = 0;
  uint64_t index_entries = 0;
  bool ok() const { return problems.empty(); }
};

// Checks `db` (opened read-only or read-write). Never throws for damage:
// each problem, including errors the reader raises, becomes a line in the
// report; only failures to read the file at all (I/O) throw.
CheckReport check_database(Database& db);

}  // namespace jet
