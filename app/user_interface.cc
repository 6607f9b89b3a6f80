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

std::string UserInterface::process_item_caption(int kind) const {
  return kind >= 0 && kind < 6 ? kFileTypeLabels[kind] : std::string();
}

int UserInterface::Find_Command_Button(const std::string& caption) {
  for (int i = 0; i < 6; ++i) {
    if (caption == kCommandCaptions[i]) return i;
  }
  message_box("Programming Error");
  return 0;
}

namespace {
bool valid_kind(int kind) { return kind >= 0 && kind < 6; }
}  // namespace

int ConsoleUserInterface::process_item_value(int kind) const { return valid_kind(kind) ? item_values_[kind] : 0; }
void ConsoleUserInterface::set_process_item_value(int kind, int value) {
  if (valid_kind(kind)) item_values_[kind] = value;
}
void ConsoleUserInterface::set_process_item_enabled(int kind, bool enabled) {
  if (valid_kind(kind)) item_enabled_[kind] = enabled;
}
bool ConsoleUserInterface::process_item_enabled(int kind) const { return valid_kind(kind) && item_enabled_[kind]; }
bool ConsoleUserInterface::command_button_enabled(int index) const {
  return valid_kind(index) && button_enabled_[index];
}
void ConsoleUserInterface::set_command_button_enabled(int index, bool enabled) {
  if (valid_kind(index)) button_enabled_[index] = enabled;
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
