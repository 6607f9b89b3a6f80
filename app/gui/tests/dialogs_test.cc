// Preferences (OK, Cancel, first start, browse), the About box (version and
// the three look-ups of the system-information tool), the locate flow for a
// missing products database, and the application folder.
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/gui/about_dialog.h"
#include "app/gui/main_window.h"
#include "app/gui/preferences_dialog.h"
#include "app/gui/scan_grid.h"
#include "app/gui/startup.h"
#include "gui_test_support.h"
#include "app/settings.h"

using namespace tallimo;
using namespace tallimo::gui;
using namespace tallimo::gui::testing;

namespace {

QSettings store() {
  return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Tallimo", "Tallimo");
}

void clear_store() {
  QSettings s(QSettings::NativeFormat, QSettings::UserScope, "Tallimo", "Tallimo");
  s.clear();
  s.sync();
}

std::string registry_dir() { return private_folder() + "/registry"; }

void write_machine_hive(const std::string& text) {
  std::ofstream(registry_dir() + "/HKEY_LOCAL_MACHINE.reg") << "REGEDIT4\n" << text;
}

// An executable that leaves a mark when it runs.
std::string make_tool(const std::string& path, const std::string& mark) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path) << "#!/bin/sh\ntouch '" << mark << "'\n";
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path;
}

std::string escaped(std::string s) {
  std::string out;
  for (char c : s) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return out;
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

  ConsoleUserInterface console_{true};
  std::unique_ptr<Session> session_;
  void reset_session(const std::string& folder) { session_ = std::make_unique<Session>(console_, folder); }

 private slots:
  void init() {
    reset_session(private_folder() + "/home");
    clear_store();
    std::filesystem::remove(registry_dir() + "/HKEY_LOCAL_MACHINE.reg");
  }

  void first_start_shows_the_defaults_and_ok_writes_all_six_keys() {
    Load_Settings(*session_);
    Frm_Preferences dialog(session_->settings());
    QVERIFY(dialog.baud_option(0)->isChecked());
    QCOMPARE(dialog.baud_option(0)->text(), QString("115200"));
    QVERIFY(dialog.port_option(0)->isChecked());
    QCOMPARE(dialog.port_option(0)->text(), QString("COM 1"));
    QCOMPARE(dialog.location_box()->text(), QString(kDefaultOrvexLocation));
    QVERIFY(!dialog.auto_min_box()->isChecked());
    QVERIFY(!dialog.auto_print_box()->isChecked());
    QCOMPARE(dialog.scanner_box()->count(), 4);
    QCOMPARE(dialog.scanner_box()->itemText(2), QString(kScannerWindowsMobile));
    QCOMPARE(dialog.scanner_box()->itemText(3), QString(kScannerPhone));
    QCOMPARE(dialog.scanner_box()->currentText(), QString(kScannerOrvexR50));

    // Through the menu item: the store is written after the dialog closes.
    Frm_Main window(*session_);
    with_dialogs([&] { window.Preferences_Click(); });
    auto s = store();
    for (const char* key : {"Baud_Rate", "Com_Port", "Orvex_Location", "Auto_Min", "Auto_Print", "Scanner"})
      QVERIFY2(s.contains(QString("Preferences/") + key), key);
    QCOMPARE(s.value("Preferences/Scanner").toString(), QString(kScannerOrvexR50));
    QCOMPARE(s.value("Preferences/Auto_Min").toString(), QString("0"));
  }

  void ok_takes_the_values() {
    Frm_Main window(*session_);
    with_dialogs([&] { window.Preferences_Click(); },
                 [](QDialog* d) {
                   auto* p = qobject_cast<Frm_Preferences*>(d);
                   p->baud_option(2)->setChecked(true);
                   p->port_option(6)->setChecked(true);
                   p->location_box()->setText("/srv/pos/products.mdb");
                   p->auto_min_box()->setChecked(true);
                   p->auto_print_box()->setChecked(true);
                   p->scanner_box()->setCurrentIndex(1);
                   p->button(0)->click();
                 });
    QCOMPARE(session_->settings().Baud_Rate, int16_t(2));
    QCOMPARE(session_->settings().Com_Port, int16_t(6));
    QCOMPARE(session_->settings().Orvex_Location, std::string("/srv/pos/products.mdb"));
    QVERIFY(session_->settings().Auto_Min && session_->settings().Auto_Print);
    QCOMPARE(session_->settings().Scanner, std::string(kScannerPalm));
    auto s = store();
    QCOMPARE(s.value("Preferences/Baud_Rate").toString(), QString("2"));
    QCOMPARE(s.value("Preferences/Com_Port").toString(), QString("6"));
    QCOMPARE(s.value("Preferences/Auto_Print").toString(), QString("1"));
    QCOMPARE(s.value("Preferences/Scanner").toString(), QString(kScannerPalm));
  }

  void cancel_leaves_values_and_store() {
    session_->settings().Com_Port = 3;
    session_->settings().Scanner = kScannerWindowsMobile;
    Save_Settings(*session_);
    Frm_Main window(*session_);
    with_dialogs([&] { window.Preferences_Click(); },
                 [](QDialog* d) {
                   auto* p = qobject_cast<Frm_Preferences*>(d);
                   p->port_option(0)->setChecked(true);
                   p->location_box()->setText("/elsewhere.mdb");
                   p->scanner_box()->setCurrentIndex(0);
                   p->button(1)->click();
                 });
    QCOMPARE(session_->settings().Com_Port, int16_t(3));
    QCOMPARE(session_->settings().Scanner, std::string(kScannerWindowsMobile));
    QCOMPARE(session_->settings().Orvex_Location, std::string(kDefaultOrvexLocation));
    auto s = store();
    QCOMPARE(s.value("Preferences/Com_Port").toString(), QString("3"));
    QCOMPARE(s.value("Preferences/Orvex_Location").toString(), QString(kDefaultOrvexLocation));
  }

  void an_unknown_scanner_kind_leaves_the_box_unchanged() {
    Settings settings;
    settings.Scanner = "Scanner of the future";
    Frm_Preferences dialog(settings);
    QCOMPARE(dialog.scanner_box()->currentText(), QString(kScannerOrvexR50));
    settings.Scanner.clear();
    Frm_Preferences empty(settings);
    QCOMPARE(empty.scanner_box()->currentText(), QString(kScannerOrvexR50));
  }

  void browse_puts_the_chosen_file_in_the_box() {
    const std::string file = private_folder() + "/browse/Shop Products.MDB";
    std::filesystem::create_directories(private_folder() + "/browse");
    std::ofstream(file) << "x";
    Settings settings;
    Frm_Preferences dialog(settings);
    QString title, filter;
    auto seen = with_dialogs([&] { dialog.button(2)->click(); },
                             [&](QDialog* d) {
                               auto* files = qobject_cast<QFileDialog*>(d);
                               title = files->windowTitle();
                               filter = files->nameFilters().join(";");
                               files->selectFile(QString::fromStdString(file));
                               QMetaObject::invokeMethod(files, "accept");
                             });
    QCOMPARE(title, QString("Select TallimoData File Location"));
    QVERIFY2(filter.contains("*.mdb") && filter.contains("*.MDB"), qPrintable(filter));
    QCOMPARE(dialog.location_box()->text(), QString::fromStdString(file));
    // Cancelling the file dialog changes nothing.
    with_dialogs([&] { dialog.button(2)->click(); }, [](QDialog* d) { d->reject(); });
    QCOMPARE(dialog.location_box()->text(), QString::fromStdString(file));
  }

  void about_shows_the_build_version() {
    frm_About about;
    QCOMPARE(about.windowTitle(), QString("Tallimo"));
    QCOMPARE(about.version_label()->text(), QString("Version %1").arg(TALLIMO_TEST_VERSION));
    QCOMPARE(version_text(), QString("Version %1").arg(TALLIMO_TEST_VERSION));
  }

  void sysinfo_from_the_first_key() {
    const std::string mark = private_folder() + "/first.ran";
    const std::string tool = make_tool(private_folder() + "/tools1/sysinfo", mark);
    write_machine_hive("[SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\n\"PATH\"=\"" + escaped(tool) + "\"\n");
    frm_About about;
    std::string started;
    QCOMPARE(with_dialogs([&] { started = about.StartSysInfo(); }).size(), size_t(0));
    QCOMPARE(started, tool);
    QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(mark), 5000);
  }

  void sysinfo_from_the_second_keys_folder() {
    const std::string mark = private_folder() + "/second.ran";
    const std::string folder = private_folder() + "/tools2";
    make_tool(folder + "/MSINFO32.EXE", mark);
    write_machine_hive("[SOFTWARE\\Microsoft\\Shared Tools Location]\n\"MSINFO\"=\"" + escaped(folder) + "\"\n");
    frm_About about;
    std::string started;
    QCOMPARE(with_dialogs([&] { started = about.StartSysInfo(); }).size(), size_t(0));
    QCOMPARE(started, folder + "/MSINFO32.EXE");
    QTRY_VERIFY_WITH_TIMEOUT(std::filesystem::exists(mark), 5000);
  }

  void sysinfo_unavailable_without_keys_or_tool() {
    frm_About about;
    // Neither key.
    auto seen = with_dialogs([&] { QCOMPARE(about.StartSysInfo(), std::string()); });
    QCOMPARE(seen.size(), size_t(1));
    QCOMPARE(seen[0].text, QString("System Information Is Unavailable At This Time"));
    QCOMPARE(seen[0].title, QString("Tallimo"));
    // The second key names a folder without the tool.
    write_machine_hive("[SOFTWARE\\Microsoft\\Shared Tools Location]\n\"MSINFO\"=\"" +
                       escaped(private_folder() + "/empty") + "\"\n");
    seen = with_dialogs([&] { QCOMPARE(about.StartSysInfo(), std::string()); });
    QCOMPARE(seen.size(), size_t(1));
    QCOMPARE(seen[0].text, QString("System Information Is Unavailable At This Time"));
    // A damaged hive file reads as no key.
    write_machine_hive("[unterminated\n\"x\"=what\n");
    seen = with_dialogs([&] { QCOMPARE(about.StartSysInfo(), std::string()); });
    QCOMPARE(seen.size(), size_t(1));
  }

  void get_key_value_reads_text_and_numbers() {
    write_machine_hive("[SOFTWARE\\Test]\n\"Text\"=\"hello\"\n\"Number\"=dword:0000ff10\n");
    registry::Store s(registry_dir());
    std::string v = "old";
    QVERIFY(GetKeyValue(s, registry::Hive::kLocalMachine, "SOFTWARE\\Test", "Text", v));
    QCOMPARE(v, std::string("hello"));
    QVERIFY(GetKeyValue(s, registry::Hive::kLocalMachine, "SOFTWARE\\Test", "Number", v));
    QCOMPARE(v, std::string("65296"));
    QVERIFY(!GetKeyValue(s, registry::Hive::kLocalMachine, "SOFTWARE\\Test", "Missing", v));
    QCOMPARE(v, std::string());
    v = "old";
    QVERIFY(!GetKeyValue(s, registry::Hive::kLocalMachine, "SOFTWARE\\Nothing", "Text", v));
    QCOMPARE(v, std::string());
  }

  void locate_a_missing_products_database() {
    Shop shop({product("A", 5)}, {scan(0, "A", 2)});
    reset_session(shop.folder());
    session_->settings().Orvex_Location = private_folder() + "/no/such/products.mdb";
    Save_Settings(*session_);
    Frm_Main window(*session_);
    window.Form_Load();
    window.command_button(4)->click();
    std::vector<SeenDialog> seen = with_dialogs([&] { window.command_button(2)->click(); },
                                                [&](QDialog* d) {
                                                  if (auto* p = qobject_cast<Frm_Preferences*>(d)) {
                                                    p->location_box()->setText(
                                                        QString::fromStdString(shop.products_path()));
                                                    p->button(0)->click();
                                                  } else {
                                                    close_dialog(d);
                                                  }
                                                });
    QVERIFY(seen.size() >= 2);
    QCOMPARE(seen[0].text, QString("Unable to locate the Tallimofiles.\r\n\r\nPlease locate it for me."));
    QCOMPARE(seen[1].title, QString("Preferences"));
    // The run went on with the chosen file and the choice was saved.
    QCOMPARE(window.status_label()->text(), QString("Processing - Complete"));
    QCOMPARE(window.grid_model()->rowCount(), 0);
    QCOMPARE(store().value("Preferences/Orvex_Location").toString(), QString::fromStdString(shop.products_path()));
    QVERIFY(!window.program_ended());
  }

  void locate_cancelled_ends_the_program() {
    Shop shop({product("A", 5)}, {scan(0, "A", 2)});
    reset_session(shop.folder());
    session_->settings().Orvex_Location = private_folder() + "/no/such/products.mdb";
    Save_Settings(*session_);
    Frm_Main window(*session_);
    window.Form_Load();
    window.show();
    window.command_button(4)->click();
    auto seen = with_dialogs([&] { window.command_button(2)->click(); });
    QCOMPARE(seen.size(), size_t(3));
    QCOMPARE(seen[1].title, QString("Preferences"));
    QCOMPARE(seen[2].text, QString("Program is incorrectly configured. Please contact technical support for help."));
    QVERIFY(window.program_ended());
    QVERIFY(!window.isVisible());
    // Nothing was posted.
    QCOMPARE(export_lines(shop.scanner_path(), "Scanner_Data").size(), size_t(2));
  }

  void application_folder_rules() {
    QCOMPARE(data_folder_for("/opt/tallimo", true, "/home/u/.data", "/home/u"), std::string("/opt/tallimo/"));
    QCOMPARE(data_folder_for("/usr/bin/", false, "/home/u/.data", "/home/u"), std::string("/home/u/.data/Tallimo/"));
    QCOMPARE(data_folder_for("/usr/bin/", false, "", "/home/u"), std::string("/home/u/.local/share/Tallimo/"));
    QCOMPARE(data_folder_for("/usr/bin/", false, "relative/dir", "/home/u"),
             std::string("/home/u/.local/share/Tallimo/"));
  }
};

int main(int argc, char** argv) {
  isolate_environment();
  QApplication app(argc, argv);
  DialogsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "dialogs_test.moc"
