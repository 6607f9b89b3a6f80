#include "app/reports/report_document.h"

#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <optional>

#include "jet/error.h"

namespace tallimo::reports {
namespace {

constexpr double kMmToPoints = 72.0 / 25.4;
constexpr double kPadding = 2.0;    // points between a cell's text and its edges
constexpr int kMostLines = 4;       // lines a wrapped cell may take; the last is cut with an ellipsis
const QColor kRuleColour(150, 150, 150);
const QColor kShortColour(192, 57, 43);
const QColor kOverColour(39, 124, 76);

QString qs(const std::string& s) { return QString::fromStdString(s); }

void replace_all(std::string& s, const std::string& what, const std::string& with) {
  for (std::size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + with.size()))
    s.replace(at, what.size(), with);
}

// A font as it must be set on a painter whose device has `dpi` pixels per
// inch and whose transformation scales points to those pixels.
QFont device_font(const QFont& font, double dpi) {
  QFont f(font);
  f.setPointSizeF(font.pointSizeF() * 72.0 / dpi);
  return f;
}

}  // namespace

// Font measurements in points: metrics of a 72-dpi device.
struct ReportDocument::Measure {
  QImage device;
  std::optional<QFontMetricsF> normal, bold;
  Measure() : device(1, 1, QImage::Format_RGB32) {
    device.setDotsPerMeterX(2835);  // 72 dpi
    device.setDotsPerMeterY(2835);
  }
};

std::string report_date_text(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  char text[32];
  std::strftime(text, sizeof text, "%m/%d/%Y %H:%M", &local);
  return text;
}

ReportDocument::ReportDocument(Layout layout, std::vector<ReportRow> rows, ReportInfo info)
    : layout_(std::move(layout)), rows_(std::move(rows)), info_(std::move(info)), measure_(std::make_unique<Measure>()) {
  if (!layout_.shop.empty()) info_.shop = layout_.shop;
  QPageSize paper(layout_.letter ? QPageSize::Letter : QPageSize::A4);
  QSizeF size = paper.size(QPageSize::Point);
  page_size_ = layout_.landscape ? QSizeF(size.height(), size.width()) : size;
  margin_ = layout_.margin_mm * kMmToPoints;

  font_ = QFont(qs(layout_.font_family));
  font_.setPointSizeF(layout_.font_size);
  font_.setHintingPreference(QFont::PreferNoHinting);
  bold_font_ = font_;
  bold_font_.setBold(true);
  title_font_ = bold_font_;
  title_font_.setPointSizeF(layout_.font_size * 1.5);
  measure_->normal.emplace(font_, &measure_->device);
  measure_->bold.emplace(bold_font_, &measure_->device);
  const QFontMetricsF& fm = *measure_->normal;
  line_ = std::ceil(fm.lineSpacing() * 10) / 10;
  ascent_ = fm.ascent();

  // Columns side by side; a layout wider than the paper is narrowed to fit
  // rather than cut off.
  double wanted = 0;
  for (const Column& c : layout_.columns) wanted += c.width_mm * kMmToPoints;
  const double room = page_size_.width() - 2 * margin_;
  const double scale = wanted > room ? room / wanted : 1.0;
  double x = margin_;
  for (const Column& c : layout_.columns) {
    column_x_.push_back(x);
    column_w_.push_back(c.width_mm * kMmToPoints * scale);
    x += column_w_.back();
  }
  sort_rows(rows_, layout_);
  paginate();
}

ReportDocument::~ReportDocument() = default;

QPageLayout ReportDocument::page_layout() const {
  return QPageLayout(QPageSize(layout_.letter ? QPageSize::Letter : QPageSize::A4),
                     layout_.landscape ? QPageLayout::Landscape : QPageLayout::Portrait, QMarginsF(0, 0, 0, 0));
}

std::vector<std::string> ReportDocument::wrap(const std::string& text, double width) const {
  const QFontMetricsF& fm = *measure_->normal;
  const QString all = qs(text);
  if (fm.horizontalAdvance(all) <= width) return {text};
  std::vector<std::string> lines;
  QString line;
  const QStringList words = all.split(' ', Qt::SkipEmptyParts);
  for (int i = 0; i < words.size(); ++i) {
    QString word = words[i];
    QString candidate = line.isEmpty() ? word : line + ' ' + word;
    if (fm.horizontalAdvance(candidate) <= width) {
      line = candidate;
      continue;
    }
    if (!line.isEmpty()) {
      lines.push_back(line.toStdString());
      line.clear();
    }
    // A word wider than the cell is broken where it reaches the edge.
    while (fm.horizontalAdvance(word) > width && word.size() > 1) {
      int n = 1;
      while (n < word.size() && fm.horizontalAdvance(word.left(n + 1)) <= width) ++n;
      lines.push_back(word.left(n).toStdString());
      word = word.mid(n);
    }
    line = word;
  }
  if (!line.isEmpty()) lines.push_back(line.toStdString());
  if (static_cast<int>(lines.size()) > kMostLines) {
    std::string rest;
    for (std::size_t i = kMostLines - 1; i < lines.size(); ++i) rest += (rest.empty() ? "" : " ") + lines[i];
    lines.resize(kMostLines - 1);
    lines.push_back(fm.elidedText(qs(rest), Qt::ElideRight, width).toStdString());
  }
  return lines;
}

float ReportDocument::row_height(const ReportRow& row) const {
  int lines = 1;
  for (std::size_t c = 0; c < layout_.columns.size(); ++c) {
    const Column& col = layout_.columns[c];
    if (col.overflow != Overflow::kWrap || !field_is_text(col.field)) continue;
    lines = std::max(lines, static_cast<int>(wrap(text_value(row, col.field), column_w_[c] - 2 * kPadding).size()));
  }
  return static_cast<float>(lines * line_ + kPadding);
}

void ReportDocument::paginate() {
  const double title_height = line_ * 2.2;
  body_top_ = margin_ + line_ + title_height + line_ + 6;
  body_bottom_ = page_size_.height() - margin_ - line_ - 6;
  const float totals_height = static_cast<float>(layout_.totals.size() * line_ + 6);

  // Groups: runs of rows with equal group values (the rows are sorted).
  if (layout_.group && !rows_.empty()) {
    std::size_t begin = 0;
    for (std::size_t i = 1; i <= rows_.size(); ++i) {
      bool same = false;
      if (i < rows_.size()) {
        const Field g = *layout_.group;
        same = field_is_text(g) ? text_value(rows_[i], g) == text_value(rows_[begin], g)
                                : number_value(rows_[i], g) == number_value(rows_[begin], g);
      }
      if (!same) {
        groups_.push_back({begin, i});
        begin = i;
      }
    }
  } else {
    groups_.push_back({0, rows_.size()});
  }

  if (rows_.empty()) blocks_.push_back({BlockKind::kEmpty, static_cast<float>(line_ * 2), 0});
  blocks_.reserve(rows_.size() + groups_.size() * 2 + 2);
  for (std::size_t g = 0; g < groups_.size() && !rows_.empty(); ++g) {
    if (layout_.group) blocks_.push_back({BlockKind::kGroupHeading, static_cast<float>(line_ * 1.5), uint32_t(g)});
    for (std::size_t r = groups_[g].begin; r < groups_[g].end; ++r)
      blocks_.push_back({BlockKind::kRow, row_height(rows_[r]), uint32_t(r)});
    if (layout_.group && !layout_.totals.empty())
      blocks_.push_back({BlockKind::kGroupTotals, totals_height, uint32_t(g)});
  }
  if (!layout_.totals.empty())
    blocks_.push_back({BlockKind::kReportTotals, static_cast<float>(totals_height + line_ * 1.5), 0});

  if (layout_.summary_field) pages_.push_back({true, 0, 0});
  Page page;
  double y = body_top_;
  for (uint32_t b = 0; b < blocks_.size(); ++b) {
    double h = blocks_[b].height;
    // A heading stays with the first row under it.
    if (blocks_[b].kind == BlockKind::kGroupHeading && b + 1 < blocks_.size()) h += blocks_[b + 1].height;
    if (y + h > body_bottom_ && b > page.first) {
      page.end = b;
      pages_.push_back(page);
      page = Page{false, b, b};
      y = body_top_;
    }
    y += blocks_[b].height;
  }
  page.end = static_cast<uint32_t>(blocks_.size());
  pages_.push_back(page);
}

std::string ReportDocument::fill(const std::string& pattern, int page) const {
  std::string s = pattern;
  replace_all(s, "{shop}", info_.shop);
  replace_all(s, "{title}", layout_.title);
  replace_all(s, "{date}", info_.date);
  replace_all(s, "{page}", std::to_string(page + 1));
  replace_all(s, "{pages}", std::to_string(pages_.size()));
  replace_all(s, "{table}", layout_.table);
  replace_all(s, "{rows}", std::to_string(rows_.size()));
  return s;
}

void ReportDocument::paint_band(QPainter& p, const Band& band, double y, int page) const {
  const double w = page_size_.width() - 2 * margin_;
  QRectF third(margin_, y, w / 3, line_);
  auto draw = [&](const std::string& text, QRectF r, Qt::Alignment a) {
    QString t = measure_->normal->elidedText(qs(fill(text, page)), Qt::ElideRight, r.width() - kPadding);
    p.drawText(r, a | Qt::AlignVCenter, t);
  };
  draw(band.left, third, Qt::AlignLeft);
  draw(band.center, third.translated(w / 3, 0), Qt::AlignHCenter);
  draw(band.right, third.translated(2 * w / 3, 0), Qt::AlignRight);
}

void ReportDocument::paint_captions(QPainter& p, double y) const {
  for (std::size_t c = 0; c < layout_.columns.size(); ++c) {
    const Column& col = layout_.columns[c];
    QRectF r(column_x_[c] + kPadding, y, column_w_[c] - 2 * kPadding, line_);
    Qt::Alignment a = col.align == Align::kRight ? Qt::AlignRight : col.align == Align::kCenter ? Qt::AlignHCenter : Qt::AlignLeft;
    p.drawText(r, a | Qt::AlignVCenter, measure_->bold->elidedText(qs(col.caption), Qt::ElideRight, r.width()));
  }
  p.setPen(kRuleColour);
  p.drawLine(QPointF(margin_, y + line_ + 1), QPointF(page_size_.width() - margin_, y + line_ + 1));
  p.setPen(Qt::black);
}

void ReportDocument::paint_totals(QPainter& p, std::size_t begin, std::size_t end, double y,
                                  const std::string& heading) const {
  const double right = page_size_.width() - margin_;
  p.setPen(kRuleColour);
  p.drawLine(QPointF(margin_, y + 1), QPointF(right, y + 1));
  p.setPen(Qt::black);
  y += 3;
  const double table_right = column_x_.empty() ? right : column_x_.back() + column_w_.back();
  for (const Total& t : layout_.totals) {
    // The value under its field's column when the layout shows it as a
    // number, else under the last column.
    double value_right = table_right - kPadding;
    double caption_right = column_x_.empty() ? value_right - 30 * kMmToPoints : column_x_.back() - kPadding;
    for (std::size_t c = 0; c < layout_.columns.size(); ++c) {
      if (layout_.columns[c].field == t.field && !field_is_text(t.field)) {
        value_right = column_x_[c] + column_w_[c] - kPadding;
        caption_right = column_x_[c] - kPadding;
      }
    }
    std::string caption = heading.empty() ? t.caption : heading + " - " + t.caption;
    const double caption_left = margin_ + kPadding;
    p.drawText(QRectF(caption_left, y, std::max(10.0, caption_right - caption_left), line_),
               Qt::AlignRight | Qt::AlignVCenter,
               measure_->normal->elidedText(qs(caption), Qt::ElideLeft, std::max(10.0, caption_right - caption_left)));
    p.drawText(QRectF(value_right - 40 * kMmToPoints, y, 40 * kMmToPoints, line_), Qt::AlignRight | Qt::AlignVCenter,
               qs(total_text(total_value(rows_, begin, end, t), t)));
    y += line_;
  }
}

void ReportDocument::paint_block(QPainter& p, const PaintFonts& fonts, const Block& block, double y) const {
  switch (block.kind) {
    case BlockKind::kEmpty:
      p.drawText(QRectF(margin_, y, page_size_.width() - 2 * margin_, line_ * 2), Qt::AlignLeft | Qt::AlignVCenter,
                 "No items.");
      break;
    case BlockKind::kGroupHeading: {
      const Group& g = groups_[block.index];
      const ReportRow& first = rows_[g.begin];
      const Field f = *layout_.group;
      std::string value = field_is_text(f) ? text_value(first, f) : cell_text(first, Column{f, "", 0, Align::kLeft, Overflow::kEllipsis, {}});
      if (value.empty()) value = "(none)";
      std::string caption = layout_.group_caption;
      replace_all(caption, "{value}", value);
      p.setFont(fonts.bold);
      p.drawText(QRectF(margin_ + kPadding, y + line_ * 0.4, page_size_.width() - 2 * margin_, line_),
                 Qt::AlignLeft | Qt::AlignVCenter, qs(caption));
      p.setFont(fonts.normal);
      break;
    }
    case BlockKind::kRow: {
      const ReportRow& row = rows_[block.index];
      // The baseline of a line centred in its line height, as drawText in a
      // rectangle would place it.
      const double baseline = (line_ - measure_->normal->height()) / 2 + measure_->normal->ascent();
      for (std::size_t c = 0; c < layout_.columns.size(); ++c) {
        const Column& col = layout_.columns[c];
        const double w = column_w_[c] - 2 * kPadding;
        const double x = column_x_[c] + kPadding;
        Qt::Alignment a = col.align == Align::kRight ? Qt::AlignRight : col.align == Align::kCenter ? Qt::AlignHCenter : Qt::AlignLeft;
        std::string text = cell_text(row, col);
        if (text.empty()) continue;
        if (col.overflow == Overflow::kWrap && field_is_text(col.field)) {
          std::vector<std::string> lines = wrap(text, w);
          for (std::size_t i = 0; i < lines.size(); ++i)
            p.drawText(QRectF(x, y + i * line_, w, line_), a | Qt::AlignVCenter, qs(lines[i]));
        } else {
          // Placed by hand on the baseline: far quicker than letting the
          // painter lay out a rectangle for each of a long report's cells.
          const QFontMetricsF& fm = *measure_->normal;
          QString t = qs(text);
          double advance = fm.horizontalAdvance(t);
          if (advance > w) {
            // A number that does not fit is shown as #### rather than cut.
            t = field_is_text(col.field) ? fm.elidedText(t, Qt::ElideRight, w) : QString("####");
            advance = fm.horizontalAdvance(t);
          }
          double left = x;
          if (col.align == Align::kRight) left = x + w - advance;
          else if (col.align == Align::kCenter) left = x + (w - advance) / 2;
          p.drawText(QPointF(left, y + baseline), t);
        }
      }
      break;
    }
    case BlockKind::kGroupTotals: {
      const Group& g = groups_[block.index];
      paint_totals(p, g.begin, g.end, y, "");
      break;
    }
    case BlockKind::kReportTotals:
      p.setFont(fonts.bold);
      p.drawText(QRectF(margin_ + kPadding, y + line_ * 0.4, page_size_.width() - 2 * margin_, line_),
                 Qt::AlignLeft | Qt::AlignVCenter, "Report totals");
      p.setFont(fonts.normal);
      paint_totals(p, 0, rows_.size(), y + line_ * 1.5, "");
      break;
  }
}

void ReportDocument::paint_summary(QPainter& p, const PaintFonts& fonts, double top, double bottom) const {
  const Field f = *layout_.summary_field;
  const double left = margin_, right = page_size_.width() - margin_;
  double y = top;
  p.setFont(fonts.bold);
  std::string title = layout_.summary_title.empty() ? std::string("Summary") : layout_.summary_title;
  p.drawText(QRectF(left, y, right - left, line_ * 1.5), Qt::AlignLeft | Qt::AlignVCenter, qs(title));
  y += line_ * 2;
  p.setFont(fonts.normal);
  // The report totals first.
  for (const Total& t : layout_.totals) {
    p.drawText(QRectF(left, y, 70 * kMmToPoints, line_), Qt::AlignLeft | Qt::AlignVCenter, qs(t.caption));
    p.drawText(QRectF(left + 70 * kMmToPoints, y, 40 * kMmToPoints, line_), Qt::AlignRight | Qt::AlignVCenter,
               qs(total_text(total_value(rows_, 0, rows_.size(), t), t)));
    y += line_;
  }
  y += line_;

  // The largest values by size.
  std::vector<std::pair<int64_t, std::size_t>> ranked;
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    auto v = number_value(rows_[i], f);
    if (v && *v != 0) ranked.emplace_back(*v, i);
  }
  const std::size_t n = std::min<std::size_t>(ranked.size(), layout_.summary_count);
  std::partial_sort(ranked.begin(), ranked.begin() + n, ranked.end(), [](const auto& a, const auto& b) {
    uint64_t x = a.first < 0 ? 0 - uint64_t(a.first) : uint64_t(a.first);
    uint64_t z = b.first < 0 ? 0 - uint64_t(b.first) : uint64_t(b.first);
    return x != z ? x > z : a.second < b.second;
  });
  ranked.resize(n);
  if (ranked.empty()) {
    p.drawText(QRectF(left, y, right - left, line_), Qt::AlignLeft | Qt::AlignVCenter, "No differences to chart.");
    return;
  }
  NumberFormat money{true, true, 2, 2};
  for (const Column& c : layout_.columns) {
    if (c.field == f) money = c.format;
  }
  const double label_w = (right - left) * 0.38, value_w = 30 * kMmToPoints;
  const double chart_left = left + label_w + kPadding, chart_right = right - value_w - kPadding;
  int64_t most = 0, least = 0;
  for (auto& [v, i] : ranked) most = std::max(most, v), least = std::min(least, v);
  const double span = static_cast<double>(most - least);
  const double zero_x = chart_left + (chart_right - chart_left) * (static_cast<double>(-least) / span);
  const double bar_h = std::min(line_ * 1.6, (bottom - y) / static_cast<double>(n) - 2);
  const QFontMetricsF& fm = *measure_->normal;
  for (auto& [v, i] : ranked) {
    const ReportRow& row = rows_[i];
    QString label = qs(row.item_number + "  " + row.description);
    p.setPen(Qt::black);
    p.drawText(QRectF(left, y, label_w, bar_h), Qt::AlignLeft | Qt::AlignVCenter,
               fm.elidedText(label, Qt::ElideRight, label_w));
    const double len = (chart_right - chart_left) * std::abs(static_cast<double>(v)) / span;
    QRectF bar = v < 0 ? QRectF(zero_x - len, y + 1, len, bar_h - 2) : QRectF(zero_x, y + 1, len, bar_h - 2);
    p.fillRect(bar, v < 0 ? kShortColour : kOverColour);
    p.drawText(QRectF(chart_right + kPadding, y, value_w, bar_h), Qt::AlignRight | Qt::AlignVCenter,
               qs(format_number(v, money)));
    y += bar_h + 2;
  }
  p.setPen(kRuleColour);
  p.drawLine(QPointF(zero_x, top + line_ * 2), QPointF(zero_x, y));
}

void ReportDocument::paint_page(QPainter& p, int index, double device_dpi) const {
  if (index < 0 || index >= page_count()) return;
  p.save();
  p.scale(device_dpi / 72.0, device_dpi / 72.0);
  const PaintFonts fonts{device_font(font_, device_dpi), device_font(bold_font_, device_dpi)};
  p.setPen(Qt::black);
  p.setFont(fonts.normal);
  paint_band(p, layout_.header, margin_, index);
  p.setFont(device_font(title_font_, device_dpi));
  p.drawText(QRectF(margin_, margin_ + line_, page_size_.width() - 2 * margin_, line_ * 2.2),
             Qt::AlignLeft | Qt::AlignVCenter, qs(layout_.title));
  const Page& page = pages_[index];
  if (page.summary) {
    paint_summary(p, fonts, margin_ + line_ * 3.4, body_bottom_);
  } else {
    p.setFont(fonts.bold);
    paint_captions(p, body_top_ - line_ - 4);
    p.setFont(fonts.normal);
    double y = body_top_;
    for (uint32_t b = page.first; b < page.end; ++b) {
      paint_block(p, fonts, blocks_[b], y);
      y += blocks_[b].height;
    }
  }
  p.setFont(fonts.normal);
  p.setPen(kRuleColour);
  const double foot = page_size_.height() - margin_ - line_;
  p.drawLine(QPointF(margin_, foot - 2), QPointF(page_size_.width() - margin_, foot - 2));
  p.setPen(Qt::black);
  paint_band(p, layout_.footer, foot, index);
  p.restore();
}

QImage ReportDocument::page_image(int index, double dpi) const {
  QImage image(static_cast<int>(std::ceil(page_size_.width() * dpi / 72.0)),
               static_cast<int>(std::ceil(page_size_.height() * dpi / 72.0)), QImage::Format_RGB32);
  image.setDotsPerMeterX(static_cast<int>(dpi / 0.0254 + 0.5));
  image.setDotsPerMeterY(static_cast<int>(dpi / 0.0254 + 0.5));
  image.fill(Qt::white);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  paint_page(p, index, image.logicalDpiY());
  return image;
}

void ReportDocument::print(QPagedPaintDevice& device, int first, int last) const {
  if (last <= 0 || last > page_count()) last = page_count();
  first = std::max(first, 1);
  QPainter p;
  if (!p.begin(&device)) throw jet::Error(jet::ErrorCategory::kIo, "the report could not be sent to its destination");
  const double dpi = device.logicalDpiY();
  for (int i = first; i <= last; ++i) {
    if (i > first && !device.newPage()) throw jet::Error(jet::ErrorCategory::kIo, "a new page could not be started");
    paint_page(p, i - 1, dpi);
  }
  if (!p.end()) throw jet::Error(jet::ErrorCategory::kIo, "the report could not be finished");
}

void ReportDocument::write_pdf(const std::string& path) const {
  QPdfWriter writer(qs(path));
  writer.setResolution(600);
  writer.setPageLayout(page_layout());
  writer.setTitle(qs(layout_.title));
  writer.setCreator("Tallimo");
  try {
    print(writer);
  } catch (const jet::Error& e) {
    throw jet::Error(jet::ErrorCategory::kIo, path + ": " + e.what() + " (is the folder writable?)");
  }
}

}  // namespace tallimo::reports
