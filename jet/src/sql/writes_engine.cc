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
  out.required = c.not_null;
  if (c.type.type == ColumnType::kText || c.type.type == ColumnType::kBinary)
    out.length = static_cast<uint16_t>(c.type.size);
  if (c.type.type == ColumnType::kNumeric) {
    out.precision = static_cast<uint8_t>(c.type.size);
    out.scale = c.type.scale;
  }
  return out;
}

bool is_system_table(const TableDef& def) {
  return def.system || (def.name.size() >= 4 && names_equal(std::string_view(def.name).substr(0, 4), "MSys"));
}

// The system catalog belongs to the engine: statements and recordsets read
// it, and only the engine's own schema operations change it.
void refuse_system_table(const TableDef& def) {
  if (is_system_table(def))
    throw Error(ErrorCategory::kInvalidArgument,
                "Cannot update. Database or object is read-only: '" + def.name +
                    "' is a system table, which only the engine's own table and column operations change");
}

// NOT NULL columns take no Null (a counter is filled in by the engine).
void check_required(const Table& table, const Row& row) {
  const auto& cols = table.columns();
  for (std::size_t i = 0; i < cols.size() && i < row.size(); ++i) {
    if (cols[i].required && is_null(row[i]) && !cols[i].auto_number && !cols[i].auto_guid)
      throw Error(ErrorCategory::kConstraint, "The field '" + table.name() + "." + cols[i].name +
                                                  "' cannot contain a Null value because the Required property for "
                                                  "this field is set to True. Enter a value in this field.");
  }
}

}  // namespace

RowId insert_row(Table& table, const Row& row) {
  refuse_system_table(table.def());
  check_required(table, row);
  return table.insert(row);
}
void update_row(Table& table, RowId id, const Row& row) {
  refuse_system_table(table.def());
  check_required(table, row);
  table.update(id, row);
}
void remove_row(Table& table, RowId id) {
  refuse_system_table(table.def());
  table.remove(id);
}

uint64_t remove_all_rows(Table& table) {
  refuse_system_table(table.def());
  return table.remove_all();
}

void create_table(Database& db, const CreateTableStmt& stmt) {
  if (stmt.name.size() >= 4 && names_equal(std::string_view(stmt.name).substr(0, 4), "MSys"))
    throw Error(ErrorCategory::kInvalidArgument,
                "table name '" + stmt.name + "' is reserved: names starting with MSys belong to the system catalog");
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
  Table& t = db.table(table);
  refuse_system_table(t.def());
  if (column.not_null) {
    auto cursor = t.scan();
    if (cursor.next())
      throw Error(ErrorCategory::kConstraint, "column '" + column.name + "' cannot be added NOT NULL to table '" +
                                                  t.name() + "': its rows would hold Null there");
  }
  if (column.unique || column.primary_key)
    throw Error(ErrorCategory::kUnsupported, "ALTER TABLE ... ADD COLUMN with an index (UNIQUE) is not supported");
  db.add_column(table, engine_column(column));
}

void drop_table(Database& db, const std::string& table) {
  refuse_system_table(db.table(table).def());
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
  // Databases whose caller's transaction this unit joined, with the
  // savepoint that undoes this unit's changes alone if it fails.
  std::vector<std::pair<Pager*, Savepoint>> joined;
  bool done = false;
};

Unit::Unit(std::vector<Database*> databases) : impl_(std::make_unique<Impl>()) {
  // Join a transaction the caller holds (a statement failing part-way then
  // takes back its own changes and leaves the transaction's earlier work);
  // otherwise make one of our own.
  std::vector<Database*> own;
  for (Database* d : databases) {
    if (d->pager().in_transaction()) {
      impl_->joined.emplace_back(&d->pager(), d->pager().savepoint());
    } else {
      own.push_back(d);
    }
  }
  if (!own.empty()) impl_->tx = std::make_unique<Transaction>(own);
}

Unit::~Unit() {
  if (impl_->done) return;
  for (auto it = impl_->joined.rbegin(); it != impl_->joined.rend(); ++it) {
    it->first->rollback_to(it->second);
    it->first->release(it->second);
  }
}

void Unit::commit() {
  if (impl_->tx) impl_->tx->commit();
  for (auto& [pager, sp] : impl_->joined) pager->release(sp);
  impl_->done = true;
}

}  // namespace jet::sql::writes
