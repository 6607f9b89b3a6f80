// Test support: open a database and read all of it: every table (system
// tables included), every row, every index. Used by the fuzz target and by
// the corpus replay test, so both exercise the same paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "jet/database.h"

namespace jet::testing {

struct ReadStats {
  std::size_t tables = 0;
  std::size_t rows = 0;
  std::size_t index_entries = 0;
};

// Reads everything in `db`. Throws jet::Error at the first damage it meets.
ReadStats read_everything(Database& db);

// Opens `bytes` as a database held in memory (a FaultEnv) under `name`, with
// `password`, and reads everything.
ReadStats read_everything_from_bytes(const uint8_t* bytes, std::size_t size, const std::string& name,
                                     const std::string& password = {});

}  // namespace jet::testing
