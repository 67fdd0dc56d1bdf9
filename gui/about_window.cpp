#include <QFont>
#include <QPainter>
#include <QPixmap>

#include "gui/widgets.h"

namespace fw::qt {

// The About picture: a flash drive, drawn rather than shipped.
QPixmap AboutPicture() {
  QPixmap pm(72, 72);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(60, 60, 60), 2));
  p.setBrush(QColor(190, 190, 200));
  p.drawRoundedRect(24, 4, 24, 16, 2, 2);
  p.setBrush(QColor(40, 40, 40));
  p.drawRect(29, 9, 4, 4);
  p.drawRect(39, 9, 4, 4);
  p.setBrush(QColor(102, 204, 255));
  p.drawRoundedRect(16, 20, 40, 48, 6, 6);
  p.setPen(Qt::white);
  QFont f = p.font();
  f.setBold(true);
  f.setPixelSize(13);
  p.setFont(f);
  p.drawText(QRect(16, 28, 40, 32), Qt::AlignCenter, "EFI");
  return pm;
}

}  // namespace fw::qt
