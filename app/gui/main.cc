// tallimo: the desktop program. Loads the settings, then creates, loads and
// shows the main window; the program runs as long as the window exists.
//
//   tallimo [--home DIR] [--products FILE]
//
// --home: the application folder (POS_Scanner.MDB, ErrorLog.txt, the
// manual); default $TALLIMO_HOME, else the program's folder when it is
// writable, else $XDG_DATA_HOME/Tallimo. --products: the products database
// for this session instead of the "Orvex_Location" setting (stored only if
// the user saves the Preferences).
#include <QApplication>
#include <QCommandLineParser>

#include "app/gui/main_window.h"
#include "app/gui/startup.h"
#include "app/handheld/gui/frm_vex_forms.h"
#include "app/session.h"
#include "app/settings.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Tallimo");
  QApplication::setDesktopFileName("tallimo");
  QCommandLineParser options;
  options.setApplicationDescription("Tallimo: handheld scanner counts posted into the point-of-sale products database");
  options.addHelpOption();
  options.addOption({"home", "The application folder.", "DIR"});
  options.addOption({"products", "The products database for this session.", "FILE"});
  options.process(app);

  // Until the window exists, messages go to the terminal.
  tallimo::ConsoleUserInterface console;
  const std::string home = options.isSet("home") ? options.value("home").toStdString()
                                                 : tallimo::gui::choose_application_folder();
  tallimo::Session session(console, home);
  // The Palm transfer shows its window (headless runs use an event loop instead).
  tallimo::handheld::install_palm_window();
  tallimo::Load_Settings(session);
  tallimo::gui::Frm_Main window(session);
  window.Form_Load();
  if (options.isSet("products")) session.settings().Orvex_Location = options.value("products").toStdString();
  if (session.program_ended()) return 0;
  window.show();
  return app.exec();
}
