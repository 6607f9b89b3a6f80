// The scan grid on the main window: the kind filter and its "All" box, the
// column switches per filter, the notes in the status line and the record
// editor behind a double-click.
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <utility>

#include "app/data/scanner_database.h"
#include "app/error_log.h"
#include "app/gui/main_window.h"
#include "app/gui/record_editor.h"
#include "app/gui/scan_grid.h"
#include "app/null_conversions.h"

namespace tallimo::gui {
namespace {

// The filter captions and the File_Type each one selects.
int kind_of_caption(const std::string& caption) {
  static constexpr const char* kKinds[6] = {"Add to Inventory",  "Subtract Inventory", "Compare Inventory",
                                            "Replace Inventory", "Add New Item",       "Edit Products"};
  for (int k = 0; k < 6; ++k) {
    if (caption == kKinds[k]) return k;
  }
  return -1;
}

std::string trimmed(const std::string& s) {
  const auto b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  const auto e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

}  // namespace

void Frm_Main::Update_Grid(int index) {
  if (index < 0 || index > 6) return;
  current_filter_ = index;
  std::string sql = "Select * \r\nFrom Scanner_Data\r\n";
  const int kind = kind_of_caption(Opt_Search_Verify_[index]->text().toStdString());
  if (kind >= 0) sql += "Where File_Type = " + std::to_string(kind);
  grid_commit_pending_edit();
  try {
    Set_Grid_Columns(index);
    if (Pic_Advanced_->isHidden()) {
      // Off screen (the standard screen): read when the grid is shown.
      grid_model_->set_source_deferred(Scanner_Database(session_), sql);
      return;
    }
    grid_model_->set_source(Scanner_Database(session_), sql);
    Set_Grid_Columns(index);
    set_grid_column_widths();
  } catch (const std::exception& e) {
    Error_Routine(session_, e.what(), "Update_Grid");
  }
}

void Frm_Main::set_grid_column_widths() {
  // The columns' design widths (the last one takes what is left).
  static constexpr std::pair<const char*, int> kWidths[] = {
      {"Qty", 60}, {"Item_Number", 130}, {"Description", 210}, {"Price", 70},
      {"Location", 70}, {"List_Price", 70}, {"Vendor_Code", 80}};
  for (const auto& [name, width] : kWidths) {
    const int c = grid_model_->column_of(name);
    if (c >= 0) TDBGrid1_->setColumnWidth(c, width);
  }
}

void Frm_Main::Set_Grid_Columns(int index) {
  auto column = [this](const char* name, bool visible, bool locked) {
    grid_model_->set_column_locked(name, locked);
    const int c = grid_model_->column_of(name);
    if (c >= 0) TDBGrid1_->setColumnHidden(c, !visible);
  };
  auto lock = [this](const char* name, bool locked) { grid_model_->set_column_locked(name, locked); };
  for (const char* name : {"Scanner_Data_ID", "Vendor_Code", "Current_Cost", "File_Type", "Notes", "Location",
                           "List_Price"}) {
    column(name, false, true);
  }
  // Design settings of the columns the filters leave alone: the item order
  // is the program's own bookkeeping, the quantity is shown and editable.
  column("Item_Order", false, true);
  column("Qty", true, false);
  lbl_Hints_->hide();
  const std::string caption = Opt_Search_Verify_[index]->text().toStdString();
  if (caption == "Edit Products") {
    lock("Item_Number", true);
    lock("Description", false);
    lock("Price", false);
    for (const char* name : {"Location", "List_Price", "Vendor_Code"}) column(name, true, false);
    lbl_Hints_->show();
  } else if (caption == "Add New Item") {
    lock("Item_Number", true);
    lock("Description", false);
    lock("Price", true);
  } else {
    lock("Item_Number", true);
    lock("Description", true);
    lock("Price", true);
  }
}

void Frm_Main::Opt_Search_Verify_Click(int index) {
  if (index < 0 || index > 6) return;
  Opt_Search_Verify_[index]->setChecked(true);
  Update_Grid(index);
}

void Frm_Main::Chk_Search_Verify_Click() {
  if (Chk_Search_Verify_->isChecked()) {
    Opt_Search_Verify_Click(0);
    for (int i = 1; i <= 6; ++i) Opt_Search_Verify_[i]->setEnabled(false);
  } else {
    for (int i = 1; i <= 6; ++i) Opt_Search_Verify_[i]->setEnabled(true);
    Opt_Search_Verify_Click(1);
  }
}

void Frm_Main::grid_commit_pending_edit() { TDBGrid1_->commit_pending_edit(); }

void Frm_Main::refresh_grid() {
  grid_commit_pending_edit();
  if (Pic_Advanced_->isHidden()) {
    // Read again when the grid comes on screen.
    grid_model_->set_source_deferred(Scanner_Database(session_), grid_model_->sql());
    return;
  }
  const QModelIndex current = TDBGrid1_->currentIndex();
  try {
    const bool first_read = grid_model_->columnCount() == 0;
    grid_model_->requery();
    Set_Grid_Columns(current_filter_);
    if (first_read) set_grid_column_widths();
  } catch (const std::exception& e) {
    Error_Routine(session_, e.what(), "Update_Grid");
    return;
  }
  if (current.isValid() && grid_model_->rowCount() > 0) {
    const int row = std::min(current.row(), grid_model_->rowCount() - 1);
    TDBGrid1_->setCurrentIndex(grid_model_->index(row, current.column()));
  }
}

void Frm_Main::TDBGrid1_DblClick() {
  if (!Opt_Search_Verify_[6]->isChecked()) return;
  const QModelIndex current = TDBGrid1_->currentIndex();
  if (!current.isValid()) return;
  int32_t id = 0;
  try {
    id = Null_To_Long(grid_model_->value(current.row(), "Scanner_Data_ID"));
  } catch (const std::exception&) {
    id = 0;
  }
  if (id < 1) return;
  grid_commit_pending_edit();
  Frm_Editor editor(session_, this);
  editor.Set_ID(id);
  editor.Set_Table_Name("Scanner_Data");
  editor.exec();
  if (!editor.Get_Dirty_Flag()) return;
  Update_Grid(6);
  // Back to the edited row (its place may have moved in the refilled list).
  const int row = grid_model_->find_first("Scanner_Data_ID = " + std::to_string(id));
  if (row >= 0) TDBGrid1_->setCurrentIndex(grid_model_->index(row, current.column()));
}

void Frm_Main::TDBGrid1_RowColChange() {
  const QModelIndex current = TDBGrid1_->currentIndex();
  if (!current.isValid()) return;
  const std::string note = trimmed(Null_To_Text(grid_model_->value(current.row(), "Notes")));
  if (!note.empty()) Display_Status_Message(note);
}

}  // namespace tallimo::gui
