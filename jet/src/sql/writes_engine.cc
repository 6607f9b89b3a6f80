// The write seam over the engine's write path: rows through Table::insert,
// update and remove; tables and columns through Database::create_table and
// add_column; a statement's changes in one jet::Transaction unless the
// caller already holds one over that database (then they join it).
#include <algorithm>

#include "jet/error.h"
#include "jet/schema.h"
#include "jet/transaction.h"
#include "pager.h"
#include "sql/writes.h"

namespace jet::sql::writes {
namespace {

jet::ColumnSpec engine_column(const sql::ColumnSpec& c) {
  jet::ColumnSpec out;
  out.name = c.name;
  out.type = c.type.type;
  out.auto_number = c.type.counter;
  if (c.type.type == ColumnType::kText || c.type.type == ColumnType::kBinary)
    out.length = static_cast<uint16_t>(c.type.size);
  if (c.type.type == ColumnType::kNumeric) {
    out.precision = static_cast<uint8_t>(c.type.size);
    out.scale = c.type.scale;
  }
  return out;
}

}  // namespace

RowId insert_row(Table& table, const Row& row) { return table.insert(row); }
void update_row(Table& table, RowId id, const Row& row) { table.update(id, row); }
void remove_row(Table& table, RowId id) { table.remove(id); }

void create_table(Database& db, const CreateTableStmt& stmt) {
  TableSpec spec;
  spec.name = stmt.name;
  for (const sql::ColumnSpec& c : stmt.columns) {
    spec.columns.push_back(engine_column(c));
    if (c.primary_key || c.unique) {
      IndexSpec ix;
      ix.name = !c.constraint_name.empty() ? c.constraint_name : c.primary_key ? "PrimaryKey" : c.name;
      ix.columns.push_back(IndexColumnSpec{c.name, true});
      ix.primary_key = c.primary_key;
      ix.unique = true;
      ix.required = c.primary_key;
      spec.indexes.push_back(std::move(ix));
    }
  }
  for (const ConstraintSpec& k : stmt.constraints) {
    IndexSpec ix;
    ix.name = k.name;
    for (const std::string& col : k.columns) ix.columns.push_back(IndexColumnSpec{col, true});
    ix.primary_key = k.primary_key;
    ix.unique = true;
    ix.required = k.primary_key;
    spec.indexes.push_back(std::move(ix));
  }
  db.create_table(spec);
}

void add_column(Database& db, const std::string& table, const sql::ColumnSpec& column) {
  if (column.unique || column.primary_key)
    throw Error(ErrorCategory::kUnsupported, "ALTER TABLE ... ADD COLUMN with an index (UNIQUE) is not supported");
  db.add_column(table, engine_column(column));
}

void drop_table(Database&, const std::string& table) {
  throw Error(ErrorCategory::kUnsupported, "DROP TABLE '" + table + "' is not supported by the engine");
}

void create_database(const std::string& path, const std::string& locale) {
  CreateOptions o;
  std::string rest;
  std::size_t pos = 0;
  while (pos <= locale.size()) {
    std::size_t end = locale.find(';', pos);
    if (end == std::string::npos) end = locale.size();
    std::string part = locale.substr(pos, end - pos);
    std::size_t eq = part.find('=');
    if (eq != std::string::npos && names_equal(part.substr(0, eq), "pwd")) {
      o.password = part.substr(eq + 1);
    } else if (!part.empty()) {
      rest += ";" + part;
    }
    pos = end + 1;
  }
  o.locale = rest.empty() ? o.locale : rest;
  Database::create(path, o);
}

struct Unit::Impl {
  std::unique_ptr<Transaction> tx;
};

Unit::Unit(std::vector<Database*> databases) : impl_(std::make_unique<Impl>()) {
  // Join a transaction the caller holds; otherwise make one of our own.
  databases.erase(std::remove_if(databases.begin(), databases.end(),
                                 [](Database* d) { return d->pager().in_transaction(); }),
                  databases.end());
  if (!databases.empty()) impl_->tx = std::make_unique<Transaction>(databases);
}
Unit::~Unit() = default;
void Unit::commit() {
  if (impl_->tx) impl_->tx->commit();
}

}  // namespace jet::sql::writes
