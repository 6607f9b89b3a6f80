#include "app/gui/scan_grid.h"

#include <QHeaderView>
#include <QLineEdit>
#include <algorithm>
#include <cctype>
#include <regex>

#include "jet/dao.h"
#include "jet/error.h"
#include "jet/value_conversions.h"
#include "app/null_conversions.h"

namespace tallimo::gui {
namespace {

// Rows read together when the view asks for one that is not cached: about
// two screens of the grid, so scrolling reads the recordset in runs.
constexpr int kBlockRows = 64;
constexpr std::size_t kCachedBlocks = 16;

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
  return text;
}

bool is_text(const jet::Value& v) { return std::holds_alternative<std::string>(v); }

}  // namespace

ScanGridModel::ScanGridModel(QObject* parent) : QAbstractTableModel(parent) {}
ScanGridModel::~ScanGridModel() = default;

void ScanGridModel::set_source(jet::dao::Database* database, const std::string& sql) {
  database_ = database;
  sql_ = sql;
  reload();
}

void ScanGridModel::set_source_deferred(jet::dao::Database* database, const std::string& sql) {
  beginResetModel();
  recordset_.reset();
  database_ = database;
  sql_ = sql;
  row_count_ = 0;
  position_ = -1;
  cache_.clear();
  endResetModel();
}

void ScanGridModel::requery() { reload(); }

void ScanGridModel::close_source() {
  beginResetModel();
  recordset_.reset();
  database_ = nullptr;
  columns_.clear();
  row_count_ = 0;
  position_ = -1;
  cache_.clear();
  endResetModel();
}

namespace {

// "Select * From T" with nothing after it names every row of T in table
// order, which the table-name recordset gives as a keyset: rows are read
// when reached, not when the recordset opens.
std::string recordset_source(const std::string& sql) {
  static const std::regex kWholeTable(R"(^\s*select\s+\*\s+from\s+\[?(\w+)\]?\s*;?\s*$)", std::regex::icase);
  std::smatch match;
  if (std::regex_match(sql, match, kWholeTable)) return match[1].str();
  return sql;
}

}  // namespace

void ScanGridModel::reload() {
  beginResetModel();
  recordset_.reset();
  row_count_ = 0;
  position_ = -1;
  cache_.clear();
  std::vector<std::string> columns;
  try {
    if (database_ != nullptr && database_->is_open() && !sql_.empty()) {
      recordset_ = database_->open_recordset(recordset_source(sql_));
      for (std::size_t i = 0; i < recordset_->field_count(); ++i) columns.push_back(recordset_->field_name(i));
      row_count_ = static_cast<int>(recordset_->row_count());
    }
  } catch (...) {
    recordset_.reset();
    row_count_ = 0;
    // Keep the columns the view already knows so its layout survives.
    if (columns.empty()) columns = columns_;
    columns_ = columns;
    endResetModel();
    throw;
  }
  if (!columns.empty()) columns_ = columns;
  endResetModel();
}

bool ScanGridModel::seek(int row) const {
  if (!recordset_ || row < 0 || row >= row_count_) return false;
  if (position_ != row) {
    recordset_->set_absolute_position(row);
    position_ = row;
  }
  return true;
}

const std::vector<jet::Value>* ScanGridModel::cached_row(int row) const {
  if (row < 0 || row >= row_count_) return nullptr;
  for (const Block& b : cache_) {
    if (row >= b.first && row < b.first + static_cast<int>(b.rows.size())) return &b.rows[row - b.first];
  }
  Block block;
  block.first = row - row % kBlockRows;
  const int last = std::min(row_count_, block.first + kBlockRows);
  try {
    seek(block.first);
    for (int r = block.first; r < last; ++r) {
      if (r > block.first) {
        recordset_->move_next();
        ++position_;
      }
      std::vector<jet::Value> values;
      values.reserve(columns_.size());
      for (std::size_t c = 0; c < columns_.size(); ++c) values.push_back(recordset_->field(c));
      block.rows.push_back(std::move(values));
      ++rows_read_;
    }
  } catch (const std::exception&) {
    // The file changed under the grid (rows removed by another handle):
    // the view shows what could be read and the next refresh catches up.
    if (block.rows.empty()) return nullptr;
  }
  cache_.push_front(std::move(block));
  if (cache_.size() > kCachedBlocks) cache_.pop_back();
  const Block& b = cache_.front();
  if (row - b.first >= static_cast<int>(b.rows.size())) return nullptr;
  return &b.rows[row - b.first];
}

int ScanGridModel::column_of(const std::string& name) const {
  const std::string key = upper(name);
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (upper(columns_[i]) == key) return static_cast<int>(i);
  }
  for (const auto& [column, caption] : captions_) {
    if (upper(caption) == key) {
      for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (upper(columns_[i]) == column) return static_cast<int>(i);
      }
    }
  }
  return -1;
}

void ScanGridModel::set_column_caption(const std::string& name, const std::string& caption) {
  captions_[upper(name)] = caption;
}

std::string ScanGridModel::column_name(int column) const {
  return column >= 0 && column < static_cast<int>(columns_.size()) ? columns_[column] : std::string();
}

void ScanGridModel::set_column_locked(const std::string& name, bool locked) {
  const int c = column_of(name);
  const std::string key = upper(c >= 0 ? columns_[c] : name);
  if (locked) {
    locked_.insert(key);
  } else {
    locked_.erase(key);
  }
}

bool ScanGridModel::column_locked(const std::string& name) const {
  const int c = column_of(name);
  return locked_.count(upper(c >= 0 ? columns_[c] : name)) != 0;
}

jet::Value ScanGridModel::value(int row, const std::string& column) const {
  const int c = column_of(column);
  const std::vector<jet::Value>* values = cached_row(row);
  if (c < 0 || values == nullptr) return {};
  return (*values)[c];
}

int ScanGridModel::find_first(const std::string& criteria) {
  if (!recordset_ || row_count_ == 0) return -1;
  try {
    if (!recordset_->find_first(criteria) || recordset_->no_match()) return -1;
    position_ = static_cast<int>(recordset_->absolute_position());
    return position_;
  } catch (const std::exception&) {
    position_ = -1;
    return -1;
  }
}

int ScanGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : row_count_; }

int ScanGridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(columns_.size());
}

QVariant ScanGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid()) return {};
  if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::TextAlignmentRole) return {};
  const std::vector<jet::Value>* values = cached_row(index.row());
  if (values == nullptr || index.column() >= static_cast<int>(values->size())) return {};
  const jet::Value& v = (*values)[index.column()];
  if (role == Qt::TextAlignmentRole) {
    const bool number = !is_text(v) && !jet::is_null(v);
    return QVariant::fromValue(Qt::Alignment((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
  }
  if (jet::is_null(v)) return QString();
  return QString::fromStdString(jet::value_to_text(v));
}

QVariant ScanGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return {};
  if (orientation == Qt::Horizontal) {
    const auto caption = captions_.find(upper(column_name(section)));
    return QString::fromStdString(caption != captions_.end() ? caption->second : column_name(section));
  }
  return section + 1;
}

Qt::ItemFlags ScanGridModel::flags(const QModelIndex& index) const {
  Qt::ItemFlags f = QAbstractTableModel::flags(index);
  if (index.isValid() && !read_only_ && !column_locked(column_name(index.column()))) f |= Qt::ItemIsEditable;
  return f;
}

bool ScanGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable)) return false;
  const std::string column = column_name(index.column());
  const std::string text = value.toString().toStdString();
  const jet::Value old = this->value(index.row(), column);
  if (!jet::is_null(old) && jet::value_to_text(old) == text) return true;
  try {
    if (!seek(index.row())) return false;
    recordset_->edit();
    if (text.empty() && !is_text(old)) {
      recordset_->set_field(column, jet::Value{});
    } else {
      recordset_->set_field(column, text);
    }
    recordset_->update();
  } catch (const std::exception& e) {
    try {
      if (recordset_ && recordset_->edit_mode() != jet::dao::EditMode::kNone) recordset_->cancel_update();
    } catch (...) {
    }
    emit write_failed(QString::fromStdString("The change of " + column + " to \"" + text +
                                             "\" was not stored: " + e.what()));
    return false;
  }
  // The row is read again from the file.
  for (auto it = cache_.begin(); it != cache_.end(); ++it) {
    if (index.row() >= it->first && index.row() < it->first + static_cast<int>(it->rows.size())) {
      cache_.erase(it);
      break;
    }
  }
  emit dataChanged(this->index(index.row(), 0), this->index(index.row(), columnCount() - 1));
  return true;
}

QWidget* ScanGridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                        const QModelIndex& index) const {
  QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
  editor_ = editor;
  connect(editor, &QObject::destroyed, this, [this, editor] {
    if (editor_ == editor) editor_ = nullptr;
  });
  return editor;
}

ScanGridView::ScanGridView(QWidget* parent) : QTableView(parent), delegate_(new ScanGridDelegate(this)) {
  setItemDelegate(delegate_);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed |
                  QAbstractItemView::SelectedClicked);
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  horizontalHeader()->setStretchLastSection(true);
}

bool ScanGridView::edit_pending() const { return state() == QAbstractItemView::EditingState && delegate_->open_editor(); }

bool ScanGridView::commit_pending_edit() {
  QWidget* editor = delegate_->open_editor();
  if (state() != QAbstractItemView::EditingState || editor == nullptr) return false;
  commitData(editor);
  closeEditor(editor, QAbstractItemDelegate::NoHint);
  return true;
}

}  // namespace tallimo::gui
