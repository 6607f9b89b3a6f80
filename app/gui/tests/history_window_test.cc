// The "Posting History" window: opened from Reports > "Posting &History", it
// lists the runs, a run's records and per product what changed; "&Undo this
// run" states the counts and conflicts before it undoes, undoes nothing when
// the user says no, and cannot undo a run twice.
#include <QAction>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <memory>

#include "app/gui/history_window.h"
#include "app/gui/main_window.h"
#include "app/gui/scan_grid.h"
#include "gui_test_support.h"
#include "jet/dao.h"
#include "jet/value_text.h"

using namespace tallimo;
using namespace tallimo::gui;
using namespace tallimo::gui::testing;

namespace {

std::string stock_of(const std::string& products, const std::string& code) {
  auto db = jet::dao::Database::open(products, {.connect = ";pwd=qzmvrp"});
  auto rs = db->open_recordset("Select * From PRODUCT1 Where [Product Code] = \"" + code + "\"");
  std::string out = rs->eof() ? "(none)" : jet::value_text(rs->field("Inventory Qty"));
  rs->close();
  db->close();
  return out;
}

void sell(const std::string& products, const std::string& code, double stock) {
  auto db = jet::dao::Database::open(products, {.connect = ";pwd=qzmvrp"});
  db->execute("UPDATE PRODUCT1 SET [Inventory Qty] = " + std::to_string(stock) + " WHERE [Product Code] = \"" +
              code + "\"");
  db->close();
}

// Presses the message box button whose text is `text` ("&Yes", "&No", "OK").
std::function<void(QDialog*)> press(const QString& text) {
  return [text](QDialog* dialog) {
    for (QAbstractButton* b : dialog->findChildren<QAbstractButton*>()) {
      if (b->text() == text) {
        b->click();
        return;
      }
    }
    close_dialog(dialog);
  };
}

}  // namespace

class HistoryWindowTest : public QObject {
  Q_OBJECT

  ConsoleUserInterface console_{true};
  std::unique_ptr<Shop> shop_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<Frm_Main> window_;

  // A shop whose run added 5 to A (10), replaced R (4 -> 9) and inserted N.
  void open_posted() {
    demo::Scan added = scan(4, "N", 0);
    added.description = "A brand new item";
    shop_ = std::make_unique<Shop>(std::vector<demo::Product>{product("A", 10), product("R", 4)},
                                   std::vector<demo::Scan>{scan(0, "A", 5), scan(3, "R", 9), added});
    Settings settings;
    settings.Orvex_Location = shop_->products_path();
    store_settings(settings);
    session_ = std::make_unique<Session>(console_, shop_->folder());
    window_ = std::make_unique<Frm_Main>(*session_);
    window_->Form_Load();
    window_->show();
    window_->command_button(4)->click();
    with_dialogs([&] { window_->command_button(2)->click(); });
    QCOMPARE(stock_of(shop_->products_path(), "A"), std::string("15"));
  }

 private slots:
  void cleanup() {
    window_.reset();
    session_.reset();
    shop_.reset();
  }

  void the_reports_menu_opens_the_window_with_runs_records_and_changes() {
    open_posted();
    QAction* entry = window_->action("Mnu_Posting_History");
    QVERIFY(entry != nullptr);
    QCOMPARE(entry->text(), QString("Posting &History"));
    QVERIFY(entry->isEnabled());
    std::vector<SeenDialog> seen = with_dialogs([&] { entry->trigger(); }, [](QDialog* dialog) {
      auto* history = qobject_cast<Frm_Posting_History*>(dialog);
      QVERIFY(history != nullptr);
      QCOMPARE(history->runs_table()->rowCount(), 1);
      QCOMPARE(history->selected_run(), 1L);
      QCOMPARE(history->records_table()->rowCount(), 3);
      // Per product: A's stock, R's replaced stock, N's columns.
      QStringList products;
      for (int r = 0; r < history->changes_table()->rowCount(); ++r) {
        const QString code = history->changes_table()->item(r, 0)->text();
        if (!code.isEmpty()) products << code;
      }
      QCOMPARE(products, (QStringList{"N", "A", "R"}));
      QVERIFY(history->undo_button()->isEnabled());
      dialog->accept();
    });
    QCOMPARE(seen.size(), size_t(1));
    QCOMPARE(seen[0].title, QString("Posting History"));
  }

  void undo_states_counts_and_conflicts_and_asks_first() {
    open_posted();
    sell(shop_->products_path(), "A", 13);  // two sold since
    sell(shop_->products_path(), "R", 7);   // recounted since: a conflict
    Frm_Posting_History history(*session_, window_.get());
    // "No": nothing changes.
    auto seen = with_dialogs([&] { history.undo_button()->click(); }, press("&No"));
    QCOMPARE(seen.size(), size_t(1));
    QVERIFY2(seen[0].text.contains("3 records returned to Scanner_Data, 1 stock change taken back"),
             qPrintable(seen[0].text));
    QVERIFY2(seen[0].text.contains("1 conflict"), qPrintable(seen[0].text));
    QVERIFY2(seen[0].text.contains("product \"R\", Inventory Qty: the product holds 7 now, not the 9 the run wrote"),
             qPrintable(seen[0].text));
    QCOMPARE(stock_of(shop_->products_path(), "A"), std::string("13"));
    QCOMPARE(history.runs_table()->rowCount(), 1);

    // "Yes": undone; the sale is kept, the recount left alone, N removed.
    seen = with_dialogs([&] { history.undo_button()->click(); }, press("&Yes"));
    QCOMPARE(seen.size(), size_t(2));
    QVERIFY2(seen[1].text.startsWith("Run 1 was undone (run 2)"), qPrintable(seen[1].text));
    QCOMPARE(stock_of(shop_->products_path(), "A"), std::string("8"));
    QCOMPARE(stock_of(shop_->products_path(), "R"), std::string("7"));
    QCOMPARE(stock_of(shop_->products_path(), "N"), std::string("(none)"));
    QCOMPARE(history.runs_table()->rowCount(), 2);
    // The undone run cannot be undone again; neither can the undo.
    QCOMPARE(history.selected_run(), 1L);
    QVERIFY(!history.undo_button()->isEnabled());
    history.runs_table()->selectRow(0);
    QCOMPARE(history.selected_run(), 2L);
    QVERIFY(!history.undo_button()->isEnabled());
    QVERIFY(history.changes_table()->rowCount() > 0);
    // The records are back in the main window's grid.
    QCOMPARE(window_->grid_model()->rowCount(), 3);
  }
};

int main(int argc, char** argv) {
  isolate_environment();
  QApplication app(argc, argv);
  HistoryWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "history_window_test.moc"
