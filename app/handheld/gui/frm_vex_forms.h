// Frm_Vex_Forms, "Palm Pilot Data Transfer": the window of the Palm transfer. It shows a
// PalmTransfer (app/handheld/palm_transfer.h), which holds all of the transfer's logic.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace tallimo::handheld {

class PalmTransfer;

class Frm_Vex_Forms : public QDialog {
  Q_OBJECT

 public:
  explicit Frm_Vex_Forms(PalmTransfer& transfer, QWidget* parent = nullptr);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void show_state();

  PalmTransfer& transfer_;
  QLineEdit* StatusPane_;
  QPushButton* cmd_Close_;
};

// Makes Synchronize_Palm show the transfer in this window, modally.
void install_palm_window();

}  // namespace tallimo::handheld
