// Screenshots of the windows on a real X server (Xvfb): both screens of the
// main window, the record editor, Preferences, the About box and the
// Posting History window. Each is
// saved as a PNG (they illustrate the manual) and checked: the size the
// window has on screen, and a picture that is not blank.
#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QWindow>
#include <memory>

#include "app/gui/about_dialog.h"
#include "app/gui/history_window.h"
#include "app/gui/main_window.h"
#include "app/gui/preferences_dialog.h"
#include "app/gui/record_editor.h"
#include "app/gui/scan_grid.h"
#include "gui_test_support.h"
#include "app/settings.h"

using namespace tallimo;
using namespace tallimo::gui;
using namespace tallimo::gui::testing;

namespace {

QString out_dir;

// Grabs the window's area from the screen, as the user sees it.
QImage shoot(QWidget* window, const QString& name) {
  window->raise();
  window->activateWindow();
  QTest::qWait(300);
  QScreen* screen = window->screen();
  const QRect frame = window->frameGeometry();
  QImage image = screen->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).toImage();
  image.save(out_dir + "/" + name + ".png");
  return image;
}

// A picture shows something when it has many colours and no colour covers
// nearly all of it.
void check_not_blank(const QImage& image, const char* name) {
  QVERIFY2(!image.isNull(), name);
  QHash<QRgb, int> counts;
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < rgb.height(); y += 2)
    for (int x = 0; x < rgb.width(); x += 2) ++counts[rgb.pixel(x, y)];
  int top = 0, total = 0;
  for (int n : counts) {
    top = std::max(top, n);
    total += n;
  }
  QVERIFY2(counts.size() >= 8, name);
  QVERIFY2(top < total * 0.97, name);
}

}  // namespace

class ScreenshotTest : public QObject {
  Q_OBJECT

  ConsoleUserInterface console_{true};
  std::unique_ptr<Shop> shop_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<Frm_Main> window_;

 private slots:
  void initTestCase() {
    QVERIFY2(QGuiApplication::platformName() == "xcb", "runs on an X server (xvfb-run)");
    QDir().mkpath(out_dir);
    std::vector<demo::Scan> scans;
    const char* items[] = {"4006381333931", "5000112637922", "7613035974685", "8710398501120", "0012345678905",
                           "4012345678901", "9780201633610", "5449000000996"};
    int i = 0;
    for (const char* item : items) {
      scans.push_back(scan(static_cast<int16_t>(i % 6), item, 1 + i * 3));
      ++i;
    }
    for (auto& s : scans) s.description = "Item " + *s.item;
    shop_ = std::make_unique<Shop>(std::vector<demo::Product>{product("4006381333931", 12)}, scans);
    Settings settings;
    settings.Orvex_Location = shop_->products_path();
    store_settings(settings);
    session_ = std::make_unique<Session>(console_, shop_->folder());
    window_ = std::make_unique<Frm_Main>(*session_);
    window_->Form_Load();
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  }
  void cleanupTestCase() {
    window_.reset();
    session_.reset();
    shop_.reset();
  }

  void standard_screen() {
    const QImage image = shoot(window_.get(), "main-standard");
    check_not_blank(image, "main-standard");
    QCOMPARE(window_->height(), window_->standard_height());
    QVERIFY(image.height() >= window_->standard_height());
    QVERIFY(image.width() >= window_->design_width());
  }

  void advanced_screen() {
    window_->command_button(4)->click();
    window_->filter_all_box()->click();
    window_->filter_option(0)->click();
    QTest::qWait(200);
    const QImage image = shoot(window_.get(), "main-advanced");
    check_not_blank(image, "main-advanced");
    QCOMPARE(window_->height(), window_->design_height());
    QVERIFY(image.height() >= window_->design_height());
  }

  void editor() {
    window_->filter_option(6)->click();
    window_->grid()->setCurrentIndex(window_->grid_model()->index(0, 1));
    QImage image;
    with_dialogs([&] { window_->TDBGrid1_DblClick(); },
                 [&](QDialog* d) {
                   QVERIFY(QTest::qWaitForWindowExposed(d));
                   image = shoot(d, "editor");
                   qobject_cast<Frm_Editor*>(d)->cancel_button()->click();
                 });
    check_not_blank(image, "editor");
    QVERIFY(image.width() > 250 && image.height() > 200);
  }

  void preferences() {
    QImage image;
    with_dialogs([&] { window_->Preferences_Click(); },
                 [&](QDialog* d) {
                   QVERIFY(QTest::qWaitForWindowExposed(d));
                   image = shoot(d, "preferences");
                   d->reject();
                 });
    check_not_blank(image, "preferences");
    QVERIFY(image.width() > 300 && image.height() > 200);
  }

  void about() {
    QImage image;
    with_dialogs([&] { window_->About_Click(); },
                 [&](QDialog* d) {
                   QVERIFY(QTest::qWaitForWindowExposed(d));
                   image = shoot(d, "about");
                   d->accept();
                 });
    check_not_blank(image, "about");
    QVERIFY(image.width() > 200 && image.height() > 100);
  }

  // Last: it posts the shop's records.
  void posting_history() {
    with_dialogs([&] { window_->run_process_post(); });
    QImage image;
    with_dialogs([&] { window_->Mnu_Posting_History_Click(); },
                 [&](QDialog* d) {
                   if (qobject_cast<Frm_Posting_History*>(d) == nullptr) return close_dialog(d);
                   QVERIFY(QTest::qWaitForWindowExposed(d));
                   image = shoot(d, "history");
                   d->accept();
                 });
    check_not_blank(image, "history");
    QVERIFY(image.width() > 600 && image.height() > 400);
  }
};

int main(int argc, char** argv) {
  out_dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("screenshots");
  isolate_environment();
  ::setenv("QT_QPA_PLATFORM", "xcb", 1);
  QApplication app(argc, argv);
  ScreenshotTest test;
  return QTest::qExec(&test, 1, argv);
}

#include "screenshot_test.moc"
