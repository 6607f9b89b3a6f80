// Grid and window-posting benchmark. A shop with a 100,000-row Scanner_Data
// (made with our engine) is opened in the main window (offscreen):
//   open:   load the window, switch to the advanced screen, paint the grid's
//           first page;
//   last:   jump to the last row and paint;
//   filter: switch the kind filter ("All" box off: "Add to Inventory") and
//           paint.
// Peer measured in the same run: mdb-export reading the same Scanner_Data
// (the independent reader, whole table), and the engine's own recordset
// reading the first 40 rows.
// Then posting 10,000 records from the "&Process/Post" button against the
// same run headless (tallimo-cli's user interface) on an identical shop:
// the ratio window/headless.
//
//   grid_bench [ROWS] [POST_RECORDS]
#include <stdlib.h>

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "app/data/demo_shop.h"
#include "app/data/scanner_database.h"
#include "app/gui/main_window.h"
#include "app/gui/scan_grid.h"
#include "app/posting/posting.h"
#include "app/session.h"
#include "app/settings.h"
#include "jet/dao.h"

namespace {

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

void make_shop(const std::string& dir, int products, int scans) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  auto db = tallimo::demo::create_products_database(dir + "/products.mdb");
  tallimo::demo::add_products(*db, tallimo::demo::generated_catalogue(products, 3));
  db->close();
  auto scanner = tallimo::demo::create_scanner_database(dir + "/" + tallimo::kScannerDatabaseName);
  tallimo::demo::add_scans(*scanner, tallimo::demo::generated_scans(scans, products, 3));
  scanner->close();
}

void store_products(const std::string& path) {
  tallimo::Settings settings;
  settings.Orvex_Location = path;
  QSettings store(QSettings::NativeFormat, QSettings::UserScope, "Tallimo", "Tallimo");
  tallimo::Save_Settings(settings, store);
}

// Answers every message box the run shows (the "Not all the Items ..." one).
void answer_boxes() {
  auto* timer = new QTimer(qApp);
  QObject::connect(timer, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->accept();
  });
  timer->start(20);
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int post_records = argc > 2 ? std::atoi(argv[2]) : 10000;
  char pattern[] = "/tmp/tallimo-grid-bench-XXXXXX";
  const std::string root = ::mkdtemp(pattern);
  ::setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  answer_boxes();

  const std::string shop = root + "/grid";
  make_shop(shop, 1000, rows);
  const std::string scanner_path = shop + "/" + tallimo::kScannerDatabaseName;
  store_products(shop + "/products.mdb");
  std::printf("grid benchmark: Scanner_Data of %d rows\n", rows);

  // Peers.
  auto t0 = Clock::now();
  const std::string export_cmd = "mdb-export '" + scanner_path + "' Scanner_Data > /dev/null";
  const int export_status = std::system(export_cmd.c_str());
  const double peer_export = since(t0);
  t0 = Clock::now();
  {
    auto db = jet::dao::Database::open(scanner_path);
    auto rs = db->open_recordset("Select * \r\nFrom Scanner_Data\r\n");
    for (int i = 0; i < 40 && !rs->eof(); ++i) {
      for (std::size_t c = 0; c < rs->field_count(); ++c) (void)rs->field(c);
      rs->move_next();
    }
  }
  const double peer_recordset = since(t0);

  double open_s = 0, last_s = 0, filter_s = 0;
  long rows_read = 0;
  {
    tallimo::ConsoleUserInterface console(true);
    tallimo::Session session(console, shop);
    t0 = Clock::now();
    tallimo::gui::Frm_Main window(session);
    window.Form_Load();
    window.show();
    window.command_button(4)->click();
    window.grab();
    open_s = since(t0);

    t0 = Clock::now();
    auto* grid = window.grid();
    grid->setCurrentIndex(window.grid_model()->index(window.grid_model()->rowCount() - 1, 1));
    grid->scrollToBottom();
    window.grab();
    last_s = since(t0);

    t0 = Clock::now();
    window.filter_all_box()->click();
    window.grab();
    filter_s = since(t0);
    rows_read = window.grid_model()->rows_read();
    window.close();
  }
  std::printf("  open + advanced screen + first page painted: %8.3f s  (goal 0.3 s)\n", open_s);
  std::printf("  jump to the last row, painted:              %8.3f s  (goal 0.1 s)\n", last_s);
  std::printf("  filter switched, painted:                   %8.3f s  (goal 0.2 s)\n", filter_s);
  std::printf("  rows the model read from the recordset:     %8ld of %d\n", rows_read, rows);
  std::printf("  peer mdb-export, whole table:               %8.3f s  (exit %d); open/peer ratio %.2f\n", peer_export,
              export_status, open_s / peer_export);
  std::printf("  peer engine recordset, first 40 rows:       %8.3f s; open/peer ratio %.2f\n", peer_recordset,
              open_s / peer_recordset);

  // The status line alone: what a run pays per record for showing it.
  {
    tallimo::ConsoleUserInterface console(true);
    tallimo::Session session(console, shop);
    tallimo::gui::Frm_Main window(session);
    window.show();
    t0 = Clock::now();
    for (int i = 0; i < 10000; ++i) {
      window.Display_Status_Message("Add to Inventory\r\nRec: " + std::to_string(i) + " / 10000");
      window.do_events();
    }
    std::printf("  10,000 status lines with events:           %8.3f s\n", since(t0));
    window.close();
  }

  // Posting from the button against headless, identical shops.
  const std::string window_shop = root + "/post-window";
  const std::string headless_shop = root + "/post-headless";
  make_shop(window_shop, 10000, post_records);
  std::filesystem::copy(window_shop, headless_shop, std::filesystem::copy_options::recursive);
  double headless_s = 0, window_s = 0;
  {
    tallimo::ConsoleUserInterface console(true);
    tallimo::Session session(console, headless_shop);
    session.settings().Orvex_Location = headless_shop + "/products.mdb";
    tallimo::Open_Scanner_Data_File(session);
    t0 = Clock::now();
    tallimo::Process_Post(session);
    headless_s = since(t0);
    tallimo::Close_Scanner_Data_File(session);
  }
  {
    store_products(window_shop + "/products.mdb");
    tallimo::ConsoleUserInterface console(true);
    tallimo::Session session(console, window_shop);
    tallimo::gui::Frm_Main window(session);
    window.Form_Load();
    window.show();
    window.command_button(4)->click();
    t0 = Clock::now();
    window.command_button(2)->click();
    window_s = since(t0);
    window.close();
  }
  std::printf("posting %d records: window %.3f s, headless %.3f s, ratio %.2f (goal <= 1.3)\n", post_records,
              window_s, headless_s, window_s / headless_s);
  std::filesystem::remove_all(root);
  return 0;
}
