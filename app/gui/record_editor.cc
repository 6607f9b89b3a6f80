#include "app/gui/record_editor.h"

#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/data/scanner_database.h"
#include "app/error_log.h"
#include "jet/dao.h"
#include "app/null_conversions.h"

namespace tallimo::gui {

void Select_All_Text(QLineEdit* box) {
  const int length = static_cast<int>(box->text().size());
  // Selecting backwards from the end leaves the caret at the start.
  box->setCursorPosition(length);
  box->cursorBackward(true, length);
}

Frm_Editor::Frm_Editor(Session& session, QWidget* parent) : QDialog(parent), session_(session) {
  setObjectName("Frm_Editor");
  setWindowTitle("Edit Record");
  auto* column = new QVBoxLayout(this);
  lb_Caption_ = new QLabel("Edit Item", this);
  lb_Caption_->setObjectName("lb_Caption");
  QFont heading = lb_Caption_->font();
  heading.setBold(true);
  heading.setPointSizeF(heading.pointSizeF() * 1.3);
  lb_Caption_->setFont(heading);
  column->addWidget(lb_Caption_);
  auto* form = new QFormLayout;
  for (std::size_t i = 0; i < kEditorFields.size(); ++i) {
    auto* box = new QLineEdit(this);
    box->setObjectName(QString("txt_Fields_%1").arg(i));
    box->setMinimumWidth(280);
    box->installEventFilter(this);
    form->addRow(kEditorFields[i].label, box);
    txt_Fields_[i] = box;
  }
  column->addLayout(form);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  ok_ = new QPushButton("&OK", this);
  ok_->setObjectName("Command_Center_0");
  ok_->setDefault(true);
  cancel_ = new QPushButton("&Cancel", this);
  cancel_->setObjectName("Command_Center_1");
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  column->addLayout(buttons);
  connect(ok_, &QPushButton::clicked, this, [this] { Command_Center_Click(0); });
  connect(cancel_, &QPushButton::clicked, this, [this] { Command_Center_Click(1); });
}

Frm_Editor::~Frm_Editor() = default;

std::string Frm_Editor::row_statement(const std::string& table, int32_t id) {
  return "Select *\r\nFrom [" + table + "]\r\nWhere (\r\n      ((" + table + "_ID) = " + std::to_string(id) +
         ")\r\n)\r\n";
}

void Frm_Editor::Form_Load() {
  dirty_ = false;
  loaded_ = true;
  try {
    DB_Local_Data_.reset();
    jet::dao::Database* database = Scanner_Database(session_);
    if (database == nullptr || !database->is_open()) throw std::runtime_error("the scanner database is not open");
    DB_Local_Data_ = database->open_recordset(row_statement(table_, id_));
    const bool has_row = !DB_Local_Data_->eof();
    for (std::size_t i = 0; i < kEditorFields.size(); ++i) {
      txt_Fields_[i]->setText(has_row ? QString::fromStdString(Null_To_Text(DB_Local_Data_->field(kEditorFields[i].column)))
                                      : QString());
      txt_Fields_[i]->setModified(false);
    }
    const std::string item = has_row ? Null_To_Text(DB_Local_Data_->field("Item_Number")) : std::string();
    setWindowTitle(QString::fromStdString("Item Number = " + item));
  } catch (const std::exception& e) {
    Error_Routine(session_, e.what(), "Form_Editor_Load");
  }
}

int Frm_Editor::exec() {
  if (!loaded_) Form_Load();
  return QDialog::exec();
}

bool Frm_Editor::write_back() {
  if (!DB_Local_Data_ || DB_Local_Data_->eof()) return true;
  DB_Local_Data_->edit();
  try {
    for (std::size_t i = 0; i < kEditorFields.size(); ++i) {
      if (!txt_Fields_[i]->isModified()) continue;
      const std::string text = txt_Fields_[i]->text().toStdString();
      const jet::Value old = DB_Local_Data_->field(kEditorFields[i].column);
      if (text.empty() && !std::holds_alternative<std::string>(old)) {
        DB_Local_Data_->set_field(kEditorFields[i].column, jet::Value{});
      } else {
        DB_Local_Data_->set_field(kEditorFields[i].column, text);
      }
    }
    DB_Local_Data_->update();
  } catch (...) {
    DB_Local_Data_->cancel_update();
    throw;
  }
  return true;
}

void Frm_Editor::Command_Center_Click(int index) {
  if (index == 1) {
    reject();
    return;
  }
  dirty_ = true;
  try {
    write_back();
  } catch (const std::exception& e) {
    // The row stays as it was and the editor stays open with the typed
    // values, so the user can correct them or cancel: nothing is lost
    // without the user knowing.
    QMessageBox box(QMessageBox::NoIcon, "Tallimo",
                    QString::fromStdString(std::string("The record was not saved: ") + e.what()), QMessageBox::Ok,
                    this);
    box.exec();
    return;
  }
  accept();
}

bool Frm_Editor::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusIn) {
    if (auto* box = qobject_cast<QLineEdit*>(watched)) {
      // After the focus event, so that the click that gave the focus does
      // not put the caret back where it landed.
      QTimer::singleShot(0, box, [box] { Select_All_Text(box); });
    }
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace tallimo::gui
