// A Windows Mobile read in a process of its own, for the kill test:
//   handheld_sync_child SHOP_FOLDER DEVICE_FOLDER
// Exit 0 when the transfer ran to its end without a message or a reported error.
#include <cstdio>

#include "app/data/scanner_database.h"
#include "app/handheld/forms_control.h"
#include "app/handheld/handheld_runs.h"
#include "app/session.h"
#include "app/user_interface.h"

namespace {

class CountingUi : public tallimo::ConsoleUserInterface {
 public:
  CountingUi() : ConsoleUserInterface(/*quiet=*/true) {}
  tallimo::MessageAnswer message_box(const std::string& text, tallimo::MessageButtons, tallimo::MessageIcon,
                                     const std::string&) override {
    std::fprintf(stderr, "%s\n", text.c_str());
    ++boxes;
    return tallimo::MessageAnswer::kOk;
  }
  int boxes = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  CountingUi ui;
  tallimo::Session session(ui, argv[1]);
  if (!tallimo::Open_Scanner_Data_File(session)) return 1;
  tallimo::handheld::VexFormsControl control;
  control.set_device_folder(argv[2]);
  bool full = false;
  tallimo::handheld::Synchronize_Windows_Mobile(session, full, &control);
  tallimo::Close_Scanner_Data_File(session);
  return ui.boxes == 0 ? 0 : 1;
}
