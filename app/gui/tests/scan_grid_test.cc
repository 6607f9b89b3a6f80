// The scan grid and the record editor: the kind filter and its "All" box,
// the column switches, edits in place written through to POS_Scanner.MDB,
// the double-click editor, notes in the status line and the pending edit
// that a command or closing the window writes.
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <memory>

#include "app/gui/main_window.h"
#include "app/gui/record_editor.h"
#include "app/gui/scan_grid.h"
#include "gui_test_support.h"
#include "jet/dao.h"
#include "app/null_conversions.h"
#include "app/settings.h"

using namespace tallimo;
using namespace tallimo::gui;
using namespace tallimo::gui::testing;

namespace {

// One Scanner_Data row read back with our engine on a handle of its own.
jet::Value stored(const std::string& path, int id, const std::string& column) {
  auto db = jet::dao::Database::open(path);
  auto rs = db->open_recordset("Select * From Scanner_Data Where Scanner_Data_ID = " + std::to_string(id));
  jet::Value v = rs->eof() ? jet::Value{} : rs->field(column);
  rs->close();
  db->close();
  return v;
}

}  // namespace

class ScanGridTest : public QObject {
  Q_OBJECT

  ConsoleUserInterface console_{true};
  std::unique_ptr<Shop> shop_;
  std::unique_ptr<Session> session_;
  std::unique_ptr<Frm_Main> window_;

  void open() {
    std::vector<demo::Scan> scans = {scan(0, "A", 1), scan(2, "B", 2), scan(2, "B2", 4), scan(5, "C", 3),
                                     scan(5, "D", 6), scan(4, "NEW", 1)};
    shop_ = std::make_unique<Shop>(std::vector<demo::Product>{product("A", 5)}, scans);
    {
      // Notes as posting leaves them: a reason, and one of blanks only.
      auto db = jet::dao::Database::open(shop_->scanner_path());
      db->execute("UPDATE Scanner_Data SET Notes = 'Product Code is not unique' WHERE Item_Number = 'NEW'");
      db->execute("UPDATE Scanner_Data SET Notes = '   ' WHERE Item_Number = 'A'");
      db->close();
    }
    Settings settings;
    settings.Orvex_Location = shop_->products_path();
    store_settings(settings);
    session_ = std::make_unique<Session>(console_, shop_->folder());
    window_ = std::make_unique<Frm_Main>(*session_);
    window_->Form_Load();
    window_->show();
    window_->command_button(4)->click();  // the advanced screen
  }
  ScanGridModel* model() { return window_->grid_model(); }
  bool hidden(const char* column) { return window_->grid()->isColumnHidden(model()->column_of(column)); }
  bool editable(int row, const char* column) {
    return model()->flags(model()->index(row, model()->column_of(column))) & Qt::ItemIsEditable;
  }
  void filter(int option) {
    if (window_->filter_all_box()->isChecked()) window_->filter_all_box()->click();
    window_->filter_option(option)->click();
  }
  int row_of(const std::string& item) {
    for (int r = 0; r < model()->rowCount(); ++r)
      if (Null_To_Text(model()->value(r, "Item_Number")) == item) return r;
    return -1;
  }
  int id_of(int row) { return Null_To_Long(model()->value(row, "Scanner_Data_ID")); }

 private slots:
  void cleanup() {
    window_.reset();
    session_.reset();
    shop_.reset();
  }

  void filter_by_kind_and_the_all_box() {
    open();
    QCOMPARE(model()->rowCount(), 6);
    window_->filter_all_box()->click();  // clear: options enabled, option 1 chosen
    for (int i = 1; i <= 6; ++i) QVERIFY(window_->filter_option(i)->isEnabled());
    QVERIFY(window_->filter_option(1)->isChecked());
    QCOMPARE(model()->rowCount(), 1);
    window_->filter_option(3)->click();  // "Compare Inventory": File_Type 2 only
    QCOMPARE(model()->rowCount(), 2);
    for (int r = 0; r < 2; ++r) QCOMPARE(Null_To_Long(model()->value(r, "File_Type")), 2);
    window_->filter_option(0)->click();  // "All", whatever the kind
    QCOMPARE(model()->rowCount(), 6);
    window_->filter_all_box()->click();  // ticked again: all rows, options disabled
    QVERIFY(window_->filter_option(0)->isChecked());
    for (int i = 1; i <= 6; ++i) QVERIFY(!window_->filter_option(i)->isEnabled());
    QCOMPARE(model()->rowCount(), 6);
  }

  void column_switches_per_filter() {
    open();
    for (const char* c : {"Scanner_Data_ID", "Vendor_Code", "Current_Cost", "File_Type", "Notes", "Location",
                          "List_Price"})
      QVERIFY2(hidden(c), c);
    QVERIFY(!hidden("Item_Number") && !hidden("Description") && !hidden("Price"));
    QVERIFY(!editable(0, "Item_Number") && !editable(0, "Description") && !editable(0, "Price"));
    QVERIFY(window_->hint_label()->isHidden());
    QCOMPARE(model()->headerData(model()->column_of("Price"), Qt::Horizontal, Qt::DisplayRole).toString(),
             QString("Price"));

    filter(5);  // "Add New Item"
    QVERIFY(!editable(0, "Item_Number") && editable(0, "Description") && !editable(0, "Price"));
    QVERIFY(hidden("Location") && hidden("Vendor_Code"));
    QVERIFY(window_->hint_label()->isHidden());

    filter(6);  // "Edit Products"
    QVERIFY(!editable(0, "Item_Number") && editable(0, "Description") && editable(0, "Price"));
    for (const char* c : {"Location", "List_Price", "Vendor_Code"}) {
      QVERIFY2(!hidden(c), c);
      QVERIFY2(editable(0, c), c);
    }
    QVERIFY(hidden("Current_Cost") && hidden("Notes") && hidden("Scanner_Data_ID"));
    QVERIFY(!editable(0, "Notes"));
    QVERIFY(!window_->hint_label()->isHidden());
    QCOMPARE(window_->hint_label()->text(), QString("Double Click on Grid to display Editor"));

    filter(2);  // back to a plain kind: switches reset
    QVERIFY(hidden("Location"));
    QVERIFY(!editable(0, "Description"));
    QVERIFY(window_->hint_label()->isHidden());
  }

  void an_edit_in_place_is_written_to_the_scanner_database() {
    open();
    filter(6);
    const int row = row_of("C");
    const int id = id_of(row);
    QVERIFY(model()->setData(model()->index(row, model()->column_of("Description")), "Blue paint 5 l", Qt::EditRole));
    QVERIFY(model()->setData(model()->index(row, model()->column_of("Price")), "4.3", Qt::EditRole));
    QCOMPARE(Null_To_Text(stored(shop_->scanner_path(), id, "Description")), std::string("Blue paint 5 l"));
    QCOMPARE(Null_To_Text(stored(shop_->scanner_path(), id, "Standard_Price")), std::string("4.3"));
    QCOMPARE(model()->data(model()->index(row, model()->column_of("Description")), Qt::DisplayRole).toString(),
             QString("Blue paint 5 l"));
    // The independent reader sees it too.
    bool found = false;
    for (const std::string& line : export_lines(shop_->scanner_path(), "Scanner_Data"))
      found = found || line.find("Blue paint 5 l") != std::string::npos;
    QVERIFY(found);
    // A locked column takes no edit.
    QVERIFY(!model()->setData(model()->index(row, model()->column_of("Item_Number")), "X", Qt::EditRole));
    QCOMPARE(Null_To_Text(stored(shop_->scanner_path(), id, "Item_Number")), std::string("C"));
  }

  void a_refused_edit_is_reported_and_changes_nothing() {
    open();
    filter(6);
    const int row = row_of("C");
    const int id = id_of(row);
    auto seen = with_dialogs([&] {
      QVERIFY(!model()->setData(model()->index(row, model()->column_of("Price")), "not money", Qt::EditRole));
    });
    QCOMPARE(seen.size(), size_t(1));
    QVERIFY2(seen[0].text.contains("Standard_Price") && seen[0].text.contains("not money"), qPrintable(seen[0].text));
    QCOMPARE(Null_To_Text(stored(shop_->scanner_path(), id, "Standard_Price")), std::string("2.5"));
  }

  void a_pending_cell_edit_is_written_when_a_command_starts() {
    open();
    filter(6);
    const int row = row_of("D");
    const int id = id_of(row);
    const QModelIndex cell = model()->index(row, model()->column_of("Location"));
    window_->grid()->setCurrentIndex(cell);
    window_->grid()->edit(cell);
    QVERIFY(window_->grid()->edit_pending());
    auto* editor = window_->grid()->findChild<QLineEdit*>();
    QVERIFY(editor != nullptr);
    editor->setText("Shelf 9");
    // The screen button is a command: the edit is written first.
    window_->command_button(4)->click();
    QVERIFY(!window_->grid()->edit_pending());
    QCOMPARE(Null_To_Text(stored(shop_->scanner_path(), id, "Location")), std::string("Shelf 9"));
  }

  void closing_the_window_writes_the_pending_edit() {
    open();
    filter(6);
    const int row = row_of("C");
    const int id = id_of(row);
    const QModelIndex cell = model()->index(row, model()->column_of("Vendor_Code"));
    window_->grid()->setCurrentIndex(cell);
    window_->grid()->edit(cell);
    window_->grid()->findChild<QLineEdit*>()->setText("NEWVENDOR");
    window_->close();
    QCOMPARE(Null_To_Text(stored(shop_->scanner_path(), id, "Vendor_Code")), std::string("NEWVENDOR"));
  }

  void a_note_shows_in_the_status_line() {
    open();
    const int noted = row_of("NEW");
    window_->grid()->setCurrentIndex(model()->index(noted, 1));
    QCOMPARE(window_->status_label()->text(), QString("Product Code is not unique"));
    window_->Display_Status_Message("before");
    window_->grid()->setCurrentIndex(model()->index(row_of("A"), 1));  // blanks only
    QCOMPARE(window_->status_label()->text(), QString("before"));
    window_->grid()->setCurrentIndex(model()->index(row_of("B"), 1));  // no note
    QCOMPARE(window_->status_label()->text(), QString("before"));
  }

  void double_click_opens_the_editor_only_under_edit_products() {
    open();
    filter(3);
    window_->grid()->setCurrentIndex(model()->index(0, 1));
    QCOMPARE(with_dialogs([&] { window_->TDBGrid1_DblClick(); }).size(), size_t(0));
    filter(6);
    window_->grid()->setCurrentIndex(model()->index(0, 1));
    auto seen = with_dialogs([&] { window_->TDBGrid1_DblClick(); });
    QCOMPARE(seen.size(), size_t(1));
    QCOMPARE(seen[0].class_name, QString("tallimo::gui::Frm_Editor"));
    QVERIFY(seen[0].title.startsWith("Item Number = "));
  }

  void editor_ok_stores_the_row_and_refills_the_grid() {
    open();
    filter(6);
    const int row = row_of("D");
    const int id = id_of(row);
    window_->grid()->setCurrentIndex(model()->index(row, 1));
    QStringList loaded;
    with_dialogs([&] { window_->TDBGrid1_DblClick(); },
                 [&](QDialog* d) {
                   auto* editor = qobject_cast<Frm_Editor*>(d);
                   for (int i = 0; i < 8; ++i) loaded << editor->field_box(i)->text();
                   editor->field_box(3)->setText("7.25");  // "Standard Price"
                   editor->field_box(3)->setModified(true);
                   editor->field_box(2)->setText("11");  // "Qty"
                   editor->field_box(2)->setModified(true);
                   editor->ok_button()->click();
                 });
    QCOMPARE(loaded[0], QString("D"));
    QCOMPARE(loaded[1], QString("Scanned D"));
    QCOMPARE(loaded[6], QString("L5"));
    QCOMPARE(loaded[7], QString("V-D"));
    QCOMPARE(Null_To_Text(stored(shop_->scanner_path(), id, "Standard_Price")), std::string("7.25"));
    QCOMPARE(Null_To_Text(stored(shop_->scanner_path(), id, "Qty")), std::string("11"));
    QCOMPARE(Null_To_Text(stored(shop_->scanner_path(), id, "Description")), std::string("Scanned D"));
    // Refilled, and standing on the edited row.
    const int now = window_->grid()->currentIndex().row();
    QCOMPARE(id_of(now), id);
    QCOMPARE(model()->data(model()->index(now, model()->column_of("Price")), Qt::DisplayRole).toString(),
             QString("7.25"));
  }

  void editor_cancel_leaves_the_row_and_the_grid() {
    open();
    filter(6);
    const int row = row_of("C");
    const int id = id_of(row);
    window_->grid()->setCurrentIndex(model()->index(row, 1));
    const long reads = model()->rows_read();
    with_dialogs([&] { window_->TDBGrid1_DblClick(); },
                 [&](QDialog* d) {
                   auto* editor = qobject_cast<Frm_Editor*>(d);
                   editor->field_box(1)->setText("Changed my mind");
                   editor->field_box(1)->setModified(true);
                   editor->cancel_button()->click();
                 });
    QCOMPARE(Null_To_Text(stored(shop_->scanner_path(), id, "Description")), std::string("Scanned C"));
    QCOMPARE(model()->rows_read(), reads);  // not refilled
  }

  void editor_boxes_select_all_on_focus() {
    open();
    filter(6);
    window_->grid()->setCurrentIndex(model()->index(0, 1));
    QString selected;
    int caret = -1;
    with_dialogs([&] { window_->TDBGrid1_DblClick(); },
                 [&](QDialog* d) {
                   auto* editor = qobject_cast<Frm_Editor*>(d);
                   editor->activateWindow();
                   editor->field_box(1)->setFocus(Qt::TabFocusReason);
                   // The editor's selection (caret at the start) follows the focus on
                   // the event loop, after the line edit's own (caret at the end):
                   // wait for it, a loaded machine or a sanitizer build takes longer.
                   QLineEdit* box = editor->field_box(1);
                   (void)QTest::qWaitFor([box] { return box->hasSelectedText() && box->cursorPosition() == 0; }, 2000);
                   selected = editor->field_box(1)->selectedText();
                   caret = editor->field_box(1)->cursorPosition();
                   editor->cancel_button()->click();
                 });
    QVERIFY(!selected.isEmpty());
    QVERIFY(selected.startsWith("Scanned "));
    QCOMPARE(caret, 0);
  }

  void editor_statement_has_five_lines() {
    QCOMPARE(Frm_Editor::row_statement("Scanner_Data", 12),
             std::string("Select *\r\nFrom [Scanner_Data]\r\nWhere (\r\n      ((Scanner_Data_ID) = 12)\r\n)\r\n"));
  }
};

int main(int argc, char** argv) {
  isolate_environment();
  QApplication app(argc, argv);
  ScanGridTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "scan_grid_test.moc"
