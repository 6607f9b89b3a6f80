// The write seam before the engine's write path is part of this build:
// every write fails with a clear kUnsupported error, reads work.
#include "sql/writes.h"

#include "jet/error.h"

namespace jet::sql::writes {
namespace {

[[noreturn]] void no_write_path(const std::string& what) {
  throw Error(ErrorCategory::kUnsupported, what + ": this build of the engine cannot write yet (read-only engine)");
}

}  // namespace

bool available() { return false; }

RowId insert_row(Table& table, const Row&) { no_write_path("inserting a row into '" + table.name() + "'"); }
void update_row(Table& table, RowId, const Row&) { no_write_path("updating a row of '" + table.name() + "'"); }
void remove_row(Table& table, RowId) { no_write_path("deleting a row of '" + table.name() + "'"); }
void create_table(Database&, const CreateTableStmt& stmt) { no_write_path("creating table '" + stmt.name + "'"); }
void add_column(Database&, const std::string& table, const ColumnSpec& column) {
  no_write_path("adding column '" + column.name + "' to '" + table + "'");
}
void drop_table(Database&, const std::string& table) { no_write_path("dropping table '" + table + "'"); }
void create_database(const std::string& path, const std::string&) { no_write_path("creating database " + path); }

struct Unit::Impl {};
Unit::Unit(std::vector<Database*>) : impl_(std::make_unique<Impl>()) {}
Unit::~Unit() = default;
void Unit::commit() {}

}  // namespace jet::sql::writes
