// Test helper: what the independent Jet readers (mdbtools' mdb-export and
// npm's mdb-reader) see in a file, compared with this engine's reading.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "jet/table.h"

namespace jet::test {

// A row as one comparable text, in mdb-reader's exact forms (Null "\N",
// empty text "", doubles %.17g, dates as Unix milliseconds...).
std::string exact_row_text(const Row& row, const std::vector<ColumnDef>& columns);

// Checks with gtest assertions that every user table of `path` reads the
// same through this engine, mdb-export and mdb-reader (rows compared as
// sorted lists), and, for each table named in `expected`, that the engine
// reads exactly those rows. Also compares the definition's row count and
// runs the consistency check (check.h) on the file.
void expect_independent_readers_agree(const std::string& path, const std::string& password,
                                      const std::map<std::string, std::vector<Row>>& expected = {});

}  // namespace jet::test
