// The command centre: one click handler dispatches every command by the
// caption of the pressed button, locks the window while the command runs
// and turns "E&xit" into "&Abort"; the menus forward to the buttons by
// caption; the screen switch between the standard and advanced screens.
#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

#include "app/data/products_database.h"
#include "app/handheld/handheld_runs.h"
#include "app/ir/ir_runs.h"
#include "app/phone/gui/phone_window.h"
#include "app/reports/gui/report_preview.h"
#include "app/data/scanner_database.h"
#include "app/gui/main_window.h"
#include "app/gui/scan_grid.h"
#include "app/posting/posting.h"
#include "app/settings.h"

namespace tallimo::gui {
namespace {

std::string caption_of(const QPushButton* button) { return button->text().toStdString(); }

}  // namespace

std::string Frm_Main::command_button_caption(int index) const {
  return index >= 0 && index < kCommandButtonCount ? caption_of(Command_Center_[index]) : std::string();
}

void Frm_Main::Click_Command_Button(const std::string& caption) {
  bool known = false;
  for (int i = 0; i < kCommandButtonCount; ++i) known = known || command_button_caption(i) == caption;
  // An unknown caption shows "Programming Error" and the command is dropped
  // rather than handed to the first button (which would start a
  // synchronisation nobody asked for).
  if (!known) {
    message(*this, "Programming Error");
    return;
  }
  Command_Center_Click(Find_Command_Button(*this, caption));
}

bool Frm_Main::command_button_enabled(int index) const {
  return index >= 0 && index < 6 && Command_Center_[index]->isEnabled();
}

void Frm_Main::set_command_button_enabled(int index, bool enabled) {
  if (index >= 0 && index < 6) Command_Center_[index]->setEnabled(enabled);
}

void Frm_Main::Command_Center_Click(int index) {
  if (index < 0 || index >= 6) return;
  grid_commit_pending_edit();
  const std::string caption = caption_of(Command_Center_[index]);
  if (caption == "Standard") {
    Command_Center_[index]->setText("&Advanced");
    Command_Center_Click(index);
    return;
  }
  if (caption == "&Advanced") {
    screen_switch(index);
  } else if (caption == "E&xit") {
    session_.end_program();
    return;
  } else if (caption == "&Abort") {
    session_.set_abort(true);
    Display_Status_Message("Aborting...");
  } else if (caption == "&Process/Post") {
    Enable_Controls(false);
    run_process_post();
    Enable_Controls(true);
  } else if (caption == "&Read Scanner") {
    Enable_Controls(false);
    run_read_scanner();
    Enable_Controls(true);
  } else if (caption == "&Synchronize") {
    Enable_Controls(false);
    run_synchronize();
    Enable_Controls(true);
  } else if (caption == "&Update Inventory to Scanner") {
    Enable_Controls(false);
    run_update_inventory();
    Enable_Controls(true);
  }
  if (program_ended() || close_requested_) {
    // The window was asked to close while the command ran: it closes now
    // that the command has stopped.
    if (!busy_) close();
    return;
  }
  // Show what the command changed. An "&Abort" click arrives in the middle
  // of a run, which refreshes the grid itself when it ends.
  if (!Pic_Advanced_->isHidden() && caption != "&Abort") refresh_grid();
}

void Frm_Main::Enable_Controls(bool enabled) {
  if (!enabled) {
    Command_Center_[Find_Command_Button(*this, "E&xit")]->setText("&Abort");
    session_.set_abort(false);
  } else {
    Command_Center_[Find_Command_Button(*this, "&Abort")]->setText("E&xit");
  }
  busy_ = !enabled;
  Mnu_Synchronize_->setEnabled(enabled);
  for (QMenu* menu : {File_, Reports_, Mnu_Advanced_, Help_}) menu->menuAction()->setEnabled(enabled);
  Command_Center_[0]->setEnabled(enabled);
  Command_Center_[4]->setEnabled(enabled);
  Command_Center_[3]->setEnabled(enabled);
  Command_Center_[2]->setEnabled(enabled);
  if (enabled) Command_Center_[0]->setEnabled(Command_Center_[3]->isHidden() || Pic_Advanced_->isHidden());
  update_inventory_button_for_scanner(enabled);
  // While a command runs the grid shows rows but takes no edits: the run
  // may be posting or deleting the very row an edit would write.
  grid_model_->set_read_only(!enabled);
  if (enabled) Update_Process_Post_Button(session_);
}

void Frm_Main::update_inventory_button_for_scanner(bool enabled) {
  const std::string& kind = session_.settings().Scanner;
  if (kind == kScannerOrvexR50) {
    Command_Center_[5]->setEnabled(enabled);
  } else if (kind == kScannerPalm || kind == kScannerPhone) {
    // A phone looks products up while it scans: there is no list to send it.
    Command_Center_[5]->setEnabled(false);
  }
}

void Frm_Main::screen_switch(int index) {
  Pic_Advanced_->setVisible(Command_Center_[0]->isEnabled());
  const bool advanced = !Pic_Advanced_->isHidden();
  Mnu_Synchronize_->setVisible(!advanced);
  Mnu_Read_Scanner_->setEnabled(advanced);
  Mnu_Process_Post_->setEnabled(advanced);
  Mnu_Update_Inventory_->setEnabled(advanced);
  update_inventory_button_for_scanner(true);
  if (advanced) {
    Mnu_Show_Advance_Screen_->setText("&Hide Advanced Screen");
    Command_Center_[index]->setText("Standard");
  } else {
    Mnu_Show_Advance_Screen_->setText("&Show Advanced Screen");
  }
  apply_window_size();
  Command_Center_[0]->setEnabled(!Command_Center_[0]->isEnabled());
}

// ---- the commands ----

void Frm_Main::Scanner_Type_Dispatch(bool full_sync) {
  HandheldRuns handheld;
  handheld.palm = [](Session& session, bool full) { handheld::Synchronize_Palm(session, full); };
  handheld.windows_mobile = [](Session& session, bool full) {
    handheld::Synchronize_Windows_Mobile(session, full);
  };
  handheld.phone = [this](Session& session, bool full) { phone::Synchronize_Phone(session, full, this); };
  Synchronize_Handheld(session_, full_sync, handheld);
  grid_commit_pending_edit();
}

void Frm_Main::run_synchronize() { Scanner_Type_Dispatch(true); }
void Frm_Main::run_read_scanner() { Scanner_Type_Dispatch(false); }
void Frm_Main::run_update_inventory() {
  Update_Inventory(session_, true);
  grid_commit_pending_edit();
}

void Frm_Main::run_process_post() {
  Process_Post(session_);
  grid_commit_pending_edit();
}

// ---- posting controls ----

namespace {
CheckState state_of(const QCheckBox* box) {
  switch (box->checkState()) {
    case Qt::Checked: return CheckState::kChecked;
    case Qt::PartiallyChecked: return CheckState::kGreyed;
    default: return CheckState::kUnchecked;
  }
}
}  // namespace

CheckState Frm_Main::process_item_state(int kind) const {
  return kind >= 0 && kind < kKindCount ? state_of(Chk_Process_Items_[kind]) : CheckState::kUnchecked;
}

void Frm_Main::set_process_item_state(int kind, CheckState state) {
  if (kind < 0 || kind >= kKindCount) return;
  Chk_Process_Items_[kind]->setCheckState(state == CheckState::kChecked  ? Qt::Checked
                                          : state == CheckState::kGreyed ? Qt::PartiallyChecked
                                                                         : Qt::Unchecked);
}

void Frm_Main::set_process_item_enabled(int kind, bool enabled) {
  if (kind >= 0 && kind < kKindCount) Chk_Process_Items_[kind]->setEnabled(enabled);
}

CheckState Frm_Main::process_items_all_state() const { return state_of(Chk_Process_Items_All_); }

bool Frm_Main::comparison_menu_enabled() const { return Mnu_Comparison_->isEnabled(); }
void Frm_Main::set_comparison_menu_enabled(bool enabled) { Mnu_Comparison_->setEnabled(enabled); }

void Frm_Main::Mnu_Comparison_Click() { reports::show_report_options(session_, this); }

}  // namespace tallimo::gui
