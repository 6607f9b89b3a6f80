// The "Posting History" window (Reports menu): the posting runs and undos the
// journal holds, newest first; a run's records; per product, what the run
// changed; and "&Undo this run", which first works out what the undo would
// do, states the counts and the conflicts in a confirmation, and undoes the
// run only when the user agrees.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

namespace tallimo {
class Session;
}

namespace tallimo::gui {

class Frm_Posting_History : public QDialog {
  Q_OBJECT

 public:
  explicit Frm_Posting_History(Session& session, QWidget* parent = nullptr);

  // Reads the journal again and lists its runs (the selection is kept when
  // the run is still there, else the newest run is selected).
  void reload();
  // Shows run `run`'s records and changes (0: none).
  void show_run(long run);
  long selected_run() const;
  // "&Undo this run" on the selected run: preview, confirmation, undo.
  void Cmd_Undo_Click();

  QTableWidget* runs_table() const { return runs_; }
  QTableWidget* records_table() const { return records_; }
  QTableWidget* changes_table() const { return changes_; }
  QPushButton* undo_button() const { return cmd_Undo_; }
  QLabel* run_label() const { return lbl_Run_; }

  // While an undo runs (the window gets events between its commits), the
  // window cannot be closed.
  void reject() override;

 private:
  void selection_changed();
  Session& session_;
  QTableWidget* runs_ = nullptr;
  QTableWidget* records_ = nullptr;
  QTableWidget* changes_ = nullptr;
  QLabel* lbl_Run_ = nullptr;
  QPushButton* cmd_Undo_ = nullptr;
  QPushButton* cmd_Close_ = nullptr;
  bool busy_ = false;
};

}  // namespace tallimo::gui
