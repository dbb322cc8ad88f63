#include "appearance/qt_draw_pattern.h"

namespace tarvo {

void Draw_Pattern(QPainter& painter, const QImage& picture, const QRect& area) {
  const QSize tile = picture.deviceIndependentSize().toSize();
  if (picture.isNull() || tile.isEmpty()) return;
  const int right = area.left() + area.width(), bottom = area.top() + area.height();
  for (int y = 0; y <= bottom; y += tile.height()) {
    if (y + tile.height() <= area.top()) continue;
    for (int x = 0; x <= right; x += tile.width()) {
      if (x + tile.width() <= area.left()) continue;
      painter.drawImage(QPoint(x - area.left(), y - area.top()), picture);
    }
  }
}

}  // namespace tarvo
