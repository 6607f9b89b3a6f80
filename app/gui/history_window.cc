#include "app/gui/history_window.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <filesystem>
#include <map>

#include "app/error_log.h"
#include "app/history/journal.h"
#include "app/history/undo.h"
#include "app/session.h"
#include "app/user_interface.h"

namespace tallimo::gui {

namespace {

QTableWidget* make_table(QWidget* parent, const char* name, const QStringList& headers) {
  auto* table = new QTableWidget(parent);
  table->setObjectName(name);
  table->setColumnCount(static_cast<int>(headers.size()));
  table->setHorizontalHeaderLabels(headers);
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table->setSelectionBehavior(QAbstractItemView::SelectRows);
  table->setSelectionMode(QAbstractItemView::SingleSelection);
  table->verticalHeader()->setVisible(false);
  table->horizontalHeader()->setStretchLastSection(true);
  return table;
}

QString q(const std::string& text) { return QString::fromStdString(text); }

void set_row(QTableWidget* table, int row, const QStringList& cells) {
  for (int c = 0; c < cells.size(); ++c) table->setItem(row, c, new QTableWidgetItem(cells[c]));
}

QString number(double v) { return QString::number(v, 'g', 15); }

}  // namespace

Frm_Posting_History::Frm_Posting_History(Session& session, QWidget* parent) : QDialog(parent), session_(session) {
  setObjectName("Frm_Posting_History");
  setWindowTitle("Posting History");
  auto* layout = new QVBoxLayout(this);
  auto* runs_label = new QLabel("&Runs", this);
  layout->addWidget(runs_label);
  runs_ = make_table(this, "runs", {"Run", "Kind", "Started", "Ended", "Records", "State", "Computer",
                                    "User", "Kinds"});
  runs_label->setBuddy(runs_);
  auto* splitter = new QSplitter(Qt::Vertical, this);
  splitter->addWidget(runs_);
  auto* lower = new QWidget(splitter);
  auto* lower_layout = new QVBoxLayout(lower);
  lower_layout->setContentsMargins(0, 0, 0, 0);
  lbl_Run_ = new QLabel(lower);
  lbl_Run_->setObjectName("lbl_Run");
  lbl_Run_->setWordWrap(true);
  lower_layout->addWidget(lbl_Run_);
  auto* tables = new QSplitter(Qt::Horizontal, lower);
  records_ = make_table(tables, "records", {"Record", "Item_Number", "Kind", "Qty", "Description", "Notes"});
  changes_ = make_table(tables, "changes",
                        {"Product Code", "Record", "Change", "Column", "Before", "After", "Difference"});
  tables->addWidget(records_);
  tables->addWidget(changes_);
  tables->setStretchFactor(0, 2);
  tables->setStretchFactor(1, 3);
  lower_layout->addWidget(tables, 1);
  splitter->addWidget(lower);
  splitter->setStretchFactor(1, 2);
  layout->addWidget(splitter, 1);

  auto* buttons = new QHBoxLayout();
  cmd_Undo_ = new QPushButton("&Undo this run", this);
  cmd_Undo_->setObjectName("cmd_Undo");
  cmd_Close_ = new QPushButton("&Close", this);
  cmd_Close_->setObjectName("cmd_Close");
  buttons->addWidget(cmd_Undo_);
  buttons->addStretch(1);
  buttons->addWidget(cmd_Close_);
  layout->addLayout(buttons);
  connect(cmd_Undo_, &QPushButton::clicked, this, &Frm_Posting_History::Cmd_Undo_Click);
  connect(cmd_Close_, &QPushButton::clicked, this, &QDialog::accept);
  connect(runs_, &QTableWidget::itemSelectionChanged, this, &Frm_Posting_History::selection_changed);
  resize(1000, 640);
  reload();
}

long Frm_Posting_History::selected_run() const {
  const auto rows = runs_->selectionModel()->selectedRows();
  if (rows.isEmpty()) return 0;
  const QTableWidgetItem* item = runs_->item(rows.front().row(), 0);
  return item != nullptr ? item->text().toLong() : 0;
}

void Frm_Posting_History::reload() {
  const long keep = selected_run();
  runs_->setRowCount(0);
  std::vector<history::RunInfo> runs;
  if (std::filesystem::exists(history::journal_path(session_))) {
    try {
      auto journal = history::Journal::open(session_);
      runs = journal->runs();
      journal->close();
    } catch (const std::exception& e) {
      Error_Routine(session_, e.what(), "Frm_Posting_History");
    }
  }
  runs_->setRowCount(static_cast<int>(runs.size()));
  int select = runs.empty() ? -1 : 0;
  for (int i = 0; i < static_cast<int>(runs.size()); ++i) {
    const auto& r = runs[i];
    set_row(runs_, i,
            {QString::number(r.id), q(r.kind), q(r.started), q(r.ended), QString::number(r.records),
             q(history::run_state(r)), q(r.computer), q(r.user), q(history::kinds_labels(r.kinds))});
    if (r.id == keep) select = i;
  }
  runs_->resizeColumnsToContents();
  if (select >= 0) {
    runs_->selectRow(select);
  } else {
    show_run(0);
  }
}

void Frm_Posting_History::selection_changed() { show_run(selected_run()); }

void Frm_Posting_History::show_run(long run) {
  records_->setRowCount(0);
  changes_->setRowCount(0);
  cmd_Undo_->setEnabled(false);
  if (run == 0) {
    lbl_Run_->setText("Nothing has been posted yet.");
    return;
  }
  std::optional<history::RunInfo> info;
  std::vector<history::RecordInfo> records;
  bool undo_unfinished = false;  // an undo of this run was interrupted: it may be continued
  try {
    auto journal = history::Journal::open(session_);
    info = journal->run(run);
    if (info) records = journal->records(run);
    if (info && info->undone_by != 0) {
      const auto undo = journal->run(info->undone_by);
      undo_unfinished = undo && !undo->finished();
    }
    journal->close();
  } catch (const std::exception& e) {
    Error_Routine(session_, e.what(), "Frm_Posting_History");
    return;
  }
  if (!info) return;
  lbl_Run_->setText(QString("Run %1 (%2), %3: %4 records, started %5 by %6 on %7, products database %8")
                        .arg(run)
                        .arg(q(info->kind), q(history::run_state(*info)))
                        .arg(info->records)
                        .arg(q(info->started), q(info->user), q(info->computer), q(info->products_file)));
  cmd_Undo_->setEnabled(info->kind == history::kRunPost && info->finished() &&
                        (info->undone_by == 0 || undo_unfinished));

  records_->setRowCount(static_cast<int>(records.size()));
  std::vector<std::string> order;
  std::map<std::string, std::vector<std::pair<long, const history::ChangeInfo*>>> by_product;
  for (int i = 0; i < static_cast<int>(records.size()); ++i) {
    const auto& rec = records[i];
    set_row(records_, i,
            {QString::number(rec.record_no), q(rec.item_number()), q(file_type_label(rec.file_type())),
             q(history::journal_value(rec.scanner[1]).value_or("")), q(history::journal_value(rec.scanner[4]).value_or("")),
             q(history::journal_value(rec.scanner[11]).value_or(""))});
    for (const auto& c : rec.changes) {
      if (by_product.find(c.product_code) == by_product.end()) order.push_back(c.product_code);
      by_product[c.product_code].emplace_back(rec.record_no, &c);
    }
  }
  int row = 0;
  for (const auto& code : order) row += static_cast<int>(by_product[code].size());
  changes_->setRowCount(row);
  row = 0;
  for (const auto& code : order) {
    bool first = true;
    for (const auto& [record_no, c] : by_product[code]) {
      QString difference;
      if (c->kind == history::kChangeQuantity || c->kind == history::kChangePackage) {
        difference = (c->delta > 0 ? "+" : "") + number(c->delta);
        if (c->units != 0) difference += QString(" (%1 units)").arg(number(c->units));
      }
      set_row(changes_, row++,
              {first ? q(code) : QString(), QString::number(record_no), q(c->kind), q(c->column),
               q(history::shown(c->old_value)), q(history::shown(c->new_value)), difference});
      first = false;
    }
  }
  records_->resizeColumnsToContents();
  changes_->resizeColumnsToContents();
}

void Frm_Posting_History::reject() {
  if (!busy_) QDialog::reject();
}

void Frm_Posting_History::Cmd_Undo_Click() {
  const long run = selected_run();
  if (run == 0 || busy_) return;
  cmd_Undo_->setEnabled(false);
  busy_ = true;
  cmd_Close_->setEnabled(false);
  runs_->setEnabled(false);
  struct Unlock {
    Frm_Posting_History* w;
    ~Unlock() {
      w->busy_ = false;
      w->cmd_Close_->setEnabled(true);
      w->runs_->setEnabled(true);
    }
  } unlock{this};
  history::UndoOptions options;
  try {
    options.apply = false;
    const history::UndoSummary preview = history::Undo_Run(session_, run, options);
    QString text = QString("Undo run %1?\n\n%2.").arg(run).arg(q(history::describe_counts(preview)));
    if (!preview.conflicts.empty()) {
      text += "\n\nLeft alone (the products changed since the run):";
      const std::size_t shown_conflicts = std::min<std::size_t>(preview.conflicts.size(), 10);
      for (std::size_t i = 0; i < shown_conflicts; ++i) text += "\n- " + q(history::describe(preview.conflicts[i]));
      if (preview.conflicts.size() > shown_conflicts) {
        text += QString("\n... and %1 more").arg(preview.conflicts.size() - shown_conflicts);
      }
    }
    if (QMessageBox::question(this, "Tallimo", text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) !=
        QMessageBox::Yes) {
      show_run(run);
      return;
    }
    options.apply = true;
    const history::UndoSummary done = history::Undo_Run(session_, run, options);
    reload();
    QMessageBox::information(this, "Tallimo",
                             done.completed ? QString("Run %1 was undone (run %2): %3.")
                                                  .arg(run)
                                                  .arg(done.undo_run)
                                                  .arg(q(history::describe_counts(done)))
                                            : QString("The undo of run %1 stopped after %2 records; undo it again "
                                                      "to continue.")
                                                  .arg(run)
                                                  .arg(done.records));
  } catch (const std::exception& e) {
    Error_Routine(session_, e.what(), "Undo_Run");
    reload();
  }
}

}  // namespace tallimo::gui
