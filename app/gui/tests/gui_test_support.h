// Test support for the window tests: a private settings store, registry and
// application folder per test program, a shop made with our engine, and a
// way to answer the modal dialogs a step opens.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/data/demo_shop.h"
#include "app/settings.h"

namespace tallimo::gui::testing {

// Points the settings store (XDG_CONFIG_HOME), the registry store and the
// application folder at a fresh temporary folder. Call before QApplication.
void isolate_environment();
// The temporary folder of isolate_environment().
const std::string& private_folder();

// Writes `settings` to the settings store, where the window's load reads them.
void store_settings(const Settings& settings);

// A shop in a fresh folder below the private one, holding POS_Scanner.MDB
// (the scans) and products.mdb (the products).
class Shop {
 public:
  Shop(const std::vector<demo::Product>& products, const std::vector<demo::Scan>& scans);
  ~Shop();
  const std::string& folder() const { return folder_; }
  std::string scanner_path() const;
  std::string products_path() const;

 private:
  std::string folder_;
};

demo::Scan scan(int16_t kind, const std::string& item, double qty, const std::string& note = "");
demo::Product product(const std::string& code, double stock);

// Rows of a table as the independent reader mdb-export prints them (a
// header line, then one CSV line per row).
std::vector<std::string> export_lines(const std::string& path, const std::string& table,
                                      const std::string& password = "");

// Runs `answer` on each modal dialog that opens while `step` runs (the
// dialog's class name tells them apart); the step's modal loops return when
// `answer` closes the dialog. Fails the test when a dialog stays open for
// 10 s. Returns the window titles and texts of the dialogs seen.
struct SeenDialog {
  QString class_name;
  QString title;
  QString text;  // a message box's text
};
std::vector<SeenDialog> with_dialogs(const std::function<void()>& step,
                                     const std::function<void(QDialog*)>& answer = {});

// Presses the default (or, for a message box, the escape) button.
void close_dialog(QDialog* dialog);

}  // namespace tallimo::gui::testing
