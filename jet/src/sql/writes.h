// Internal: the one place where statements and recordsets reach the engine's
// write path (row insert, update and delete; table creation and new columns;
// statement-wide transactions over one or several files). Everything else in
// sql/ and the DAO/ADO layer only reads through the public read API.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/table.h"
#include "sql/ast.h"

namespace jet::sql::writes {

// Stores a new row (one value per column of the table, Null where the
// engine assigns or defaults: counters) and returns where it lives.
RowId insert_row(Table& table, const Row& row);
// Replaces the row at `id` with `row` (one value per column).
void update_row(Table& table, RowId id, const Row& row);
void remove_row(Table& table, RowId id);
// Deletes every row of `table`; returns how many there were.
uint64_t remove_all_rows(Table& table);

void create_table(Database& db, const CreateTableStmt& stmt);
void add_column(Database& db, const std::string& table, const ColumnSpec& column);
void drop_table(Database& db, const std::string& table);

// Makes a new, empty Jet 4 database file. `locale` is a DAO locale string
// (";LANGID=0x0409;CP=1252;COUNTRY=0"), possibly with ";pwd=...".
void create_database(const std::string& path, const std::string& locale);

// All writes of one statement or one recordset update, in one unit: commit()
// makes them durable together; destruction without commit() rolls back.
class Unit {
 public:
  explicit Unit(std::vector<Database*> databases);
  ~Unit();
  Unit(const Unit&) = delete;
  Unit& operator=(const Unit&) = delete;
  void commit();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace jet::sql::writes
