#include "panel/qt_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

// The palette of the icons: a dark ink for outlines, and a few clear accents.
const QColor kInk(28, 30, 42);
const QColor kSteel(168, 174, 186);
const QColor kWood(196, 132, 64);
const QColor kWater(48, 132, 232);
const QColor kGel(0, 170, 150);
const QColor kGreen(34, 150, 60);
const QColor kBlue(36, 100, 200);
const QColor kRed(206, 36, 36);
const QColor kPaper(252, 252, 248);

QPen ink_pen(qreal width = 1.0, const QColor& colour = kInk) {
  return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// A long tool lying along the diagonal from the top right to the bottom left: the painter is turned
// so that the tool points along +x, with its tip at the local origin's left.
void turn_to_diagonal(QPainter& p) {
  p.translate(14.5, 14.5);
  p.rotate(135.0);
}

// A pen: dark barrel, steel nib, and the line it has drawn.
void draw_pen(QPainter& p) {
  p.save();
  turn_to_diagonal(p);
  p.setPen(ink_pen());
  p.setBrush(QColor(40, 60, 130));
  p.drawRoundedRect(QRectF(-10, -2.5, 13, 5), 1.2, 1.2);
  p.setBrush(kSteel);
  p.drawPolygon(QPolygonF({QPointF(3, -2.5), QPointF(9.5, 0), QPointF(3, 2.5)}));
  p.restore();
  p.setPen(ink_pen(1.0));
  p.drawLine(QPointF(5.5, 23.5), QPointF(13.5, 23.5));
}

// A round brush on a wooden handle, and a drop of water.
void draw_water_brush(QPainter& p) {
  p.save();
  turn_to_diagonal(p);
  p.setPen(ink_pen());
  p.setBrush(kWood);
  p.drawRoundedRect(QRectF(-11, -1.5, 10, 3), 1, 1);
  p.setBrush(kSteel);
  p.drawRect(QRectF(-1, -2.5, 4, 5));
  QPainterPath bristles;
  bristles.moveTo(3, -2.5);
  bristles.cubicTo(7, -3.5, 9, -1, 11, 0);
  bristles.cubicTo(9, 1, 7, 3.5, 3, 2.5);
  bristles.closeSubpath();
  p.setBrush(QColor(60, 60, 70));
  p.drawPath(bristles);
  p.restore();
  QPainterPath drop;
  drop.moveTo(20.5, 15);
  drop.cubicTo(22.5, 18.5, 24.5, 20, 24.5, 22);
  drop.cubicTo(24.5, 24.3, 22.7, 25.5, 20.5, 25.5);
  drop.cubicTo(18.3, 25.5, 16.5, 24.3, 16.5, 22);
  drop.cubicTo(16.5, 20, 18.5, 18.5, 20.5, 15);
  p.setPen(ink_pen(1.0, kWater.darker(150)));
  p.setBrush(kWater);
  p.drawPath(drop);
}

// A drop of ink with a glint, over a small pool.
void draw_ink(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(28, 30, 42, 90));
  p.drawEllipse(QRectF(6.5, 21.5, 16, 4));
  QPainterPath drop;
  drop.moveTo(14.5, 4);
  drop.cubicTo(17, 9, 21, 12.5, 21, 16.5);
  drop.cubicTo(21, 20.5, 18, 23, 14.5, 23);
  drop.cubicTo(11, 23, 8, 20.5, 8, 16.5);
  drop.cubicTo(8, 12.5, 12, 9, 14.5, 4);
  p.setPen(ink_pen());
  p.setBrush(QColor(24, 28, 60));
  p.drawPath(drop);
  p.setPen(ink_pen(1.6, QColor(255, 255, 255, 200)));
  p.drawArc(QRectF(10.5, 13, 6, 7), 150 * 16, 70 * 16);
}

// A thick, raised stroke of gel: a curve with a light edge above and a dark edge below.
void draw_gel(QPainter& p) {
  QPainterPath stroke;
  stroke.moveTo(6, 20);
  stroke.cubicTo(9, 8, 15, 8, 15, 14.5);
  stroke.cubicTo(15, 21, 21, 21, 23, 9);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kInk, 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(stroke);
  p.setPen(QPen(kGel, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(stroke);
  p.setPen(QPen(QColor(190, 255, 240), 1.6, Qt::SolidLine, Qt::RoundCap));
  p.drawPath(stroke.translated(-0.8, -1.2));
}

// An arrowhead at tip, pointing along (dx, dy), filled.
void arrowhead(QPainter& p, QPointF tip, qreal dx, qreal dy, qreal size) {
  const qreal len = std::hypot(dx, dy);
  const qreal ux = dx / len, uy = dy / len;
  const QPointF back = tip - QPointF(ux, uy) * size;
  const QPointF side(-uy * size * 0.7, ux * size * 0.7);
  p.drawPolygon(QPolygonF({tip, back + side, back - side}));
}

// Four arrows out of the centre.
void draw_pan(QPainter& p) {
  p.setPen(ink_pen(2.0));
  p.drawLine(QPointF(14.5, 7), QPointF(14.5, 22));
  p.drawLine(QPointF(7, 14.5), QPointF(22, 14.5));
  p.setPen(ink_pen(1.0));
  p.setBrush(kInk);
  arrowhead(p, QPointF(14.5, 4), 0, -1, 5);
  arrowhead(p, QPointF(14.5, 25), 0, 1, 5);
  arrowhead(p, QPointF(4, 14.5), -1, 0, 5);
  arrowhead(p, QPointF(25, 14.5), 1, 0, 5);
}

// A magnifying glass with a plus.
void draw_zoom(QPainter& p) {
  p.setPen(QPen(kInk, 4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(17.5, 17.5), QPointF(23, 23));
  p.setPen(ink_pen(2.0));
  p.setBrush(QColor(220, 236, 255));
  p.drawEllipse(QPointF(12, 12), 6.5, 6.5);
  p.setPen(QPen(kInk, 1.0));
  p.drawLine(QPointF(9, 12), QPointF(15, 12));
  p.drawLine(QPointF(12, 9), QPointF(12, 15));
}

// "1:1" built from whole pixels.
void draw_actual_size(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing, false);
  auto one = [&p](int x) {
    p.fillRect(x, 8, 3, 13, kInk);      // stem
    p.fillRect(x - 2, 9, 2, 2, kInk);   // flag
    p.fillRect(x - 2, 21, 7, 2, kInk);  // foot
  };
  one(7);
  one(19);
  p.fillRect(13, 11, 3, 3, kInk);
  p.fillRect(13, 18, 3, 3, kInk);
}

// A window whose content is pushed out to its corners: the four brackets of a full view.
void draw_fit(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(kInk);
  p.setBrush(kPaper);
  p.drawRect(4, 5, 20, 19);
  p.fillRect(5, 6, 19, 3, kBlue);
  // Each bracket is two bars of two pixels from the corner pixel (x, y) inward along (dx, dy).
  constexpr int kArm = 4;
  auto bracket = [&p](int x, int y, int dx, int dy) {
    auto bar = [&p, x, y](int x2, int y2) {
      p.fillRect(
          QRect(QPoint(std::min(x, x2), std::min(y, y2)), QPoint(std::max(x, x2), std::max(y, y2))),
          kInk);
    };
    bar(x + dx * (kArm - 1), y + dy);
    bar(x + dx, y + dy * (kArm - 1));
  };
  bracket(7, 11, 1, 1);
  bracket(21, 11, -1, 1);
  bracket(7, 21, 1, -1);
  bracket(21, 21, -1, -1);
  p.setRenderHint(QPainter::Antialiasing, true);
}

// A tray with an arrow going into it (down) or coming out of it (up).
void draw_tray_arrow(QPainter& p, bool into, const QColor& arrow) {
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QPen(kInk, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygon({QPoint(5, 17), QPoint(5, 23), QPoint(23, 23), QPoint(23, 17)}));
  p.setRenderHint(QPainter::Antialiasing, true);
  const qreal top = into ? 4 : 7, bottom = into ? 17 : 20;
  p.setPen(QPen(arrow.darker(140), 1.0));
  p.setBrush(arrow);
  QPolygonF shape;
  if (into) {
    shape << QPointF(12, top) << QPointF(17, top) << QPointF(17, 11) << QPointF(21, 11)
          << QPointF(14.5, bottom) << QPointF(8, 11) << QPointF(12, 11);
  } else {
    shape << QPointF(12, bottom) << QPointF(17, bottom) << QPointF(17, 10) << QPointF(21, 10)
          << QPointF(14.5, top - 3) << QPointF(8, 10) << QPointF(12, 10);
  }
  p.drawPolygon(shape);
}

// An arrow curling back to the left.
void draw_undo(QPainter& p) {
  QPainterPath curl;
  curl.moveTo(9, 11);
  curl.lineTo(15, 11);
  curl.cubicTo(20.5, 11, 23, 14, 23, 17);
  curl.cubicTo(23, 20.5, 20, 23, 16, 23);
  curl.lineTo(12, 23);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kInk, 3, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
  p.drawPath(curl);
  p.setPen(ink_pen(1.0));
  p.setBrush(kInk);
  arrowhead(p, QPointF(3.5, 11), -1, 0, 7);
}

// A blank sheet with a red cross.
void draw_clear(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(kInk);
  p.setBrush(kPaper);
  p.drawPolygon(
      QPolygon({QPoint(7, 4), QPoint(18, 4), QPoint(22, 8), QPoint(22, 24), QPoint(7, 24)}));
  p.drawPolyline(QPolygon({QPoint(18, 4), QPoint(18, 8), QPoint(22, 8)}));
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setPen(QPen(kRed, 2.6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(11, 12), QPointF(18.5, 19.5));
  p.drawLine(QPointF(18.5, 12), QPointF(11, 19.5));
}

void draw_icon(QPainter& p, PanelIcon icon) {
  switch (icon) {
    case PanelIcon::Pen:
      draw_pen(p);
      break;
    case PanelIcon::WaterBrush:
      draw_water_brush(p);
      break;
    case PanelIcon::Ink:
      draw_ink(p);
      break;
    case PanelIcon::GelBrush:
      draw_gel(p);
      break;
    case PanelIcon::Pan:
      draw_pan(p);
      break;
    case PanelIcon::Zoom:
      draw_zoom(p);
      break;
    case PanelIcon::ActualSize:
      draw_actual_size(p);
      break;
    case PanelIcon::Fit:
      draw_fit(p);
      break;
    case PanelIcon::GetImage:
      draw_tray_arrow(p, true, kGreen);
      break;
    case PanelIcon::SendImage:
      draw_tray_arrow(p, false, kBlue);
      break;
    case PanelIcon::Undo:
      draw_undo(p);
      break;
    case PanelIcon::Clear:
      draw_clear(p);
      break;
  }
}

}  // namespace

QImage panel_icon(PanelIcon icon, qreal device_pixel_ratio) {
  const int side = static_cast<int>(std::ceil(kIconSize * device_pixel_ratio));
  QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
  image.setDevicePixelRatio(device_pixel_ratio);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing, true);
  draw_icon(painter, icon);
  return image;
}

}  // namespace tarvo
