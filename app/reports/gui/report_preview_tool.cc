// report-preview: the comparison report options dialog on a shop, without the
// rest of the desktop program, for trying out layouts.
//
//   report-preview --home DIR [--products FILE] [--preview N] [--screenshot FILE]
//
// --preview N presses "&Preview" of report N (0 comparison, 1 not in
// inventory, 2 not scanned) at once. --screenshot FILE saves the screen as
// PNG once the preview shows its first page, then closes the window.
#include <QApplication>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <string>

#include "app/data/scanner_database.h"
#include "app/reports/gui/report_preview.h"
#include "app/session.h"
#include "app/settings.h"
#include "app/user_interface.h"

namespace {

void when_preview_ready(const std::string& screenshot, int tries = 300) {
  QTimer::singleShot(50, [screenshot, tries] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* preview = qobject_cast<tallimo::reports::frm_Preview_Report*>(w);
      if (preview && preview->isVisible() && preview->document()) {
        QTimer::singleShot(700, [preview, screenshot] {
          QGuiApplication::primaryScreen()->grabWindow(0).save(QString::fromStdString(screenshot), "PNG");
          preview->Exit_Click();
          QTimer::singleShot(100, [] { QApplication::closeAllWindows(); });
        });
        return;
      }
    }
    if (tries > 0) when_preview_ready(screenshot, tries - 1);
  });
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::string home, products, screenshot;
  int preview = -1;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string a = argv[i];
    if (a == "--home") home = argv[i + 1];
    else if (a == "--products") products = argv[i + 1];
    else if (a == "--preview") preview = std::atoi(argv[i + 1]);
    else if (a == "--screenshot") screenshot = argv[i + 1];
    else {
      std::fprintf(stderr, "usage: report-preview --home DIR [--products FILE] [--preview N] [--screenshot FILE]\n");
      return 2;
    }
  }
  tallimo::ConsoleUserInterface ui;
  tallimo::Session session(ui, home);
  tallimo::Load_Settings(session);
  if (!products.empty()) session.settings().Orvex_Location = products;
  if (!tallimo::Open_Scanner_Data_File(session)) return 1;
  tallimo::reports::Frm_Report_Options dialog(session);
  dialog.show();
  if (!screenshot.empty()) when_preview_ready(screenshot);
  if (preview >= 0 && preview <= 2) {
    QTimer::singleShot(200, [&] {
      dialog.Btn_Preview_Click(preview);
      if (!screenshot.empty()) dialog.close();
    });
  }
  dialog.exec();
  tallimo::Close_Scanner_Data_File(session);
  return 0;
}
