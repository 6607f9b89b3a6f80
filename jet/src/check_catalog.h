// Internal: the catalog part of `jetsql --check` (check_catalog.cc): table
// definitions that no catalog row names, catalog rows that name no table
// definition, and data pages that belong to no catalogued table.
#pragma once

#include <cstdint>
#include <functional>

#include "check.h"

namespace jet {

class Database;

// Adds a line to `report.problems` for each finding. `is_free(page)` tells
// the pages the file's page map marks free (they may hold anything).
void check_catalog(Database& db, const std::function<bool(uint32_t)>& is_free, CheckReport& report);

}  // namespace jet
