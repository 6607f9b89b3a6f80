// Posting from the window: the "&Process/Post" button runs the posting run
// with the window live, "&Abort" stops it at the next record, and closing the
// window mid-run stops the run before the window goes. Each record is posted
// exactly once: what left Scanner_Data is exactly what reached PRODUCT1.
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/gui/main_window.h"
#include "app/gui/scan_grid.h"
#include "app/null_conversions.h"
#include "gui_test_support.h"
#include "jet/dao.h"

using namespace tallimo;
using namespace tallimo::gui;
using namespace tallimo::gui::testing;

namespace {

constexpr int kRecords = 3000;
constexpr int kProducts = 5;

// Stock of every product, summed, read on a handle of its own.
double total_stock(const std::string& products) {
  jet::dao::OpenOptions options;
  options.connect = ";pwd=qzmvrp";
  auto db = jet::dao::Database::open(products, options);
  auto rs = db->open_recordset("PRODUCT1");
  double total = 0;
  while (!rs->eof()) {
    total += static_cast<double>(Null_To_Currency(rs->field("Inventory Qty")).ten_thousandths) / 10000.0;
    rs->move_next();
  }
  rs->close();
  db->close();
  return total;
}

long rows_left(const std::string& scanner) {
  auto db = jet::dao::Database::open(scanner);
  auto rs = db->open_recordset("Scanner_Data");
  const long n = static_cast<long>(rs->record_count());
  rs->close();
  db->close();
  return n;
}

}  // namespace

class PostingWindowTest : public QObject {
  Q_OBJECT

  ConsoleUserInterface console_{true};
  std::unique_ptr<Shop> shop_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<Frm_Main> window_;

  void open() {
    std::vector<demo::Product> products;
    for (int p = 0; p < kProducts; ++p) products.push_back(product("P" + std::to_string(p), 0));
    std::vector<demo::Scan> scans;
    for (int i = 0; i < kRecords; ++i) scans.push_back(scan(0, "P" + std::to_string(i % kProducts), 1));
    shop_ = std::make_unique<Shop>(products, scans);
    Settings settings;
    settings.Orvex_Location = shop_->products_path();
    store_settings(settings);
    session_ = std::make_unique<Session>(console_, shop_->folder());
    // Small commit groups, so an abort lands between many commits.
    session_->posting_options().records_per_commit = 50;
    window_ = std::make_unique<Frm_Main>(*session_);
    window_->Form_Load();
    window_->show();
    window_->command_button(4)->click();
  }

  // Runs `act` once, the first time the status line shows a record count
  // while the run is under way.
  void when_running(const std::function<void()>& act) {
    auto* poll = new QTimer(window_.get());
    poll->setInterval(1);
    connect(poll, &QTimer::timeout, poll, [this, poll, act] {
      if (!window_->busy() || !window_->status_label()->text().contains("Rec: ")) return;
      poll->stop();
      poll->deleteLater();
      act();
    });
    poll->start();
  }

 private slots:
  void cleanup() {
    window_.reset();
    session_.reset();
    shop_.reset();
  }

  void abort_stops_the_run_at_the_next_record() {
    open();
    QString caption_during;
    when_running([&] {
      caption_during = window_->command_button(1)->text();
      window_->command_button(1)->click();  // "&Abort"
    });
    auto seen = with_dialogs([&] { window_->command_button(2)->click(); });
    QCOMPARE(caption_during, QString("&Abort"));
    QCOMPARE(window_->command_button(1)->text(), QString("E&xit"));
    QCOMPARE(window_->status_label()->text(), QString("Processing - Complete"));
    QCOMPARE(seen.size(), size_t(1));
    QVERIFY(seen[0].text.startsWith("Not all the Items Scanned were able to be processed. "));
    const long left = rows_left(shop_->scanner_path());
    QVERIFY2(left > 0 && left < kRecords, qPrintable(QString::number(left)));
    QCOMPARE(total_stock(shop_->products_path()), double(kRecords - left));
    // The grid shows what is left.
    QCOMPARE(window_->grid_model()->rowCount(), int(left));
    // The next run posts the rest, each record once.
    with_dialogs([&] { window_->command_button(2)->click(); });
    QCOMPARE(rows_left(shop_->scanner_path()), 0L);
    QCOMPARE(total_stock(shop_->products_path()), double(kRecords));
  }

  void closing_mid_run_stops_the_run_then_closes() {
    open();
    when_running([&] { window_->close(); });
    with_dialogs([&] { window_->command_button(2)->click(); });
    QVERIFY(!window_->isVisible());
    const long left = rows_left(shop_->scanner_path());
    QVERIFY2(left > 0 && left < kRecords, qPrintable(QString::number(left)));
    QCOMPARE(total_stock(shop_->products_path()), double(kRecords - left));
  }

  void a_run_that_is_not_aborted_posts_everything() {
    open();
    auto seen = with_dialogs([&] { window_->command_button(2)->click(); });
    QCOMPARE(seen.size(), size_t(0));
    QCOMPARE(rows_left(shop_->scanner_path()), 0L);
    QCOMPARE(total_stock(shop_->products_path()), double(kRecords));
    QCOMPARE(window_->grid_model()->rowCount(), 0);
  }
};

int main(int argc, char** argv) {
  isolate_environment();
  QApplication app(argc, argv);
  PostingWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "posting_window_test.moc"
