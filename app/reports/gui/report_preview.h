// The report windows of the desktop program: the options dialog
// Frm_Report_Options (preview or print one of the three reports) and the
// preview window frm_Preview_Report.
#pragma once

#include <QDialog>
#include <QImage>
#include <QWidget>
#include <array>
#include <list>
#include <memory>
#include <string>
#include <utility>

#include "app/reports/report_document.h"
#include "app/reports/report_layout.h"

class QLabel;
class QPushButton;
class QScrollArea;
class QMenuBar;
class QAction;

namespace tallimo {
class Session;
}

namespace tallimo::reports {

// Opens the comparison report options dialog modally over `parent`: the
// action of the "&Comparison" menu item and of Auto_Print after posting.
void show_report_options(Session& session, QWidget* parent);

// The pages of a laid-out report one under the other, each painted when it
// comes into view (a few recent pages are kept as images).
class PageView : public QWidget {
  Q_OBJECT
 public:
  explicit PageView(QWidget* parent = nullptr);
  void set_document(const ReportDocument* document);
  // Pixels per inch the pages are shown at.
  void set_dpi(double dpi);
  double dpi() const { return dpi_; }
  QSize sizeHint() const override;
  // Pages painted so far (for tests and the benchmark).
  int pages_painted() const { return pages_painted_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QSize page_pixels() const;
  const QImage& page(int index);
  const ReportDocument* document_ = nullptr;
  double dpi_ = 96;
  std::list<std::pair<int, QImage>> cache_;
  int pages_painted_ = 0;
};

class frm_Preview_Report : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kCaption = "Press the F12 to Exit Preview Window";
  static constexpr const char* kFormatting = "Formatting Report.  Please Stand By...";

  explicit frm_Preview_Report(Session& session, QWidget* parent = nullptr);
  ~frm_Preview_Report() override;

  // The three properties the options dialog sets before showing the window.
  void Set_Report_Name(const std::string& layout_path) { report_name_ = layout_path; }
  void Set_Local_Report_Database(const std::string& path) { database_ = path; }
  void Set_Print_Preview_Mode(bool preview) { preview_ = preview; }
  void set_report_kind(ReportKind kind) { kind_ = kind; }

  // Lays out the report and shows it (preview) or prints it through the
  // system's print dialog and closes (print). Runs once, when the window is
  // first shown; errors are reported as "Print_Manager".
  void activate();
  // The menu item File, Exit (F12).
  void Exit_Click();

  // What the File menu's "Save as PDF..." and "Save as CSV..." write, without
  // asking for a file. Throw jet::Error naming the file.
  void save_pdf(const std::string& path) const;
  void save_csv(const std::string& path) const;

  const ReportDocument* document() const { return document_.get(); }
  PageView* page_view() const { return view_; }
  QLabel* label() const { return Label1_; }
  QMenuBar* menu_bar() const { return menu_bar_; }

 protected:
  void showEvent(QShowEvent* event) override;
  // F12 closes the window also when the menu's shortcut does not see the key
  // (the window not yet active).
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void print_report();
  void ask_save_pdf();
  void ask_save_csv();

  Session& session_;
  std::string report_name_, database_;
  bool preview_ = true;
  ReportKind kind_ = ReportKind::kComparison;
  bool activated_ = false;
  std::unique_ptr<ReportDocument> document_;
  QLabel* Label1_;
  QMenuBar* menu_bar_;
  QScrollArea* scroll_;
  PageView* view_;
  QAction* save_pdf_action_;
  QAction* save_csv_action_;
  QAction* print_action_;
};

class Frm_Report_Options : public QDialog {
  Q_OBJECT
 public:
  explicit Frm_Report_Options(Session& session, QWidget* parent = nullptr);

  void Btn_Preview_Click(int index);
  void Btn_Print_Click(int index);
  void Command_Center_Click();
  // The six report buttons and the Exit button together.
  void Set_Buttons_Enabled(bool enabled);
  // One request: build the report database, show or print the chosen
  // report, delete the database.
  void Run_Report();

  QPushButton* preview_button(int index) const { return Btn_Preview_[index]; }
  QPushButton* print_button(int index) const { return Btn_Print_[index]; }
  QPushButton* exit_button() const { return Command_Center_; }
  QLabel* label(int index) const { return Label1_[index]; }

 private:
  Session& session_;
  std::array<QLabel*, 3> Label1_{};
  std::array<QPushButton*, 3> Btn_Preview_{};
  std::array<QPushButton*, 3> Btn_Print_{};
  QPushButton* Command_Center_ = nullptr;
  int16_t report_index_ = 0;
  bool preview_ = true;
};

}  // namespace tallimo::reports
