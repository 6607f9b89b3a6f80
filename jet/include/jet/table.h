// An open table: its definition, its rows, and reads through its indexes.
//
// Tables are owned by their Database (Database::table) and live as long as
// it does. Not thread-safe: one thread uses a Database and its tables.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "jet/schema.h"
#include "jet/value.h"

namespace jet {

class Database;

// One row: a value per column, in TableDef::columns order.
using Row = std::vector<Value>;

// Where a row is stored: data page and row slot. Stable while the row
// exists (until a compaction, which this engine does not do).
struct RowId {
  uint32_t page = 0;
  uint8_t row = 0;
  friend bool operator==(const RowId&, const RowId&) = default;
};

class Table;

// Walks a table's live rows in storage order (page by page, slot by slot),
// skipping deleted rows; each row is seen once, at its original slot (a
// row moved to an overflow page is read from there through its lookup
// slot, and id() is the original slot, as index entries name it).
//
//   for (auto c = table.scan(); c.next();) use(c.row());
//
// The cursor reuses its Row between steps: row() is valid until next().
class RowCursor {
 public:
  RowCursor(RowCursor&&) noexcept;
  RowCursor& operator=(RowCursor&&) noexcept;
  ~RowCursor();

  // Moves to the next live row; false when there is none. Throws
  // kCorruption naming the file, table, page and row for damaged data.
  bool next();
  const Row& row() const { return row_; }
  RowId id() const { return id_; }

 private:
  friend class Table;
  explicit RowCursor(Table& table);
  Table* table_;
  std::vector<uint32_t> pages_;  // data pages owned by the table
  std::size_t page_index_ = 0;
  uint32_t slot_ = 0;
  uint32_t slots_on_page_ = 0;
  bool page_loaded_ = false;
  Row row_;
  RowId id_;
  std::shared_ptr<void> reading_;  // the read operation, until the last row
};

class Table {
 public:
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  const TableDef& def() const { return def_; }
  const std::string& name() const { return def_.name; }
  const std::vector<ColumnDef>& columns() const { return def_.columns; }
  const std::vector<IndexDef>& indexes() const { return def_.indexes; }

  // All live rows in storage order.
  RowCursor scan();

  // Reads the row stored at `id` into `out`, following a lookup (moved) row
  // to where its data lives. Throws kNotFound when the slot is deleted or
  // belongs to another table, kCorruption for damaged data.
  void read_row(RowId id, Row& out);

  // Where every live row is stored, in storage order (as scan() visits them),
  // without decoding any row: what a keyset needs to reach rows later.
  std::vector<RowId> row_ids();

  // Convenience: every live row, in storage order.
  std::vector<Row> read_all();

  // Every row of the index `index_name` in the index's key order, each once
  // (an entry per row: ignore-nulls indexes leave out rows whose key is all
  // Null). Throws kNotFound for an unknown index.
  std::vector<RowId> scan_index(std::string_view index_name);

  // Rows whose first key.size() key columns equal `key`, in key order.
  // Values follow the key column types (see the index module's encoder: an
  // integer alternative for number columns, std::string for text...).
  // Throws kNotFound for an unknown index, kConstraint for a value that
  // cannot be a key of that column, kInvalidArgument for too many values.
  std::vector<RowId> seek(std::string_view index_name, std::span<const Value> key);

  // ---- writing (the database must be open read-write) ----
  //
  // Each call is one statement: outside a jet::Transaction it commits on
  // its own; inside one it becomes part of it. A call that throws leaves
  // no trace in the file (its pages are rolled back to a savepoint).
  //
  // Values come one per column in columns() order; std::monostate is Null,
  // which is not empty text and not zero. A value may be given as any
  // alternative its column type can hold without loss (an int32_t for a
  // byte column when it is 0..255, an integer for a currency column in
  // whole units, a double for a date/time).
  //
  // Errors, all thrown before anything is written:
  //   kInvalidArgument: the row has the wrong number of values; the file is
  //                     open read-only;
  //   kConstraint: a value of the wrong type, out of range, text or binary
  //                longer than the column, a row larger than a page, Null in
  //                a primary-key or required index column, a key that a
  //                unique index already holds for another row, text an
  //                index cannot encode, a changed counter value;
  //   kNotFound: (update, remove) the row does not exist or is deleted.

  // Adds a row; returns where it is stored. A Null counter (autonumber)
  // column gets the table's next value, a Null auto-GUID column a new GUID;
  // a given counter value is kept (and raises the next value past it).
  // `stored`, when given, receives the row as stored (with those values).
  RowId insert(const Row& row, Row* stored = nullptr);

  // Adds the rows `next_row` gives (it fills its argument and returns true,
  // or returns false when there are none left) as one statement; returns
  // how many. Into a table whose indexes are empty the rows are written
  // without index upkeep and each index is then built whole from its sorted
  // keys (much faster for many rows); otherwise each row goes in as by
  // insert(). Errors as insert(); a key a unique index would hold twice is
  // found once the rows are written, and then nothing of the call remains.
  std::size_t insert_rows(const std::function<bool(Row&)>& next_row);

  // Replaces the row at `id` (its RowId stays the same: a row that no longer
  // fits its page moves to another page behind a forwarding row, as Access
  // does). A Null counter value keeps the row's counter.
  void update(RowId id, const Row& row);

  // Deletes the row at `id`.
  void remove(RowId id);

  // Deletes every row as one statement and returns how many there were:
  // the table's data and long-value pages become free pages of the file and
  // each index is left an empty root, as deleting the rows one by one would
  // leave them. The counter's next value is kept.
  uint32_t remove_all();

  // The row count the table's definition records.
  uint32_t row_count();

 private:
  struct Writer;
  friend struct Writer;
  friend class Database;
  friend class RowCursor;
  struct Impl;
  Table(Database& db, TableDef def);
  // Decodes the row in slot `row` of `page` (already fetched) into `out`.
  void decode_at(uint32_t page_number, const uint8_t* page, uint32_t row, Row& out);
  // Reads the row a lookup slot forwards to.
  void follow_lookup(uint32_t page_number, uint32_t row, Row& out);
  // Throws unless `page_number` is a data page of this table.
  void check_row_page(uint32_t page_number);
  // A new definition read after another handle's commit.
  void reload(TableDef def);
  // Frees every page of the table (Database::drop_table): rows' long
  // values, data, index and map pages, its definition.
  void free_storage();

  Database& db_;
  TableDef def_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace jet
