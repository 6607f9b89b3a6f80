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
};

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

 private:
  bool quiet_;
  bool abort_ = false;
};

// The program's one user interface: the main window once it exists, a
// console interface before that and in headless runs. Tests install fakes.
UserInterface& App_UI();
// Installs `ui` (not owned; nullptr returns to the console interface).
void set_app_ui(UserInterface* ui);

}  // namespace tallimo
