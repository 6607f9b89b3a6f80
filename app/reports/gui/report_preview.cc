#include "app/reports/gui/report_preview.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QPaintEvent>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <fstream>

#include "app/error_log.h"
#include "jet/error.h"
#include "app/reports/report_data.h"
#include "app/reports/report_database.h"
#include "app/reports/report_request.h"
#include "app/session.h"
#include "app/user_interface.h"

namespace tallimo::reports {
namespace {

constexpr int kPageGap = 12;         // pixels between pages
constexpr std::size_t kCachedPages = 6;

// The hourglass while the report is formatted, whatever way the work ends.
struct WaitCursor {
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

// ---- PageView ----

PageView::PageView(QWidget* parent) : QWidget(parent) { setAttribute(Qt::WA_OpaquePaintEvent); }

void PageView::set_document(const ReportDocument* document) {
  document_ = document;
  cache_.clear();
  updateGeometry();
  resize(sizeHint());
  update();
}

void PageView::set_dpi(double dpi) {
  if (dpi == dpi_) return;
  dpi_ = dpi;
  cache_.clear();
  resize(sizeHint());
  update();
}

QSize PageView::page_pixels() const {
  if (!document_) return QSize(0, 0);
  return QSize(static_cast<int>(std::ceil(document_->page_size().width() * dpi_ / 72.0)),
               static_cast<int>(std::ceil(document_->page_size().height() * dpi_ / 72.0)));
}

QSize PageView::sizeHint() const {
  if (!document_) return QSize(400, 300);
  QSize p = page_pixels();
  return QSize(p.width() + 2 * kPageGap, document_->page_count() * (p.height() + kPageGap) + kPageGap);
}

const QImage& PageView::page(int index) {
  for (auto it = cache_.begin(); it != cache_.end(); ++it) {
    if (it->first == index) {
      cache_.splice(cache_.begin(), cache_, it);
      return cache_.front().second;
    }
  }
  cache_.emplace_front(index, document_->page_image(index, dpi_ * devicePixelRatioF()));
  cache_.front().second.setDevicePixelRatio(devicePixelRatioF());
  ++pages_painted_;
  if (cache_.size() > kCachedPages) cache_.pop_back();
  return cache_.front().second;
}

void PageView::paintEvent(QPaintEvent* event) {
  QPainter p(this);
  p.fillRect(event->rect(), QColor(128, 128, 128));
  if (!document_) return;
  const QSize size = page_pixels();
  const int step = size.height() + kPageGap;
  const int x = std::max(kPageGap, (width() - size.width()) / 2);
  const int first = std::max(0, (event->rect().top() - kPageGap) / step);
  const int last = std::min(document_->page_count() - 1, event->rect().bottom() / step);
  for (int i = first; i <= last; ++i) {
    const QRect r(x, kPageGap + i * step, size.width(), size.height());
    if (!r.intersects(event->rect())) continue;
    p.drawImage(r.topLeft(), page(i));
  }
}

// ---- frm_Preview_Report ----

frm_Preview_Report::frm_Preview_Report(Session& session, QWidget* parent) : QDialog(parent), session_(session) {
  setObjectName("frm_Preview_Report");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  menu_bar_ = new QMenuBar(this);
  QMenu* file = menu_bar_->addMenu("&File");
  file->setObjectName("File");
  print_action_ = file->addAction("&Print...", this, &frm_Preview_Report::print_report);
  print_action_->setShortcut(QKeySequence::Print);
  save_pdf_action_ = file->addAction("Save as PDF...", this, &frm_Preview_Report::ask_save_pdf);
  save_csv_action_ = file->addAction("Save as CSV...", this, &frm_Preview_Report::ask_save_csv);
  file->addSeparator();
  QAction* exit = file->addAction("E&xit", this, &frm_Preview_Report::Exit_Click);
  exit->setObjectName("Exit");
  exit->setShortcut(QKeySequence(Qt::Key_F12));
  // F12 closes the window wherever the focus is.
  exit->setShortcutContext(Qt::WindowShortcut);
  addAction(exit);
  layout->setMenuBar(menu_bar_);
  menu_bar_->setEnabled(false);

  Label1_ = new QLabel(kFormatting, this);
  Label1_->setObjectName("Label1");
  Label1_->setFont(QFont("Times New Roman", 14));
  Label1_->setAlignment(Qt::AlignCenter);
  layout->addWidget(Label1_);

  scroll_ = new QScrollArea(this);
  scroll_->setWidgetResizable(false);
  scroll_->setAlignment(Qt::AlignHCenter);
  view_ = new PageView;
  scroll_->setWidget(view_);
  scroll_->hide();
  layout->addWidget(scroll_, 1);
}

frm_Preview_Report::~frm_Preview_Report() = default;

void frm_Preview_Report::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!activated_) {
    activated_ = true;
    // The whole screen also where no window manager carries out "maximised".
    if (QScreen* s = screen()) setGeometry(s->availableGeometry());
    setWindowState(windowState() | Qt::WindowMaximized);
    // After the window is on screen, so the label shows while the report is formatted.
    QTimer::singleShot(0, this, &frm_Preview_Report::activate);
  }
}

void frm_Preview_Report::activate() {
  activated_ = true;
  {
    WaitCursor wait;
    session_.ui().do_events();
    try {
      document_ = prepare_report_with(report_name_, kind_, database_);
      if (preview_) {
        setWindowTitle(kCaption);
        Label1_->setText("");
        Label1_->hide();
        // Pages as wide as the window allows, at most life size and a half.
        const double room = screen() ? screen()->availableGeometry().width() : width();
        const double fit = (room - 60) * 72.0 / document_->page_size().width();
        view_->set_dpi(std::clamp(fit, 48.0, logicalDpiX() * 1.5));
        view_->set_document(document_.get());
        scroll_->show();
        setWindowState(windowState() | Qt::WindowMaximized);
        menu_bar_->setEnabled(true);
        menu_bar_->setVisible(true);
        session_.ui().do_events();
      } else {
        print_report();
      }
    } catch (const std::exception& e) {
      Error_Routine(session_, e.what(), "Print_Manager");
    }
  }
  session_.ui().do_events();
  // A print request's window goes away by itself.
  if (!preview_) QTimer::singleShot(0, this, &QDialog::accept);
}

void frm_Preview_Report::Exit_Click() { accept(); }

void frm_Preview_Report::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F12 && event->modifiers() == Qt::NoModifier) {
    Exit_Click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void frm_Preview_Report::print_report() {
  if (!document_) return;
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageLayout(document_->page_layout());
  printer.setDocName(QString::fromStdString(document_->layout().title));
  printer.setFromTo(1, document_->page_count());
  QPrintDialog dialog(&printer, this);
  dialog.setMinMax(1, document_->page_count());
  dialog.setOption(QAbstractPrintDialog::PrintPageRange);
  if (dialog.exec() != QDialog::Accepted) return;
  // No printer chosen: nothing is printed.
  if (printer.printerName().isEmpty() && printer.outputFileName().isEmpty()) return;
  int first = 1, last = 0;
  if (printer.printRange() == QPrinter::PageRange) first = printer.fromPage(), last = printer.toPage();
  document_->print(printer, first, last);
}

void frm_Preview_Report::save_pdf(const std::string& path) const {
  if (!document_) throw jet::Error(jet::ErrorCategory::kInvalidArgument, "no report is shown");
  document_->write_pdf(path);
}

void frm_Preview_Report::save_csv(const std::string& path) const {
  if (!document_) throw jet::Error(jet::ErrorCategory::kInvalidArgument, "no report is shown");
  std::ofstream out(path, std::ios::binary);
  write_csv(document_->layout(), document_->rows(), out);
  out.close();
  if (!out) throw jet::Error(jet::ErrorCategory::kIo, path + ": the CSV file could not be written");
}

void frm_Preview_Report::ask_save_pdf() {
  QString path = QFileDialog::getSaveFileName(this, "Save as PDF", QString(), "PDF files (*.pdf)");
  if (path.isEmpty()) return;
  if (!path.endsWith(".pdf", Qt::CaseInsensitive)) path += ".pdf";
  try {
    save_pdf(path.toStdString());
  } catch (const std::exception& e) {
    Error_Routine(session_, e.what(), "Print_Manager");
  }
}

void frm_Preview_Report::ask_save_csv() {
  QString path = QFileDialog::getSaveFileName(this, "Save as CSV", QString(), "CSV files (*.csv)");
  if (path.isEmpty()) return;
  if (!path.endsWith(".csv", Qt::CaseInsensitive)) path += ".csv";
  try {
    save_csv(path.toStdString());
  } catch (const std::exception& e) {
    Error_Routine(session_, e.what(), "Print_Manager");
  }
}

// ---- Frm_Report_Options ----

Frm_Report_Options::Frm_Report_Options(Session& session, QWidget* parent) : QDialog(parent), session_(session) {
  setObjectName("Frm_Report_Options");
  setWindowTitle("Comparison Report Options");
  auto* grid = new QGridLayout(this);
  const char* captions[3] = {"Show Comparison", "Items Scanned and Not in Inventory", "Items In Inventory not Scanned"};
  for (int i = 0; i < 3; ++i) {
    Label1_[i] = new QLabel(captions[i], this);
    Label1_[i]->setFont(QFont("Arial", 10));
    Btn_Preview_[i] = new QPushButton("&Preview", this);
    Btn_Print_[i] = new QPushButton("P&rint", this);
    Btn_Preview_[i]->setAutoDefault(false);
    Btn_Print_[i]->setAutoDefault(false);
    grid->addWidget(Label1_[i], i, 0);
    grid->addWidget(Btn_Preview_[i], i, 1);
    grid->addWidget(Btn_Print_[i], i, 2);
    connect(Btn_Preview_[i], &QPushButton::clicked, this, [this, i] { Btn_Preview_Click(i); });
    connect(Btn_Print_[i], &QPushButton::clicked, this, [this, i] { Btn_Print_Click(i); });
  }
  Command_Center_ = new QPushButton("E&xit", this);
  Command_Center_->setAutoDefault(false);
  grid->addWidget(Command_Center_, 3, 2);
  connect(Command_Center_, &QPushButton::clicked, this, &Frm_Report_Options::Command_Center_Click);
}

void Frm_Report_Options::Btn_Preview_Click(int index) {
  preview_ = true;
  report_index_ = static_cast<int16_t>(index);
  Run_Report();
}

void Frm_Report_Options::Btn_Print_Click(int index) {
  preview_ = false;
  report_index_ = static_cast<int16_t>(index);
  Run_Report();
}

void Frm_Report_Options::Command_Center_Click() { reject(); }

void Frm_Report_Options::Set_Buttons_Enabled(bool enabled) {
  for (int i = 0; i < 3; ++i) {
    Btn_Preview_[i]->setEnabled(enabled);
    Btn_Print_[i]->setEnabled(enabled);
  }
  Command_Center_->setEnabled(enabled);
}

void Frm_Report_Options::Run_Report() {
  Set_Buttons_Enabled(false);
  const std::string path = Create_Comparison_Reports(session_);
  session_.ui().Update_Status("", 0, 0);
  // The report database goes when the request is over, however it ends.
  struct Remove {
    const std::string& path;
    ~Remove() { delete_report_database(path); }
  } remove{path};
  {
    const auto kind = static_cast<ReportKind>(report_index_);
    frm_Preview_Report preview(session_, this);
    preview.Set_Local_Report_Database(path);
    preview.Set_Print_Preview_Mode(preview_);
    preview.Set_Report_Name(layout_path(session_, kind));
    preview.set_report_kind(kind);
    preview.setWindowState(Qt::WindowMaximized);
    preview.exec();
  }
  Set_Buttons_Enabled(true);
}

void show_report_options(Session& session, QWidget* parent) {
  Frm_Report_Options dialog(session, parent);
  dialog.exec();
}

}  // namespace tallimo::reports
