// The narrow interface through which the program's procedures reach the user.
//
// Posting, reading, uploading and report building never touch a widget. They call
// this interface, which the main window implements and tests replace with a
// recording fake. Everything a long-running procedure needs from the screen is
// here: the status line and progress bar, message boxes, letting pending events
// run, and the application-wide abort flag.
#pragma once

#include <string>

namespace tallimo {

// Buttons and icons of a message box. Boxes carry the title "Tallimo" unless a
// caller says otherwise.
enum class MessageButtons { kOk, kOkCancel, kYesNo, kYesNoCancel, kRetryCancel };
enum class MessageIcon { kNone, kInformation, kQuestion, kExclamation, kCritical };
enum class MessageAnswer { kOk, kCancel, kYes, kNo, kRetry };

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // The status line of the main window.
  virtual void Display_Status_Message(const std::string& text) = 0;
  // Status line plus progress bar: a non-empty message shows the bar (at
  // count of total), an empty one clears the line and hides the bar.
  virtual void Update_Status(const std::string& msg, long count, long total) = 0;

  // Shows a modal message box and returns the button pressed. Without a
  // display, an implementation writes the text to stderr and returns the
  // default answer (the first button).
  virtual MessageAnswer message_box(const std::string& text, MessageButtons buttons = MessageButtons::kOk,
                                    MessageIcon icon = MessageIcon::kNone,
                                    const std::string& title = "Tallimo") = 0;

  // Lets the window process pending events; long loops call it after each record.
  virtual void do_events() = 0;

  // The application-wide abort flag, set by the "&Abort" button.
  virtual bool abort_requested() const = 0;
  virtual void set_abort(bool value) = 0;

  // ---- posting controls of the main window ----
  // The defaults below describe a window as it stands after start-up: "All"
  // ticked (so every kind box is ticked and locked), the standard screen
  // (so "&Synchronize" is enabled), an empty comparison menu.

  // Value of the kind check box Chk_Process_Items(kind), kind 0 to 5:
  // 0 clear, 1 ticked, 2 greyed. Only 1 selects the kind for posting.
  virtual int process_item_value(int kind) const { return 1; }
  virtual void set_process_item_value(int kind, int value) {}
  virtual void set_process_item_enabled(int kind, bool enabled) {}
  // The box's caption: the kind's label ("Add to Inventory", ...).
  virtual std::string process_item_caption(int kind) const;
  // Value of Chk_Process_Items_All.
  virtual int process_items_all_value() const { return 1; }

  // The command buttons (Command_Center). Find_Command_Button gives the
  // index of the first button whose caption equals `caption` exactly; for
  // an unknown caption it shows "Programming Error" and gives 0.
  virtual int Find_Command_Button(const std::string& caption);
  virtual bool command_button_enabled(int index) const { return true; }
  virtual void set_command_button_enabled(int index, bool enabled) {}

  // The "&Comparison" menu item (Mnu_Comparison): its enabled state and its
  // action (the report options dialog).
  virtual bool comparison_menu_enabled() const { return false; }
  virtual void set_comparison_menu_enabled(bool enabled) {}
  virtual void Mnu_Comparison_Click() {}

  // The scan grid: leave no pending cell edit and show the current rows of
  // Scanner_Data again.
  virtual void refresh_grid() {}

  // The Preferences dialog, shown modally; the caller saves the settings
  // afterwards. Without a display nothing is shown and nothing changes.
  virtual void show_preferences() {}
  // Unloads the main window, which ends the program. Procedures that call
  // it return at once; program_ended() then tells their callers.
  virtual void unload_main_window() { ended_ = true; }
  bool program_ended() const { return ended_; }

 private:
  bool ended_ = false;
};

// The labels of the transaction kinds, by File_Type code 0 to 5.
inline constexpr const char* kFileTypeLabels[6] = {"Add to Inventory",  "Subtract Inventory", "Compare Inventory",
                                                   "Replace Inventory", "Add New Item",       "Edit Products"};
// The design captions of the command buttons, by index.
inline constexpr const char* kCommandCaptions[6] = {"&Synchronize", "E&xit",   "&Process/Post",
                                                    "&Read Scanner", "&Advanced", "&Update Inventory to Scanner"};

// A user interface for runs without a display: status lines and messages go to
// a stream, message boxes take their default answer, and the abort flag is a
// plain boolean that tests may set.
class ConsoleUserInterface : public UserInterface {
 public:
  explicit ConsoleUserInterface(bool quiet = false) : quiet_(quiet) {}

  void Display_Status_Message(const std::string& text) override;
  void Update_Status(const std::string& msg, long count, long total) override;
  MessageAnswer message_box(const std::string& text, MessageButtons buttons, MessageIcon icon,
                            const std::string& title) override;
  void do_events() override {}
  bool abort_requested() const override { return abort_; }
  void set_abort(bool value) override { abort_ = value; }

  int process_item_value(int kind) const override;
  void set_process_item_value(int kind, int value) override;
  void set_process_item_enabled(int kind, bool enabled) override;
  bool process_item_enabled(int kind) const;
  int process_items_all_value() const override { return all_value_; }
  void set_process_items_all_value(int value) { all_value_ = value; }
  bool command_button_enabled(int index) const override;
  void set_command_button_enabled(int index, bool enabled) override;
  bool comparison_menu_enabled() const override { return comparison_menu_; }
  void set_comparison_menu_enabled(bool enabled) override { comparison_menu_ = enabled; }

 private:
  bool quiet_;
  bool abort_ = false;
  int item_values_[6] = {1, 1, 1, 1, 1, 1};
  bool item_enabled_[6] = {false, false, false, false, false, false};
  int all_value_ = 1;
  bool button_enabled_[6] = {true, true, true, true, true, true};
  bool comparison_menu_ = false;
};

// The program's one user interface: the main window once it exists, a
// console interface before that and in headless runs. Tests install fakes.
UserInterface& App_UI();
// Installs `ui` (not owned; nullptr returns to the console interface).
void set_app_ui(UserInterface* ui);

}  // namespace tallimo
