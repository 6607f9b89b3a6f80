#include "app/gui/logo.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>

namespace tallimo::gui {

// Drawn on a 64-unit square, scaled to `box`.
void paint_logo(QPainter& painter, const QRectF& box) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing);
  painter.translate(box.topLeft());
  painter.scale(box.width() / 64.0, box.height() / 64.0);
  QPainterPath tile;
  tile.addRoundedRect(QRectF(2, 2, 60, 60), 12, 12);
  painter.fillPath(tile, QColor(0x1f, 0x5f, 0xa8));
  // Barcode bars.
  static constexpr double kBars[][2] = {{12, 3}, {17, 1.5}, {20.5, 4}, {27, 1.5}, {30.5, 3}, {36, 1.5},
                                        {39.5, 4}, {46, 1.5}, {49.5, 2.5}};
  for (const auto& bar : kBars) painter.fillRect(QRectF(bar[0], 11, bar[1], 26), Qt::white);
  // The tally: four strokes and the crossing one.
  QPen pen(QColor(0xff, 0xc8, 0x3d), 3.2, Qt::SolidLine, Qt::RoundCap);
  painter.setPen(pen);
  for (double x : {18.0, 26.0, 34.0, 42.0}) painter.drawLine(QPointF(x, 42), QPointF(x, 55));
  painter.drawLine(QPointF(13, 53), QPointF(48, 44));
  painter.restore();
}

QPixmap tallimo_logo(int size) {
  const qreal ratio = qGuiApp != nullptr ? qGuiApp->devicePixelRatio() : 1.0;
  QPixmap pixmap(QSize(size, size) * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  paint_logo(painter, QRectF(0, 0, size, size));
  return pixmap;
}

QIcon tallimo_icon() {
  QIcon icon;
  for (int size : {16, 22, 32, 48, 64, 128, 256}) icon.addPixmap(tallimo_logo(size));
  return icon;
}

}  // namespace tallimo::gui
