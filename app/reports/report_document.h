// A report laid out in pages: the page header and footer (shop, title, date,
// "Page n of m"), column captions on every page, group headings and
// sub-totals, the total lines, and for a layout with a summary a first page
// charting the largest values. Painted with QPainter on any paged device:
// a PDF file, a printer, or an image for the preview.
//
// Needs a QGuiApplication (fonts). Units inside are points (1/72 inch).
#pragma once

#include <QFont>
#include <QImage>
#include <QSizeF>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "app/reports/report_data.h"
#include "app/reports/report_layout.h"

class QPainter;
class QPagedPaintDevice;
class QPageLayout;

namespace tallimo::reports {

struct ReportInfo {
  std::string shop;  // shown by {shop} unless the layout names one
  std::string date;  // shown by {date}
};

class ReportDocument {
 public:
  // Lays out `rows` (sorted as the layout says) in pages.
  ReportDocument(Layout layout, std::vector<ReportRow> rows, ReportInfo info);
  ~ReportDocument();

  int page_count() const { return static_cast<int>(pages_.size()); }
  // The paper in points, oriented as the layout says.
  QSizeF page_size() const { return page_size_; }
  QPageLayout page_layout() const;
  const Layout& layout() const { return layout_; }
  const std::vector<ReportRow>& rows() const { return rows_; }

  // Paints page `index` (0-based) with the painter's origin at the paper's
  // top left corner and `device_dpi` device pixels per inch.
  void paint_page(QPainter& painter, int index, double device_dpi) const;
  // The page as an image at `dpi` (white paper).
  QImage page_image(int index, double dpi) const;

  // Paints every page on `device` (a QPdfWriter or a QPrinter already set
  // up), from page `first` to `last` (1-based, 0 = to the end). Throws
  // jet::Error (kIo) when the device cannot be painted on.
  void print(QPagedPaintDevice& device, int first = 1, int last = 0) const;
  // Writes the report as a PDF file. Throws jet::Error (kIo) naming the file.
  void write_pdf(const std::string& path) const;

 private:
  enum class BlockKind : uint8_t { kGroupHeading, kRow, kGroupTotals, kReportTotals, kEmpty };
  struct Block {
    BlockKind kind;
    float height;
    uint32_t index;  // row, or group number
  };
  struct Page {
    bool summary = false;
    uint32_t first = 0, end = 0;  // blocks [first, end)
  };
  struct PaintFonts {
    QFont normal, bold;  // as the painter's device needs them
  };
  struct Group {
    std::size_t begin, end;  // rows
  };

  void paginate();
  float row_height(const ReportRow& row) const;
  std::vector<std::string> wrap(const std::string& text, double width) const;
  std::string fill(const std::string& pattern, int page) const;
  void paint_band(QPainter& p, const Band& band, double y, int page) const;
  void paint_captions(QPainter& p, double y) const;
  void paint_block(QPainter& p, const PaintFonts& fonts, const Block& block, double y) const;
  void paint_totals(QPainter& p, std::size_t begin, std::size_t end, double y, const std::string& heading) const;
  void paint_summary(QPainter& p, const PaintFonts& fonts, double top, double bottom) const;

  Layout layout_;
  std::vector<ReportRow> rows_;
  ReportInfo info_;
  QSizeF page_size_;
  double margin_ = 0;
  std::vector<double> column_x_, column_w_;  // points, scaled to fit the page
  QFont font_, bold_font_, title_font_;
  double line_ = 0;  // line height
  double ascent_ = 0;
  std::vector<Block> blocks_;
  std::vector<Group> groups_;
  std::vector<Page> pages_;
  double body_top_ = 0, body_bottom_ = 0;
  struct Measure;
  std::unique_ptr<Measure> measure_;
};

// The date text of the page header for `when` ("12/06/2026 14:30").
std::string report_date_text(std::time_t when);

}  // namespace tallimo::reports
