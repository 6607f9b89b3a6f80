// The main window: start-up state, the command centre's dispatch and locking,
// the screen switch and window heights, the tray, auto-minimise and closing.
#include <QAction>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QCheckBox>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QSystemTrayIcon>
#include <memory>

#include "app/gui/main_window.h"
#include "app/gui/scan_grid.h"
#include "app/gui/twips.h"
#include "app/phone/gui/phone_window.h"
#include "app/phone/phone_server.h"
#include "gui_test_support.h"
#include "app/settings.h"

using namespace tallimo;
using namespace tallimo::gui;
using namespace tallimo::gui::testing;

class MainWindowTest : public QObject {
  Q_OBJECT

  ConsoleUserInterface console_{true};
  Settings settings_;
  std::unique_ptr<Shop> shop_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<Frm_Main> window_;

  void open(const std::vector<demo::Scan>& scans = {scan(0, "A", 1), scan(2, "B", 2), scan(5, "C", 3)}) {
    shop_ = std::make_unique<Shop>(std::vector<demo::Product>{product("A", 5), product("B", 6), product("C", 7)},
                                   scans);
    settings_.Orvex_Location = shop_->products_path();
    store_settings(settings_);
    session_ = std::make_unique<Session>(console_, shop_->folder());
    window_ = std::make_unique<Frm_Main>(*session_);
    window_->Form_Load();
    window_->show();
  }
  void press(const char* caption) {
    const int index = Find_Command_Button(*window_, caption);
    QVERIFY2(window_->command_button_caption(index) == caption, caption);
    window_->command_button(index)->click();
  }

 private slots:
  void init() { settings_ = Settings{}; }
  void cleanup() {
    window_.reset();
    session_.reset();
    shop_.reset();
  }

  void twips_follow_the_screens_dpi() {
    QCOMPARE(twips_to_pixels(kStandardHeightTwips, 96), 227);
    QCOMPARE(twips_to_pixels(kDesignHeightTwips, 96), 582);
    QCOMPARE(twips_to_pixels(kDesignWidthTwips, 96), 691);
    QCOMPARE(twips_to_pixels(kStandardHeightTwips, 144), 340);
    QCOMPARE(twips_to_pixels(kDesignHeightTwips, 192), 1164);
  }

  void starts_on_the_standard_screen_with_everything_ticked() {
    open();
    QCOMPARE(window_->windowTitle(), QString("Tallimo"));
    QCOMPARE(window_->status_label()->text(), QString("Waiting User Command"));
    QVERIFY(window_->advanced_section()->isHidden());
    QCOMPARE(window_->height(), window_->standard_height());
    QCOMPARE(window_->width(), window_->design_width());
    // 3400 x 10365 twips on the test screen's 96 logical DPI.
    if (window_->logical_dpi() == 96.0) {
      QCOMPARE(window_->height(), 227);
      QCOMPARE(window_->width(), 691);
    }
    QVERIFY(!window_->action("Mnu_Comparison")->isEnabled());
    QVERIFY(window_->process_items_all_box()->isChecked());
    for (int k = 0; k < 6; ++k) {
      QVERIFY(window_->process_item_box(k)->isChecked());
      QVERIFY(!window_->process_item_box(k)->isEnabled());
      QCOMPARE(window_->process_item_box(k)->text(), QString(kFileTypeLabels[k]));
    }
    QVERIFY(window_->filter_all_box()->isChecked());
    QVERIFY(window_->filter_option(0)->isChecked());
    for (int i = 1; i <= 6; ++i) QVERIFY(!window_->filter_option(i)->isEnabled());
    // The grid is read when it comes on screen, once.
    QCOMPARE(window_->grid_model()->rowCount(), 0);
    for (int i = 0; i < 6; ++i) QCOMPARE(window_->command_button(i)->text(), QString(kCommandCaptions[i]));
    press("&Advanced");
    QCOMPARE(window_->grid_model()->rowCount(), 3);
  }

  void screen_switch_by_button_and_menu() {
    open();
    press("&Advanced");
    QVERIFY(!window_->advanced_section()->isHidden());
    QCOMPARE(window_->command_button(4)->text(), QString("Standard"));
    QCOMPARE(window_->action("Mnu_Show_Advance_Screen")->text(), QString("&Hide Advanced Screen"));
    QCOMPARE(window_->height(), window_->design_height());
    if (window_->logical_dpi() == 96.0) QCOMPARE(window_->height(), 582);
    QVERIFY(!window_->command_button(0)->isEnabled());
    QVERIFY(!window_->action("Mnu_Synchronize")->isVisible());
    for (const char* name : {"Mnu_Read_Scanner", "Mnu_Process_Post", "Mnu_Update_Inventory"})
      QVERIFY2(window_->action(name)->isEnabled(), name);

    // The user cannot change the size.
    window_->resize(300, 900);
    QCOMPARE(window_->height(), window_->design_height());
    QCOMPARE(window_->width(), window_->design_width());

    // The menu item forwards the button's current caption: back to standard.
    window_->action("Mnu_Show_Advance_Screen")->trigger();
    QVERIFY(window_->advanced_section()->isHidden());
    QCOMPARE(window_->command_button(4)->text(), QString("&Advanced"));
    QCOMPARE(window_->action("Mnu_Show_Advance_Screen")->text(), QString("&Show Advanced Screen"));
    QCOMPARE(window_->height(), window_->standard_height());
    QVERIFY(window_->command_button(0)->isEnabled());
    QVERIFY(window_->action("Mnu_Synchronize")->isVisible());
    QVERIFY(!window_->action("Mnu_Process_Post")->isEnabled());

    // And the menu item toggles the other way too.
    window_->action("Mnu_Show_Advance_Screen")->trigger();
    QVERIFY(!window_->advanced_section()->isHidden());
  }

  void a_command_locks_the_window_and_turns_exit_into_abort() {
    open();
    press("&Advanced");
    struct Seen {
      QString exit_caption;
      bool sync, screen, read, post, file_menu, help_menu, grid_editable;
      bool abort;
    } during{};
    auto seen = with_dialogs([&] { press("&Read Scanner"); },
                             [&](QDialog* d) {
                               during.exit_caption = window_->command_button(1)->text();
                               during.sync = window_->command_button(0)->isEnabled();
                               during.screen = window_->command_button(4)->isEnabled();
                               during.read = window_->command_button(3)->isEnabled();
                               during.post = window_->command_button(2)->isEnabled();
                               during.file_menu = window_->findChild<QMenu*>("File")->menuAction()->isEnabled();
                               during.help_menu = window_->findChild<QMenu*>("Help")->menuAction()->isEnabled();
                               during.grid_editable = !window_->grid_model()->read_only();
                               during.abort = window_->command_button(1)->isEnabled();
                               close_dialog(d);
                             });
    // The read's first box (the port's error or the scanner instructions) came
    // up while the command ran.
    QVERIFY(!seen.empty());
    QCOMPARE(during.exit_caption, QString("&Abort"));
    QVERIFY(during.abort);
    QVERIFY(!during.sync && !during.screen && !during.read && !during.post);
    QVERIFY(!during.file_menu && !during.help_menu);
    QVERIFY(!during.grid_editable);
    // Unlocked again: advanced screen, so "&Synchronize" stays disabled.
    QCOMPARE(window_->command_button(1)->text(), QString("E&xit"));
    QVERIFY(window_->command_button(2)->isEnabled());
    QVERIFY(window_->command_button(3)->isEnabled());
    QVERIFY(window_->command_button(4)->isEnabled());
    QVERIFY(!window_->command_button(0)->isEnabled());
    QVERIFY(window_->findChild<QMenu*>("File")->menuAction()->isEnabled());
    QVERIFY(!window_->grid_model()->read_only());
  }

  void an_unknown_scanner_kind_runs_nothing() {
    open();
    press("&Advanced");
    QCOMPARE(window_->grid_model()->rowCount(), 3);
    // An unknown kind does nothing at all.
    session_->settings().Scanner = "Some Other Scanner";
    QCOMPARE(with_dialogs([&] { press("&Read Scanner"); }).size(), size_t(0));
  }

  void unknown_caption_is_a_programming_error_and_runs_nothing() {
    open();
    auto seen = with_dialogs([&] { window_->Click_Command_Button("&Frobnicate"); });
    QCOMPARE(seen.size(), size_t(1));
    QCOMPARE(seen[0].text, QString("Programming Error"));
    QCOMPARE(seen[0].title, QString("Tallimo"));
    // Nothing was dispatched (button 0 would have said "not available").
    QCOMPARE(window_->status_label()->text(), QString("Waiting User Command"));
  }

  void palm_scanner_keeps_the_upload_button_disabled() {
    open();
    session_->settings().Scanner = kScannerPalm;
    press("&Advanced");
    QVERIFY(!window_->command_button(5)->isEnabled());
    with_dialogs([&] { press("&Process/Post"); });
    QVERIFY(!window_->command_button(5)->isEnabled());
    // Windows Mobile leaves the button as it was.
    session_->settings().Scanner = kScannerWindowsMobile;
    window_->command_button(5)->setEnabled(true);
    with_dialogs([&] { press("&Process/Post"); });
    QVERIFY(window_->command_button(5)->isEnabled());
  }

  void phone_scanner_read_opens_the_pairing_window_and_fills_the_grid() {
    open();
    session_->settings().Scanner = kScannerPhone;
    press("&Advanced");
    QVERIFY(!window_->command_button(5)->isEnabled());  // no list is sent to a phone
    const int rows_before = window_->grid_model()->rowCount();
    int windows = 0;
    with_dialogs([&] { press("&Read Scanner"); },
                 [&](QDialog* dialog) {
                   auto* phone_window = qobject_cast<phone::PhoneWindow*>(dialog);
                   if (phone_window == nullptr) return close_dialog(dialog);
                   ++windows;
                   QVERIFY(phone_window->server() != nullptr && phone_window->server()->listening());
                   // A phone pairs and scans while the window is open.
                   QNetworkAccessManager net;
                   auto send = [&](const QString& path, const QJsonObject& body, const QByteArray& token) {
                     QNetworkRequest request{QUrl(phone_window->server()->url() + path)};
                     request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
                     if (!token.isEmpty()) request.setRawHeader("Authorization", "Bearer " + token);
                     QNetworkReply* reply = net.post(request, QJsonDocument(body).toJson());
                     QEventLoop loop;
                     QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
                     loop.exec();
                     reply->deleteLater();
                     return QJsonDocument::fromJson(reply->readAll()).object();
                   };
                   const QByteArray token =
                       send("api/pair", {{"code", phone_window->server()->pairing_code()}, {"phone", "gui-phone-1"}}, {})
                           .value("token").toString().toLatin1();
                   send("api/scan", {{"id", "gui-phone-1:1"}, {"item", "NEW9"}, {"kind", 0}, {"qty", 4}}, token);
                   QCOMPARE(window_->grid_model()->rowCount(), rows_before + 1);
                   dialog->accept();
                 });
    QCOMPARE(windows, 1);
    QCOMPARE(window_->grid_model()->rowCount(), rows_before + 1);
  }

  void posting_from_the_menu_enables_the_comparison_menu() {
    open();
    press("&Advanced");
    auto seen = with_dialogs([&] { window_->action("Mnu_Process_Post")->trigger(); });
    QCOMPARE(window_->status_label()->text(), QString("Processing - Complete"));
    // Every record posted: no message, nothing left in the grid.
    QCOMPARE(seen.size(), size_t(0));
    QCOMPARE(window_->grid_model()->rowCount(), 0);
    QVERIFY(window_->action("Mnu_Comparison")->isEnabled());
  }

  void process_post_button_follows_the_kind_boxes() {
    open();
    press("&Advanced");
    window_->process_items_all_box()->click();
    for (int k = 0; k < 6; ++k) {
      QVERIFY(!window_->process_item_box(k)->isChecked());
      QVERIFY(window_->process_item_box(k)->isEnabled());
    }
    QVERIFY(!window_->command_button(2)->isEnabled());
    window_->process_item_box(2)->click();
    QVERIFY(window_->command_button(2)->isEnabled());
    // Only the ticked kind is posted; the rest stay for the grid.
    auto seen = with_dialogs([&] { press("&Process/Post"); });
    QCOMPARE(seen.size(), size_t(1));
    QVERIFY(seen[0].text.startsWith("Not all the Items Scanned were able to be processed. "));
    QCOMPARE(window_->grid_model()->rowCount(), 2);
  }

  void status_line_and_progress_bar() {
    open();
    window_->Update_Status("Building", 25, 200);
    QCOMPARE(window_->status_label()->text(), QString("Building"));
    QVERIFY(!window_->progress_bar()->isHidden());
    QCOMPARE(window_->progress_bar()->value(), 12);
    window_->Update_Status("Building", 200, 200);
    QCOMPARE(window_->progress_bar()->value(), 100);
    window_->Update_Status("Building", 5, 0);  // no total: the bar stays at 0
    QCOMPARE(window_->progress_bar()->value(), 0);
    window_->Update_Status("", 1, 2);
    QCOMPARE(window_->status_label()->text(), QString());
    QVERIFY(window_->progress_bar()->isHidden());
  }

  void auto_minimise_off_keeps_the_window() {
    open();
    QVERIFY(!window_->auto_minimise_timer()->isActive());
    QTest::qWait(3300);
    QVERIFY(!(window_->windowState() & Qt::WindowMinimized));
  }

  void auto_minimise_on_minimises_after_three_seconds() {
    settings_.Auto_Min = true;
    open();
    QVERIFY(window_->auto_minimise_timer()->isActive());
    QTRY_VERIFY_WITH_TIMEOUT(window_->windowState() & Qt::WindowMinimized, 10000);
    QVERIFY(!window_->auto_minimise_timer()->isActive());
  }

  void mouse_over_a_button_cancels_auto_minimise() {
    settings_.Auto_Min = true;
    open();
    QTest::qWait(500);
    QMouseEvent move(QEvent::MouseMove, QPointF(5, 5), QPointF(5, 5), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    // Elsewhere in the window the timer keeps running.
    QCoreApplication::sendEvent(window_->status_label(), &move);
    QVERIFY(window_->auto_minimise_timer()->isActive());
    QCoreApplication::sendEvent(window_->command_button(0), &move);
    QVERIFY(!window_->auto_minimise_timer()->isActive());
    QTest::qWait(3000);
    QVERIFY(!(window_->windowState() & Qt::WindowMinimized));
  }

  void tray_restores_and_its_menu_holds_restore_and_exit() {
    open();
    QCOMPARE(window_->tray_icon()->toolTip(), QString("Tallimo"));
    const auto items = window_->tray_menu()->actions();
    QCOMPARE(items.size(), 2);
    QCOMPARE(items[0]->text(), QString("&Restore"));
    QCOMPARE(items[1]->text(), QString("&Exit"));
    window_->action("Hide")->trigger();
    QVERIFY(window_->windowState() & Qt::WindowMinimized);
    window_->tray_activated(QSystemTrayIcon::Trigger);
    QVERIFY(!(window_->windowState() & Qt::WindowMinimized));
    window_->showMinimized();
    window_->tray_activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(!(window_->windowState() & Qt::WindowMinimized));
    window_->showMinimized();
    window_->tray_activated(QSystemTrayIcon::Context);  // the menu; the window stays as it is
    QVERIFY(window_->windowState() & Qt::WindowMinimized);
    items[0]->trigger();
    QVERIFY(!(window_->windowState() & Qt::WindowMinimized));
  }

  void closing_removes_the_tray_icon_and_ends_the_program() {
    open();
    window_->tray_icon()->show();
    window_->tray_menu()->actions()[1]->trigger();  // "&Exit"
    QVERIFY(!window_->tray_icon()->isVisible());
    QVERIFY(!window_->isVisible());
    QVERIFY(window_->program_ended());
  }

  void exit_button_closes_the_window() {
    open();
    press("E&xit");
    QVERIFY(!window_->isVisible());
  }
};

int main(int argc, char** argv) {
  isolate_environment();
  QApplication app(argc, argv);
  MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
