// tallimo: the desktop program. Loads the settings, then creates, loads and
// shows the main window; the program runs as long as the window exists.
#include <QApplication>

#include "gui/main_window.h"
#include "gui/startup.h"
#include "settings.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tallimo");
  QApplication::setDesktopFileName("tallimo");
  tallimo::gui::choose_application_folder();
  tallimo::Load_Settings();
  tallimo::gui::Frm_Main window;
  window.Form_Load();
  if (window.program_ended()) return 0;
  window.show();
  return app.exec();
}
