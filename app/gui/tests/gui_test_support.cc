#include "gui_test_support.h"

#include <stdlib.h>

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <filesystem>

#include "app/data/products_database.h"
#include "jet/dao.h"
#include "app/settings.h"

namespace tallimo::gui::testing {
namespace {

std::string& private_root() {
  static std::string root;
  return root;
}

std::string shell_quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace

void isolate_environment() {
  char pattern[] = "/tmp/tallimo-gui-test-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (made == nullptr) std::abort();
  private_root() = made;
  for (const char* sub : {"config", "registry", "home", "data"}) std::filesystem::create_directories(private_root() + "/" + sub);
  ::setenv("XDG_CONFIG_HOME", (private_root() + "/config").c_str(), 1);
  ::setenv("XDG_DATA_HOME", (private_root() + "/data").c_str(), 1);
  ::setenv("TALLIMO_REGISTRY_DIR", (private_root() + "/registry").c_str(), 1);
  ::setenv("TALLIMO_HOME", (private_root() + "/home").c_str(), 1);
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
}

const std::string& private_folder() { return private_root(); }

Shop::Shop(const std::vector<demo::Product>& products, const std::vector<demo::Scan>& scans) {
  static int counter = 0;
  folder_ = private_root() + "/shop" + std::to_string(++counter);
  std::filesystem::create_directories(folder_);
  {
    auto db = demo::create_products_database(products_path());
    demo::add_products(*db, products);
    db->close();
  }
  {
    auto db = demo::create_scanner_database(scanner_path());
    demo::add_scans(*db, scans);
    db->close();
  }
}

void store_settings(const Settings& settings) {
  QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Tallimo", "Tallimo");
  Save_Settings(settings, store);
}

Shop::~Shop() {
  std::error_code ec;
  std::filesystem::remove_all(folder_, ec);
}

std::string Shop::scanner_path() const { return folder_ + "/POS_Scanner.MDB"; }
std::string Shop::products_path() const { return folder_ + "/products.mdb"; }

demo::Scan scan(int16_t kind, const std::string& item, double qty, const std::string& note) {
  demo::Scan s;
  s.file_type = kind;
  s.item = item;
  s.qty = qty;
  s.description = "Scanned " + item;
  s.vendor = "V-" + item;
  s.standard_price = 2.5;
  s.current_cost = 1.25;
  s.location = "L" + std::to_string(kind);
  s.list_price = 3.0;
  (void)note;
  return s;
}

demo::Product product(const std::string& code, double stock) {
  demo::Product p;
  p.code = code;
  p.description_one = "Product " + code;
  p.inventory = stock;
  p.standard_price = 2.0;
  p.current_cost = 1.0;
  p.list_price = 2.5;
  p.vendor = "ACME";
  p.location = "A1";
  return p;
}

std::vector<std::string> export_lines(const std::string& path, const std::string& table,
                                      const std::string& password) {
  std::string command = "mdb-export -D '%m/%d/%Y %H:%M:%S' ";
  (void)password;
  command += shell_quote(path) + " " + shell_quote(table) + " 2>&1";
  std::vector<std::string> lines;
  FILE* p = ::popen(command.c_str(), "r");
  if (p == nullptr) return lines;
  std::string line;
  char buf[4096];
  while (std::fgets(buf, sizeof buf, p) != nullptr) {
    line += buf;
    if (!line.empty() && line.back() == '\n') {
      line.pop_back();
      lines.push_back(line);
      line.clear();
    }
  }
  if (!line.empty()) lines.push_back(line);
  ::pclose(p);
  return lines;
}

void close_dialog(QDialog* dialog) {
  if (auto* box = qobject_cast<QMessageBox*>(dialog)) {
    QAbstractButton* button = box->defaultButton() != nullptr ? box->defaultButton() : box->escapeButton();
    if (button == nullptr && !box->buttons().isEmpty()) button = box->buttons().front();
    if (button != nullptr) {
      button->click();
      return;
    }
  }
  dialog->reject();
}

std::vector<SeenDialog> with_dialogs(const std::function<void()>& step, const std::function<void(QDialog*)>& answer) {
  std::vector<SeenDialog> seen;
  QDialog* handled = nullptr;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || dialog == handled || !dialog->isVisible()) return;
    handled = dialog;
    SeenDialog d{dialog->metaObject()->className(), dialog->windowTitle(), {}};
    if (auto* box = qobject_cast<QMessageBox*>(dialog)) d.text = box->text();
    seen.push_back(d);
    if (answer) {
      answer(dialog);
    } else {
      close_dialog(dialog);
    }
    // A dialog the answer left open is closed so the test cannot hang.
    QTimer::singleShot(10000, dialog, [dialog] {
      if (dialog->isVisible()) {
        QTest::qFail("a dialog stayed open", __FILE__, __LINE__);
        dialog->reject();
      }
    });
    handled = dialog->isVisible() ? dialog : nullptr;
  });
  poll.start();
  step();
  poll.stop();
  return seen;
}

}  // namespace tallimo::gui::testing
