// The workload of the crash test, shared by the writer process and the
// test that kills it: transaction g moves a record from a "scanner"
// database into a "products" database, as posting does, so every state of
// the two files is a function of the last committed g.
//
// Both files start as copies of a fixture whose Table1 (ID Long, Data
// Text(255)) holds (1,"One"), (2,"Two"), (3,"Three"). After transaction g:
//   scanner: those rows, plus (1000+i, "scan i") for the last five i <= g
//            (transaction g inserts scan g and deletes scan g-5);
//   products: row 1's Data is marker(g) (growing and shrinking, so the row
//            sometimes moves off its page), rows 2 and 3 as they were, plus
//            (1000+i, "posted i") for every i <= g, and for every i <= g
//            that is a multiple of 10, forty more rows (100000+100i+j,
//            "bulk i/j") that take new pages in one transaction.
#pragma once

#include <string>
#include <vector>

#include "jet/table.h"

namespace jet::crash {

inline std::string marker(long g) {
  if (g == 0) return "One";
  std::string s = "gen " + std::to_string(g) + "|";
  s.resize(s.size() + static_cast<std::size_t>((g * 37) % 200), 'x');
  return s;
}

// The committed g a products file is at (from row 1); -1 when unreadable.
inline long generation_of(const std::vector<Row>& products_rows) {
  for (const Row& r : products_rows) {
    if (r.size() < 2 || !std::holds_alternative<int32_t>(r[0]) || std::get<int32_t>(r[0]) != 1) continue;
    const auto* s = std::get_if<std::string>(&r[1]);
    if (!s) return -1;
    if (*s == "One") return 0;
    if (s->rfind("gen ", 0) != 0) return -1;
    return std::stol(s->substr(4));
  }
  return -1;
}

inline Row row(int32_t id, std::string data) { return Row{Value(id), Value(std::move(data))}; }

inline std::vector<Row> expected_scanner(long g) {
  std::vector<Row> rows{row(1, "One"), row(2, "Two"), row(3, "Three")};
  for (long i = g - 4 < 1 ? 1 : g - 4; i <= g; ++i) rows.push_back(row(1000 + i, "scan " + std::to_string(i)));
  return rows;
}

inline std::vector<Row> bulk_rows(long i) {
  std::vector<Row> rows;
  if (i % 10 != 0) return rows;
  for (int j = 0; j < 40; ++j)
    rows.push_back(row(100000 + 100 * i + j, "bulk " + std::to_string(i) + "/" + std::to_string(j)));
  return rows;
}

inline std::vector<Row> expected_products(long g) {
  std::vector<Row> rows{row(1, marker(g)), row(2, "Two"), row(3, "Three")};
  for (long i = 1; i <= g; ++i) {
    rows.push_back(row(1000 + i, "posted " + std::to_string(i)));
    for (Row& r : bulk_rows(i)) rows.push_back(std::move(r));
  }
  return rows;
}

}  // namespace jet::crash
