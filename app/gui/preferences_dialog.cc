#include "app/gui/preferences_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace tallimo::gui {

QString Frm_Preferences::browse_title() { return QString("Select ") + "Tallimo" + "Data File Location"; }

// The products database's files; Jet files are named .mdb or .MDB.
QString Frm_Preferences::browse_filter() { return QString("Tallimo") + " *.mdb (*.mdb *.MDB)"; }

Frm_Preferences::Frm_Preferences(Settings& settings, QWidget* parent) : QDialog(parent), settings_(settings) {
  setObjectName("Frm_Preferences");
  setWindowTitle("Preferences");
  auto* column = new QVBoxLayout(this);

  auto* scanner_row = new QHBoxLayout;
  auto* scanner_label = new QLabel("Scanner:", this);
  cbo_Scanner_ = new QComboBox(this);
  cbo_Scanner_->setObjectName("cbo_Scanner");
  scanner_label->setBuddy(cbo_Scanner_);
  scanner_row->addWidget(scanner_label);
  scanner_row->addWidget(cbo_Scanner_, 1);
  column->addLayout(scanner_row);

  auto* location_label = new QLabel("Product Database Location", this);
  column->addWidget(location_label);
  auto* location_row = new QHBoxLayout;
  txt_Orvex_Location_ = new QLineEdit(this);
  txt_Orvex_Location_->setObjectName("txt_Orvex_Location");
  txt_Orvex_Location_->setMinimumWidth(360);
  location_label->setBuddy(txt_Orvex_Location_);
  location_row->addWidget(txt_Orvex_Location_, 1);
  Command_Center_[2] = new QPushButton("....", this);
  Command_Center_[2]->setObjectName("Command_Center_2");
  Command_Center_[2]->setToolTip("Browse for the products database");
  location_row->addWidget(Command_Center_[2]);
  column->addLayout(location_row);

  auto* frames = new QHBoxLayout;
  auto* Frame_Baud_Rate = new QGroupBox("Baud Rate", this);
  Frame_Baud_Rate->setObjectName("Frame_Baud_Rate");
  auto* baud = new QVBoxLayout(Frame_Baud_Rate);
  auto* baud_group = new QButtonGroup(this);
  const char* rates[3] = {"115200", "38400", "19200"};
  for (int i = 0; i < 3; ++i) {
    Opt_Baud_[i] = new QRadioButton(rates[i], Frame_Baud_Rate);
    Opt_Baud_[i]->setObjectName(QString("Opt_Baud_%1").arg(i));
    baud_group->addButton(Opt_Baud_[i], i);
    baud->addWidget(Opt_Baud_[i]);
  }
  baud->addStretch(1);
  frames->addWidget(Frame_Baud_Rate);
  auto* Frmae_Comm_Port_Settings = new QGroupBox("Comm Port Settings", this);
  Frmae_Comm_Port_Settings->setObjectName("Frmae_Comm_Port_Settings");
  auto* ports = new QGridLayout(Frmae_Comm_Port_Settings);
  auto* port_group = new QButtonGroup(this);
  for (int i = 0; i < 8; ++i) {
    Opt_Com_[i] = new QRadioButton(QString("COM %1").arg(i + 1), Frmae_Comm_Port_Settings);
    Opt_Com_[i]->setObjectName(QString("Opt_Com_%1").arg(i));
    port_group->addButton(Opt_Com_[i], i);
    ports->addWidget(Opt_Com_[i], i % 4, i / 4);
  }
  frames->addWidget(Frmae_Comm_Port_Settings, 1);
  column->addLayout(frames);

  Chk_Auto_Min_ = new QCheckBox("Auto Minimize on Start Up", this);
  Chk_Auto_Min_->setObjectName("Chk_Auto_Min");
  column->addWidget(Chk_Auto_Min_);
  Chk_Auto_Print_Comparison_Report_ = new QCheckBox("Auto Print Comparison Report", this);
  Chk_Auto_Print_Comparison_Report_->setObjectName("Chk_Auto_Print_Comparison_Report");
  column->addWidget(Chk_Auto_Print_Comparison_Report_);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  Command_Center_[0] = new QPushButton("&OK", this);
  Command_Center_[0]->setObjectName("Command_Center_0");
  Command_Center_[0]->setDefault(true);
  Command_Center_[1] = new QPushButton("&Cancel", this);
  Command_Center_[1]->setObjectName("Command_Center_1");
  buttons->addWidget(Command_Center_[0]);
  buttons->addWidget(Command_Center_[1]);
  column->addLayout(buttons);
  for (int i = 0; i < 3; ++i) {
    connect(Command_Center_[i], &QPushButton::clicked, this, [this, i] { Command_Center_Click(i); });
  }
  Form_Load();
}

void Frm_Preferences::Form_Load() {
  if (settings_.Baud_Rate >= 0 && settings_.Baud_Rate < 3) Opt_Baud_[settings_.Baud_Rate]->setChecked(true);
  if (settings_.Com_Port >= 0 && settings_.Com_Port < 8) Opt_Com_[settings_.Com_Port]->setChecked(true);
  txt_Orvex_Location_->setText(QString::fromStdString(settings_.Orvex_Location));
  Chk_Auto_Min_->setChecked(settings_.Auto_Min);
  Chk_Auto_Print_Comparison_Report_->setChecked(settings_.Auto_Print);
  cbo_Scanner_->addItems({kScannerOrvexR50, kScannerPalm, kScannerWindowsMobile, kScannerPhone});
  const QString kind = settings_.Scanner.empty() ? QString(kScannerOrvexR50) : QString::fromStdString(settings_.Scanner);
  // A kind the list does not hold is ignored: the box keeps its first entry.
  const int found = cbo_Scanner_->findText(kind);
  if (found >= 0) cbo_Scanner_->setCurrentIndex(found);
}

void Frm_Preferences::Command_Center_Click(int index) {
  const QString caption = Command_Center_[index]->text();
  if (caption == "&OK") {
    take_values();
    accept();
  } else if (caption == "&Cancel") {
    reject();
  } else if (caption == "....") {
    browse();
  }
}

void Frm_Preferences::take_values() {
  for (int i = 0; i < 3; ++i) {
    if (Opt_Baud_[i]->isChecked()) {
      settings_.Baud_Rate = static_cast<int16_t>(i);
      break;
    }
  }
  for (int i = 0; i < 8; ++i) {
    if (Opt_Com_[i]->isChecked()) {
      settings_.Com_Port = static_cast<int16_t>(i);
      break;
    }
  }
  settings_.Orvex_Location = txt_Orvex_Location_->text().toStdString();
  settings_.Auto_Min = Chk_Auto_Min_->checkState() != Qt::Unchecked;
  settings_.Auto_Print = Chk_Auto_Print_Comparison_Report_->checkState() != Qt::Unchecked;
  settings_.Scanner = cbo_Scanner_->currentText().toStdString();
}

void Frm_Preferences::browse() {
  QFileDialog dialog(this, browse_title(), QFileInfo(txt_Orvex_Location_->text()).path(), browse_filter());
  dialog.setObjectName("CommonDialog1");
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // Qt's own dialog: the same on every desktop, and scriptable in tests.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  if (dialog.exec() != QDialog::Accepted) return;
  const QStringList files = dialog.selectedFiles();
  if (files.isEmpty() || files.front().isEmpty()) return;
  txt_Orvex_Location_->setText(QFileInfo(files.front()).absoluteFilePath());
}

}  // namespace tallimo::gui
