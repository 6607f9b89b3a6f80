// The narrow interface through which the program's procedures reach the user.
//
// Posting, reading, uploading and report building never touch a widget. They call
// this interface, which the main window implements and tests replace with a
// recording fake. Every member is pure virtual: a window that forgets one does not
// compile. States are enums, never raw numbers a widget toolkit might number
// differently. What the program decides (which command a caption names, which
// kinds a run posts) stays in the program: see Find_Command_Button and
// kind_selected below, which are plain functions over this interface.
//
// The abort flag is not here: it belongs to the Session (app/session.h), which the
// window's "&Abort" button sets.
//
// Posting calls no member that may run the event loop while a commit group's
// transaction is open (app/posting/posting.h says how). The two status members are
// the exception: they are called inside groups and must only record the text (the
// window shows it on its next event run), never run the event loop or call back
// into the program. Every other member may run the event loop.
#pragma once

#include <string>

namespace tallimo {

// Buttons and icons of a message box. Boxes carry the title "Tallimo" unless a
// caller says otherwise.
enum class MessageButtons { kOk, kOkCancel, kYesNo, kYesNoCancel, kRetryCancel };
enum class MessageIcon { kNone, kInformation, kQuestion, kExclamation, kCritical };
enum class MessageAnswer { kOk, kCancel, kYes, kNo, kRetry };

// A check box: clear, ticked, or greyed (neither: the "All" box while only some
// kinds are ticked). Only kChecked selects.
enum class CheckState { kUnchecked, kChecked, kGreyed };

// The number of kind check boxes (one per File_Type code 0..5) and of command
// buttons.
inline constexpr int kKindCount = 6;
inline constexpr int kCommandButtonCount = 6;

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // ---- status line and progress (never run the event loop) ----
  // The status line of the main window.
  virtual void Display_Status_Message(const std::string& text) = 0;
  // Status line plus progress bar: a non-empty message shows the bar (at
  // count of total), an empty one clears the line and hides the bar.
  virtual void Update_Status(const std::string& msg, long count, long total) = 0;

  // Shows a modal message box and returns the button pressed. Without a
  // display, an implementation writes the text to stderr and returns the
  // default answer (the first button).
  virtual MessageAnswer message_box(const std::string& text, MessageButtons buttons, MessageIcon icon,
                                    const std::string& title) = 0;

  // Lets the window process pending events; long loops call it after each record.
  virtual void do_events() = 0;

  // ---- posting controls of the main window ----
  // The kind check box Chk_Process_Items(kind), kind 0 to 5.
  virtual CheckState process_item_state(int kind) const = 0;
  virtual void set_process_item_state(int kind, CheckState state) = 0;
  virtual void set_process_item_enabled(int kind, bool enabled) = 0;
  // Chk_Process_Items_All.
  virtual CheckState process_items_all_state() const = 0;

  // ---- the command buttons (Command_Center, index 0 to 5) ----
  // The button's caption as it stands now (the exit button reads "&Abort"
  // while a command runs).
  virtual std::string command_button_caption(int index) const = 0;
  virtual bool command_button_enabled(int index) const = 0;
  virtual void set_command_button_enabled(int index, bool enabled) = 0;

  // ---- the "&Comparison" menu item (Mnu_Comparison) ----
  virtual bool comparison_menu_enabled() const = 0;
  virtual void set_comparison_menu_enabled(bool enabled) = 0;
  // Its action: the report options dialog.
  virtual void Mnu_Comparison_Click() = 0;

  // ---- the rest of the window ----
  // The scan grid: leave no pending cell edit and show the current rows of
  // Scanner_Data again.
  virtual void refresh_grid() = 0;
  // The Preferences dialog, shown modally; the caller saves the settings
  // afterwards. Without a display nothing is shown and nothing changes.
  virtual void show_preferences() = 0;
  // Unloads the main window, which ends the program. Called through
  // Session::end_program(), which records that the program ended.
  virtual void unload_main_window() = 0;
};

// The labels of the transaction kinds, by File_Type code 0 to 5 (the kind
// check boxes' captions).
inline constexpr const char* kFileTypeLabels[kKindCount] = {"Add to Inventory",  "Subtract Inventory",
                                                            "Compare Inventory", "Replace Inventory",
                                                            "Add New Item",      "Edit Products"};
// The design captions of the command buttons, by index.
inline constexpr const char* kCommandCaptions[kCommandButtonCount] = {
    "&Synchronize", "E&xit", "&Process/Post", "&Read Scanner", "&Advanced", "&Update Inventory to Scanner"};

// The label of kind `kind` ("" for a code outside 0..5).
std::string file_type_label(int kind);

// The index of the first command button whose caption equals `caption`
// exactly (the "&" included). For an unknown caption it shows "Programming
// Error" and gives 0.
int Find_Command_Button(UserInterface& ui, const std::string& caption);

// Whether a posting run takes kind `kind`: its check box is ticked.
bool kind_selected(const UserInterface& ui, int kind);

// Shows `text` in a message box titled "Tallimo" with an OK button and no icon.
void message(UserInterface& ui, const std::string& text);

// A user interface for runs without a display: status lines go to stdout,
// message boxes to stderr and take their default answer, and the controls are
// plain values that callers and tests may set. It starts as a window does after
// start-up: "All" ticked (so every kind box ticked and locked), every button
// enabled with its design caption, an empty comparison menu.
class ConsoleUserInterface : public UserInterface {
 public:
  explicit ConsoleUserInterface(bool quiet = false) : quiet_(quiet) {}

  void Display_Status_Message(const std::string& text) override;
  void Update_Status(const std::string& msg, long count, long total) override;
  MessageAnswer message_box(const std::string& text, MessageButtons buttons, MessageIcon icon,
                            const std::string& title) override;
  void do_events() override {}

  CheckState process_item_state(int kind) const override;
  void set_process_item_state(int kind, CheckState state) override;
  void set_process_item_enabled(int kind, bool enabled) override;
  bool process_item_enabled(int kind) const;
  CheckState process_items_all_state() const override { return all_state_; }
  void set_process_items_all_state(CheckState state) { all_state_ = state; }

  std::string command_button_caption(int index) const override;
  void set_command_button_caption(int index, const std::string& caption);
  bool command_button_enabled(int index) const override;
  void set_command_button_enabled(int index, bool enabled) override;

  bool comparison_menu_enabled() const override { return comparison_menu_; }
  void set_comparison_menu_enabled(bool enabled) override { comparison_menu_ = enabled; }
  void Mnu_Comparison_Click() override {}

  void refresh_grid() override {}
  void show_preferences() override {}
  void unload_main_window() override { unloaded_ = true; }
  bool unloaded() const { return unloaded_; }

 private:
  bool quiet_;
  CheckState item_states_[kKindCount] = {CheckState::kChecked, CheckState::kChecked, CheckState::kChecked,
                                         CheckState::kChecked, CheckState::kChecked, CheckState::kChecked};
  bool item_enabled_[kKindCount] = {false, false, false, false, false, false};
  CheckState all_state_ = CheckState::kChecked;
  std::string captions_[kCommandButtonCount] = {kCommandCaptions[0], kCommandCaptions[1], kCommandCaptions[2],
                                                kCommandCaptions[3], kCommandCaptions[4], kCommandCaptions[5]};
  bool button_enabled_[kCommandButtonCount] = {true, true, true, true, true, true};
  bool comparison_menu_ = false;
  bool unloaded_ = false;
};

}  // namespace tallimo
