#include "app/user_interface.h"

#include <cstdio>

namespace tallimo {
namespace {
bool valid_kind(int kind) { return kind >= 0 && kind < kKindCount; }
bool valid_button(int index) { return index >= 0 && index < kCommandButtonCount; }
}  // namespace

std::string file_type_label(int kind) { return valid_kind(kind) ? kFileTypeLabels[kind] : std::string(); }

int Find_Command_Button(UserInterface& ui, const std::string& caption) {
  for (int i = 0; i < kCommandButtonCount; ++i) {
    if (ui.command_button_caption(i) == caption) return i;
  }
  message(ui, "Programming Error");
  return 0;
}

bool kind_selected(const UserInterface& ui, int kind) {
  return valid_kind(kind) && ui.process_item_state(kind) == CheckState::kChecked;
}

void message(UserInterface& ui, const std::string& text) {
  ui.message_box(text, MessageButtons::kOk, MessageIcon::kNone, "Tallimo");
}

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

CheckState ConsoleUserInterface::process_item_state(int kind) const {
  return valid_kind(kind) ? item_states_[kind] : CheckState::kUnchecked;
}
void ConsoleUserInterface::set_process_item_state(int kind, CheckState state) {
  if (valid_kind(kind)) item_states_[kind] = state;
}
void ConsoleUserInterface::set_process_item_enabled(int kind, bool enabled) {
  if (valid_kind(kind)) item_enabled_[kind] = enabled;
}
bool ConsoleUserInterface::process_item_enabled(int kind) const { return valid_kind(kind) && item_enabled_[kind]; }

std::string ConsoleUserInterface::command_button_caption(int index) const {
  return valid_button(index) ? captions_[index] : std::string();
}
void ConsoleUserInterface::set_command_button_caption(int index, const std::string& caption) {
  if (valid_button(index)) captions_[index] = caption;
}
bool ConsoleUserInterface::command_button_enabled(int index) const {
  return valid_button(index) && button_enabled_[index];
}
void ConsoleUserInterface::set_command_button_enabled(int index, bool enabled) {
  if (valid_button(index)) button_enabled_[index] = enabled;
}

}  // namespace tallimo
