#include "testing/read_everything.h"

#include <vector>

#include "testing/fault_env.h"

namespace jet::testing {

ReadStats read_everything(Database& db) {
  ReadStats stats;
  for (const TableEntry& entry : db.tables(/*include_system=*/true)) {
    Table& table = db.table(entry.name);
    ++stats.tables;
    for (RowCursor c = table.scan(); c.next();) ++stats.rows;
    Row row;
    for (const IndexDef& ix : table.indexes()) {
      for (RowId id : table.scan_index(ix.name)) {
        table.read_row(id, row);
        ++stats.index_entries;
      }
    }
  }
  return stats;
}

ReadStats read_everything_from_bytes(const uint8_t* bytes, std::size_t size, const std::string& name,
                                     const std::string& password) {
  FaultEnv env;
  env.put_file(name, std::vector<uint8_t>(bytes, bytes + size));
  OpenOptions options;
  options.env = &env;
  options.password = password;
  options.cache_pages = 64;  // small, so eviction paths run too
  auto db = Database::open(name, options);
  return read_everything(*db);
}

}  // namespace jet::testing
