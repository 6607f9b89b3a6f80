#include "user_interface.h"

#include <cstdio>

namespace tallimo {

void ConsoleUserInterface::Display_Status_Message(const std::string& text) {
  if (!quiet_) std::fprintf(stdout, "%s\n", text.c_str());
}

void ConsoleUserInterface::Update_Status(const std::string& msg, long, long) {
  if (!msg.empty()) Display_Status_Message(msg);
}

MessageAnswer ConsoleUserInterface::message_box(const std::string& text, MessageButtons buttons, MessageIcon,
                                                const std::string& title) {
  std::fprintf(stderr, "[%s] %s\n", title.c_str(), text.c_str());
  switch (buttons) {
    case MessageButtons::kOk:
    case MessageButtons::kOkCancel:
      return MessageAnswer::kOk;
    case MessageButtons::kYesNo:
    case MessageButtons::kYesNoCancel:
      return MessageAnswer::kYes;
    case MessageButtons::kRetryCancel:
      return MessageAnswer::kRetry;
  }
  return MessageAnswer::kOk;
}

namespace {
UserInterface*& installed_ui() {
  static UserInterface* ui = nullptr;
  return ui;
}
}  // namespace

UserInterface& App_UI() {
  static ConsoleUserInterface console;
  UserInterface* ui = installed_ui();
  return ui != nullptr ? *ui : console;
}

void set_app_ui(UserInterface* ui) { installed_ui() = ui; }

}  // namespace tallimo
