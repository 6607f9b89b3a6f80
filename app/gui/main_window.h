// Frm_Main: the program's one main window. It shows the command centre (six
// buttons and the menus that forward to them), the status line and progress
// bar, the standard and advanced screens, the scan grid with its filters and
// the posting options, and the tray icon. It is the program's user interface:
// the core's procedures reach the screen only through the UserInterface
// members it implements.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QSystemTrayIcon>
#include <array>
#include <string>

#include "app/session.h"
#include "app/user_interface.h"

class QAction;
class QCheckBox;
class QKeyEvent;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class QWidget;

namespace tallimo::gui {

class ScanGridView;
class ScanGridModel;

// The commands that have not landed in this build say so plainly.

class Frm_Main : public QMainWindow, public UserInterface {
  Q_OBJECT

 public:
  // Becomes the session's user interface; the one it had before is given
  // back when the window is destroyed.
  explicit Frm_Main(Session& session, QWidget* parent = nullptr);
  ~Frm_Main() override;

  Session& session() const { return session_; }

  // The load handler: opens the scanner database, fills the grid, ticks the
  // kind boxes, starts the auto-minimise timer and sets the comparison menu.
  void Form_Load();

  // ---- status line (UserInterface) ----
  void Display_Status_Message(const std::string& text) override;
  void Update_Status(const std::string& msg, long count, long total) override;
  MessageAnswer message_box(const std::string& text, MessageButtons buttons, MessageIcon icon,
                            const std::string& title) override;
  void do_events() override;

  // ---- posting controls (UserInterface) ----
  CheckState process_item_state(int kind) const override;
  void set_process_item_state(int kind, CheckState state) override;
  void set_process_item_enabled(int kind, bool enabled) override;
  CheckState process_items_all_state() const override;
  std::string command_button_caption(int index) const override;
  bool command_button_enabled(int index) const override;
  void set_command_button_enabled(int index, bool enabled) override;
  bool comparison_menu_enabled() const override;
  void set_comparison_menu_enabled(bool enabled) override;
  void Mnu_Comparison_Click() override;
  void refresh_grid() override;
  void show_preferences() override;
  void unload_main_window() override;

  // ---- command centre ----
  void Command_Center_Click(int index);
  void Click_Command_Button(const std::string& caption);
  void Enable_Controls(bool enabled);
  bool busy() const { return busy_; }
  bool program_ended() const { return session_.program_ended(); }

  // One function per command; the operations that live elsewhere are wired
  // here with one line each.
  void run_synchronize();
  void run_read_scanner();
  void run_process_post();
  void run_update_inventory();
  // Scanner-kind dispatch: the road of the "Scanner" setting.
  void Scanner_Type_Dispatch(bool full_sync);

  // ---- scan grid and filters ----
  void Update_Grid(int index);
  void Set_Grid_Columns(int index);
  void set_grid_column_widths();
  void Opt_Search_Verify_Click(int index);
  void Chk_Search_Verify_Click();
  void TDBGrid1_DblClick();
  void TDBGrid1_RowColChange();
  // The grid call made at the start of every command and at the end of a
  // posting run: a pending cell edit is written (or, when the database
  // refuses it, reported and dropped), never left half-done.
  void grid_commit_pending_edit();

  // ---- menu and tray actions ----
  void Preferences_Click();
  void Hide_Click();
  void mPopRestore_Click();
  void About_Click();
  // Reports > "Posting &History": the posting runs, their records and changes,
  // and the undo of a run.
  void Mnu_Posting_History_Click();
  void UsersManual_Click();
  // Where the manual is: the application folder's "Tallimo Manual", else the
  // one beside the program or in the installed documentation.
  QString manual_path() const;
  void tray_activated(QSystemTrayIcon::ActivationReason reason);
  void Timer1_Timer();

  // ---- for tests and screenshots ----
  QPushButton* command_button(int index) const { return Command_Center_[index]; }
  QAction* action(const char* name) const;
  QLabel* status_label() const { return lbl_Status_; }
  QProgressBar* progress_bar() const { return ProgressBar_; }
  QWidget* advanced_section() const { return Pic_Advanced_; }
  QLabel* hint_label() const { return lbl_Hints_; }
  QCheckBox* process_item_box(int kind) const { return Chk_Process_Items_[kind]; }
  QCheckBox* process_items_all_box() const { return Chk_Process_Items_All_; }
  QRadioButton* filter_option(int index) const { return Opt_Search_Verify_[index]; }
  QCheckBox* filter_all_box() const { return Chk_Search_Verify_; }
  ScanGridView* grid() const { return TDBGrid1_; }
  ScanGridModel* grid_model() const { return grid_model_; }
  QTimer* auto_minimise_timer() const { return Timer1_; }
  QSystemTrayIcon* tray_icon() const { return tray_; }
  QMenu* tray_menu() const { return mPopupSys_; }
  // The window heights, in pixels, of the two screens on this display.
  int standard_height() const;
  int design_height() const;
  int design_width() const;
  // The screen's logical DPI the window sizes itself by.
  double logical_dpi() const;

 signals:
  // A message box was shown (its text); tests and the headless run watch it.
  void message_shown(const QString& text);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void build_standard_screen(QWidget* parent);
  void build_advanced_screen(QWidget* parent);
  // Command button `i` (its caption, object name, hover text and click), kept
  // in Command_Center_.
  QPushButton* make_command_button(int i, QWidget* parent);
  void build_menus();
  void build_tray();
  void screen_switch(int index);
  void apply_window_size();
  void update_inventory_button_for_scanner(bool enabled);
  void cancel_auto_minimise();
  QPushButton* button_for_accelerator(const QKeyEvent* key) const;

  std::array<QPushButton*, 6> Command_Center_{};
  QLabel* lbl_Status_Header_ = nullptr;
  QLabel* lbl_Status_ = nullptr;
  QProgressBar* ProgressBar_ = nullptr;
  QWidget* Picture1_ = nullptr;
  QWidget* Pic_Advanced_ = nullptr;
  QLabel* Image1_ = nullptr;
  QLabel* Orvex_Image_ = nullptr;
  std::array<QCheckBox*, 6> Chk_Process_Items_{};
  QCheckBox* Chk_Process_Items_All_ = nullptr;
  std::array<QRadioButton*, 7> Opt_Search_Verify_{};
  QCheckBox* Chk_Search_Verify_ = nullptr;
  QLabel* lbl_Hints_ = nullptr;
  ScanGridView* TDBGrid1_ = nullptr;
  ScanGridModel* grid_model_ = nullptr;
  QTimer* Timer1_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  QMenu* mPopupSys_ = nullptr;

  QAction* Preferences_ = nullptr;
  QAction* Hide_ = nullptr;
  QAction* Exit_ = nullptr;
  QMenu* File_ = nullptr;
  QMenu* Reports_ = nullptr;
  QAction* Mnu_Comparison_ = nullptr;
  QAction* Mnu_Posting_History_ = nullptr;
  QAction* Mnu_Synchronize_ = nullptr;
  QMenu* Mnu_Advanced_ = nullptr;
  QAction* Mnu_Read_Scanner_ = nullptr;
  QAction* Mnu_Process_Post_ = nullptr;
  QAction* Mnu_Show_Advance_Screen_ = nullptr;
  QAction* Mnu_Update_Inventory_ = nullptr;
  QMenu* Help_ = nullptr;
  QAction* About_ = nullptr;
  QAction* UsersManual_ = nullptr;
  QAction* mPopRestore_ = nullptr;
  QAction* mPopExit_ = nullptr;

  Session& session_;
  UserInterface& previous_ui_;
  bool busy_ = false;
  // A close asked for while a command runs: the run is aborted and the
  // window closes once it has stopped.
  bool close_requested_ = false;
  int current_filter_ = 0;
  QElapsedTimer since_paint_;
};

}  // namespace tallimo::gui
