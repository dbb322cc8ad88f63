#include "panel/qt_picture_box.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

#include "canvas/qt_input_codes.h"
#include "render/render_math.h"

namespace tarvo {

PictureBox::PictureBox(QWidget* parent, const QColor& background)
    : QWidget(parent), background_(background) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  surface_ = QImage(1, 1, QImage::Format_RGB32);
  surface_.fill(background_);
}

PixelBuffer32 PictureBox::pixels() {
  return PixelBuffer32{reinterpret_cast<uint32_t*>(surface_.bits()), surface_.width(),
                       surface_.height(), static_cast<int32_t>(surface_.bytesPerLine() / 4)};
}

void PictureBox::Cls() {
  surface_.fill(background_);
}

int32_t PictureBox::Point(float X, float Y) const {
  const int32_t x = round_half_even(X), y = round_half_even(Y);
  if (x < 0 || y < 0 || x >= surface_.width() || y >= surface_.height()) return -1;
  const QRgb c = surface_.pixel(x, y);
  return qRed(c) | qGreen(c) << 8 | qBlue(c) << 16;
}

void PictureBox::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  painter.drawImage(event->rect().topLeft(), surface_, event->rect());
}

void PictureBox::place(int left, int top, int width, int height) {
  setGeometry(left, top, width, height);
  surface_ = QImage(std::max(1, width), std::max(1, height), QImage::Format_RGB32);
  surface_.fill(background_);
}

void PictureBox::mouseMoveEvent(QMouseEvent* event) {
  const QPointF p = event->position();
  emit MouseMove(button_mask(event->buttons()), modifier_mask(event->modifiers()),
                 static_cast<float>(p.x()), static_cast<float>(p.y()));
}

}  // namespace tarvo
