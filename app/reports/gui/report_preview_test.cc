// The options dialog and the preview window, offscreen: buttons locked while
// a report is prepared, the preview's caption, state, label and F12, print
// without a printer, layout errors, and the report database removed after
// every request.
#include <gtest/gtest.h>

#include <QAbstractPrintDialog>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/session.h"
#include "report_test_support.h"
#include "app/reports/gui/report_preview.h"

namespace tallimo::testing {
namespace {

namespace fs = std::filesystem;
using namespace tallimo::reports;

// Report databases in the shop folder (products.mdb and POS_Scanner.MDB aside).
std::vector<std::string> report_files(const std::string& dir) {
  std::vector<std::string> out;
  for (auto& e : fs::directory_iterator(dir)) {
    std::string name = e.path().filename().string();
    if (name != "products.mdb" && name.size() > 4 && name.substr(name.size() - 4) == ".mdb") out.push_back(name);
  }
  return out;
}

// Runs `step` on the modal window of type W once it is up (polling, since
// the window is opened by code that does not return until it closes).
template <class W>
void when_shown(std::function<void(W*)> step, int tries = 400) {
  QTimer::singleShot(25, [step, tries] {
    auto* w = qobject_cast<W*>(QApplication::activeModalWidget());
    if (w == nullptr) {
      for (QWidget* top : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<W*>(top); found && found->isVisible()) w = found;
      }
    }
    if (w != nullptr) {
      step(w);
    } else if (tries > 0) {
      when_shown<W>(step, tries - 1);
    } else {
      ADD_FAILURE() << "the window never showed";
    }
  });
}

// A user interface that notes whether the dialog's seven buttons were all
// locked at each status step of the build.
class LockCheckUi : public StatusUi {
 public:
  Frm_Report_Options* dialog = nullptr;
  std::vector<bool> all_locked;
  void Update_Status(const std::string& msg, long count, long total) override {
    StatusUi::Update_Status(msg, count, total);
    if (!dialog || msg.empty()) return;
    bool locked = !dialog->exit_button()->isEnabled();
    for (int i = 0; i < 3; ++i) locked = locked && !dialog->preview_button(i)->isEnabled() && !dialog->print_button(i)->isEnabled();
    all_locked.push_back(locked);
  }
};

class ReportPreviewTest : public ReportShopTest {
 protected:
  void SetUp() override {
    ReportShopTest::SetUp();
    session().set_ui(lock_ui_);
    make_report_shop({product("A1", 5), product("B2", 3)}, {{"A1", 4, 5}, {"X9", 2}});
  }
  LockCheckUi lock_ui_;
};

TEST_F(ReportPreviewTest, OptionsDialogHasItsCaptionsAndSevenButtons) {
  Frm_Report_Options dialog(session());
  EXPECT_EQ(dialog.windowTitle(), "Comparison Report Options");
  EXPECT_EQ(dialog.label(0)->text(), "Show Comparison");
  EXPECT_EQ(dialog.label(1)->text(), "Items Scanned and Not in Inventory");
  EXPECT_EQ(dialog.label(2)->text(), "Items In Inventory not Scanned");
  EXPECT_EQ(dialog.preview_button(2)->text(), "&Preview");
  EXPECT_EQ(dialog.print_button(2)->text(), "P&rint");
  EXPECT_EQ(dialog.exit_button()->text(), "E&xit");
  EXPECT_EQ(dialog.findChildren<QPushButton*>().size(), 7);
}

TEST_F(ReportPreviewTest, PreviewShowsTheReportMaximisedAndF12ClosesItAndDeletesTheDatabase) {
  Frm_Report_Options dialog(session());
  lock_ui_.dialog = &dialog;
  dialog.show();
  std::string caption, label;
  bool maximised = false, menu = false;
  int pages = 0;
  std::vector<std::string> files_while_shown;
  when_shown<frm_Preview_Report>([&](frm_Preview_Report* w) {
    // Wait for the report to be laid out.
    std::function<void()> check = [&, w] {
      if (w->document() == nullptr) {
        QTimer::singleShot(20, check);
        return;
      }
      caption = w->windowTitle().toStdString();
      label = w->label()->text().toStdString();
      maximised = w->windowState() & Qt::WindowMaximized;
      menu = w->menu_bar()->isEnabled() && w->menu_bar()->isVisible();
      pages = w->document()->page_count();
      files_while_shown = report_files(dir_);
      w->activateWindow();
      QTest::keyClick(w, Qt::Key_F12);
      // Should F12 not close it, the test fails rather than waits for ever.
      QPointer<frm_Preview_Report> still(w);
      QTimer::singleShot(3000, [still] {
        if (still && still->isVisible()) {
          ADD_FAILURE() << "F12 did not close the preview window";
          still->Exit_Click();
        }
      });
    };
    check();
  });
  dialog.Btn_Preview_Click(1);
  EXPECT_EQ(caption, "Press the F12 to Exit Preview Window");
  EXPECT_EQ(label, "");
  EXPECT_TRUE(maximised);
  EXPECT_TRUE(menu);
  EXPECT_EQ(pages, 1);
  EXPECT_EQ(files_while_shown.size(), 1u);
  EXPECT_TRUE(report_files(dir_).empty()) << "the report database is deleted after F12";
  EXPECT_TRUE(fs::exists(dir_ + "/NotInInventory.rpt"));
  ASSERT_EQ(lock_ui_.all_locked.size(), 6u);
  for (bool locked : lock_ui_.all_locked) EXPECT_TRUE(locked);
  EXPECT_TRUE(dialog.exit_button()->isEnabled());
  EXPECT_TRUE(dialog.preview_button(0)->isEnabled());
  EXPECT_TRUE(status_ui_.boxes.empty() && lock_ui_.boxes.empty());
}

TEST_F(ReportPreviewTest, PrintWithoutChoosingAPrinterPrintsNothingAndTheWindowClosesByItself) {
  Frm_Report_Options dialog(session());
  bool print_dialog_seen = false;
  when_shown<QAbstractPrintDialog>([&](QAbstractPrintDialog* d) {
    print_dialog_seen = true;
    d->reject();
  });
  dialog.Btn_Print_Click(2);  // returns once the preview window has closed itself
  EXPECT_TRUE(print_dialog_seen);
  EXPECT_TRUE(report_files(dir_).empty());
  EXPECT_TRUE(lock_ui_.boxes.empty());
}

TEST_F(ReportPreviewTest, ALayoutErrorIsReportedAsPrintManagerAndTheDatabaseStillGoes) {
  std::ofstream(dir_ + "/Comparison.rpt") << "table Comparison\n\ncolumn Scanner_Qty \"Counted\" 20 align=middle\n";
  Frm_Report_Options dialog(session());
  when_shown<frm_Preview_Report>([&](frm_Preview_Report* w) {
    std::function<void()> wait = [&, w] {
      if (lock_ui_.boxes.empty()) {
        QTimer::singleShot(20, wait);
        return;
      }
      w->Exit_Click();
    };
    wait();
  });
  dialog.Btn_Preview_Click(0);
  ASSERT_EQ(lock_ui_.boxes.size(), 1u);
  EXPECT_NE(lock_ui_.boxes[0].find(dir_ + "/Comparison.rpt, line 3: unknown alignment \"middle\""), std::string::npos)
      << lock_ui_.boxes[0];
  EXPECT_NE(lock_ui_.boxes[0].find("Print_Manager"), std::string::npos);
  EXPECT_TRUE(report_files(dir_).empty());
}

TEST_F(ReportPreviewTest, PreviewSavesThePdfAndCsvItShows) {
  Frm_Report_Options dialog(session());
  std::string pdf = dir_ + "/shown.pdf", csv = dir_ + "/shown.csv";
  when_shown<frm_Preview_Report>([&](frm_Preview_Report* w) {
    std::function<void()> wait = [&, w] {
      if (w->document() == nullptr) {
        QTimer::singleShot(20, wait);
        return;
      }
      w->save_pdf(pdf);
      w->save_csv(csv);
      // The page the window shows was painted from the document.
      QImage shown = w->page_view()->grab(QRect(0, 0, 400, 400)).toImage();
      EXPECT_GE(w->page_view()->pages_painted(), 1);
      EXPECT_NE(shown.pixelColor(200, 200), QColor(128, 128, 128)) << "a page is drawn there, not the background";
      w->Exit_Click();
    };
    wait();
  });
  dialog.Btn_Preview_Click(0);
  EXPECT_GT(fs::file_size(pdf), 1000u);
  std::ifstream in(csv);
  std::string header;
  std::getline(in, header);
  EXPECT_EQ(header, "Item Number,Description,Vendor,Counted,Recorded,Variance,Cost,Variance Value\r");
}

}  // namespace
}  // namespace tallimo::testing
