// tallimo: the desktop program. Loads the settings, then creates, loads and
// shows the main window; the program runs as long as the window exists.
#include <QApplication>

#include "app/gui/main_window.h"
#include "app/gui/startup.h"
#include "app/session.h"
#include "app/settings.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tallimo");
  QApplication::setDesktopFileName("tallimo");
  // Until the window exists, messages go to the terminal.
  tallimo::ConsoleUserInterface console;
  tallimo::Session session(console, tallimo::gui::choose_application_folder());
  tallimo::Load_Settings(session);
  tallimo::gui::Frm_Main window(session);
  window.Form_Load();
  if (session.program_ended()) return 0;
  window.show();
  return app.exec();
}
