// The scan grid: a table model over a recordset of the scanner database and
// the view that shows it. The model reads only the rows the view asks for
// (a block of rows around each, kept in a small cache) and writes an edited
// cell straight back to its row in Scanner_Data.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "jet/value.h"

namespace jet::dao {
class Database;
class Recordset;
}  // namespace jet::dao

namespace tallimo::gui {

class ScanGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit ScanGridModel(QObject* parent = nullptr);
  ~ScanGridModel() override;

  // Shows the rows of `sql` (a SELECT) on `database` (not owned; it must
  // outlive the model or be detached with close_source()). Throws jet::Error
  // when the statement fails; the model is then empty.
  void set_source(jet::dao::Database* database, const std::string& sql);
  // The same, but the query runs at the next requery(): for a grid that is
  // not on screen yet, so it is not read twice on its way there.
  void set_source_deferred(jet::dao::Database* database, const std::string& sql);
  // Runs the query again, seeing every change made since (the data
  // control's refresh).
  void requery();
  // Drops the recordset; the model is empty afterwards.
  void close_source();
  const std::string& sql() const { return sql_; }

  // The column with this name or caption (case-insensitive), or -1.
  int column_of(const std::string& name) const;
  // The heading a column shows instead of its name; the grid addresses the
  // column by either.
  void set_column_caption(const std::string& name, const std::string& caption);
  std::string column_name(int column) const;
  // A locked column is read-only in the grid.
  void set_column_locked(const std::string& name, bool locked);
  bool column_locked(const std::string& name) const;
  // While read-only (a command is running) no cell takes an edit.
  void set_read_only(bool read_only) { read_only_ = read_only; }
  bool read_only() const { return read_only_; }

  // The value in `row` of the named column (Null when the row or column
  // does not exist).
  jet::Value value(int row, const std::string& column) const;
  // The first row matching a criteria text ("Scanner_Data_ID = 12"), or -1.
  int find_first(const std::string& criteria);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // Rows read from the recordset so far (every row is read once per block
  // the view asks for); tests and the benchmark watch it.
  long rows_read() const { return rows_read_; }

 signals:
  // The database refused an edit; the text says which column, value and why.
  void write_failed(const QString& text);

 private:
  struct Block {
    int first = 0;
    std::vector<std::vector<jet::Value>> rows;
  };
  // Stands the recordset on `row`; false when there is no such row.
  bool seek(int row) const;
  const std::vector<jet::Value>* cached_row(int row) const;
  void reload();

  jet::dao::Database* database_ = nullptr;
  std::string sql_;
  std::unique_ptr<jet::dao::Recordset> recordset_;
  std::vector<std::string> columns_;
  std::set<std::string> locked_;  // upper-cased column names
  std::map<std::string, std::string> captions_;  // upper-cased name -> caption
  int row_count_ = 0;
  mutable int position_ = -1;
  mutable std::deque<Block> cache_;
  mutable long rows_read_ = 0;
  bool read_only_ = false;
};

// The editor a cell edit is made in, known to the view so that a pending
// edit can be written or dropped on demand.
class ScanGridDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QWidget* open_editor() const { return editor_; }

 private:
  mutable QWidget* editor_ = nullptr;
};

class ScanGridView : public QTableView {
  Q_OBJECT

 public:
  explicit ScanGridView(QWidget* parent = nullptr);
  // Writes a pending cell edit to the model and closes its editor; true
  // when one was pending.
  bool commit_pending_edit();
  bool edit_pending() const;

 private:
  ScanGridDelegate* delegate_;
};

}  // namespace tallimo::gui
