// The program's logo: a barcode over a tally mark on a blue tile. Painted
// here for the window, tray and dialogs; resources/tallimo.svg is the same
// picture for the desktop's application menu.
#pragma once

#include <QIcon>
#include <QPixmap>

class QPainter;
class QRectF;

namespace tallimo::gui {

void paint_logo(QPainter& painter, const QRectF& box);
QPixmap tallimo_logo(int size);
QIcon tallimo_icon();

}  // namespace tallimo::gui
