#include "app/handheld/gui/frm_vex_forms.h"

#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/handheld/palm_transfer.h"

namespace tallimo::handheld {

Frm_Vex_Forms::Frm_Vex_Forms(PalmTransfer& transfer, QWidget* parent) : QDialog(parent), transfer_(transfer) {
  setWindowTitle(QStringLiteral("Palm Pilot Data Transfer"));
  setModal(true);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Hot Synch Status:"), this));
  StatusPane_ = new QLineEdit(this);
  StatusPane_->setObjectName(QStringLiteral("StatusPane"));
  StatusPane_->setReadOnly(true);
  layout->addWidget(StatusPane_);
  layout->addWidget(new QLabel(QStringLiteral("This form must be open when synchronizing devices."), this));
  cmd_Close_ = new QPushButton(QStringLiteral("Close"), this);
  cmd_Close_->setObjectName(QStringLiteral("cmd_Close"));
  layout->addWidget(cmd_Close_, 0, Qt::AlignRight);
  connect(cmd_Close_, &QPushButton::clicked, this, [this]() { transfer_.cmd_Close_Click(); });
  connect(&transfer_, &PalmTransfer::changed, this, &Frm_Vex_Forms::show_state);
  connect(&transfer_, &PalmTransfer::unloaded, this, &QDialog::accept);
  show_state();
}

void Frm_Vex_Forms::show_state() {
  StatusPane_->setText(transfer_.StatusPane());
  uint32_t colour = transfer_.StatusPane_ForeColor();  // 0x00BBGGRR
  QPalette palette = StatusPane_->palette();
  palette.setColor(QPalette::Text, QColor(colour & 0xFF, colour >> 8 & 0xFF, colour >> 16 & 0xFF));
  StatusPane_->setPalette(palette);
  cmd_Close_->setVisible(transfer_.cmd_Close_Visible());
  update();
}

void Frm_Vex_Forms::closeEvent(QCloseEvent* event) {
  // The window's own close box works like the Close button, also once that is hidden:
  // after a failed HotSync the user must be able to leave. Every table copied so far is
  // committed with its template emptied, so leaving loses nothing.
  if (!transfer_.closed()) transfer_.cmd_Close_Click();
  QDialog::closeEvent(event);
}

void install_palm_window() {
  set_palm_window_runner([](PalmTransfer& transfer) {
    if (transfer.closed()) return;
    Frm_Vex_Forms window(transfer);
    window.exec();
  });
}

}  // namespace tallimo::handheld
