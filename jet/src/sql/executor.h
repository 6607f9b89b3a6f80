// Internal: runs parsed statements against an open database.
//
// SELECT reads through the public read API: equality on the first column of
// an index (WHERE t.col = constant, or a join ON t.col = other.col) seeks the
// index instead of scanning; other equality joins hash the joined table once.
// INSERT, UPDATE, DELETE, CREATE TABLE and ALTER TABLE collect every change
// first and then apply them through sql/writes.h in one unit, so a statement
// that fails part-way leaves nothing behind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/database.h"
#include "sql/ast.h"

namespace jet::sql {

class OpenFiles;

struct ResultColumn {
  std::string name;
  ColumnType type = ColumnType::kText;
  bool auto_number = false;
  // The column's index in ResultSet::base_table when it reads one plain
  // column of that table; -1 for expressions.
  int base_column = -1;
};

struct ResultSet {
  std::vector<ResultColumn> columns;
  std::vector<Row> rows;
  // Set when the query reads exactly one table of the executor's own
  // database: rows can then be written back (row_ids parallel to rows).
  Table* base_table = nullptr;
  std::vector<RowId> row_ids;
  // How the rows were found, e.g. "seek PRODUCT1.PrimaryKey" or "scan
  // Scanner_Data"; joins add "; hash Not_Scanned.Item_Number".
  std::string plan;

  // Index of the column named `name` (case-insensitive), or -1.
  int find_column(std::string_view name) const;
};

struct ExecResult {
  bool has_rows = false;  // a SELECT: `result` holds its rows
  ResultSet result;
  uint64_t records_affected = 0;
};

class Executor {
 public:
  // Files named by IN clauses are opened through `files` (the workspace's
  // registry), so they share the engine database of a handle that has them
  // open already; without one the executor keeps a registry of its own.
  explicit Executor(Database& db, std::shared_ptr<OpenFiles> files = nullptr);
  ~Executor();

  // Parses and runs one statement.
  ExecResult execute(std::string_view sql);
  ExecResult run(const Statement& statement);

  // The rows of a SELECT.
  ResultSet select(const SelectStmt& select);

  // Rows of all of `table` (a table-name recordset), updatable.
  ResultSet table_rows(std::string_view table);

  // Evaluates a criteria expression (FindFirst) against one row of a result.
  // The expression's column names are bound to `result`'s columns on first use.
  bool matches(const Expr& criteria, const ResultSet& result, const Row& row);

  Database& database() { return db_; }

 private:
  struct Impl;
  Database& db_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace jet::sql
