#include "panel/qt_kv_button.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "canvas/qt_input_codes.h"
#include "panel/qt_packed_colour.h"

namespace tarvo {

namespace {

// How much a pressed button's fill darkens.
constexpr double kPressedShade = 0.78;

}  // namespace

kv_button::kv_button(QWidget* parent)
    : ThemedWidget(parent, ControlColours{0xC0C0C0, 0x000000, 0xE0E0E0, 0x202020}) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
}

void kv_button::set_value(bool pressed) {
  if (value_ == pressed) return;
  value_ = pressed;
  update();
}

void kv_button::set_caption(const QString& caption) {
  if (caption_ == caption) return;
  caption_ = caption;
  update();
}

void kv_button::set_picture(const QImage& picture) {
  picture_ = picture;
  update();
}

void kv_button::set_mousepointer(int shape) {
  mousepointer_ = shape;
  if (shape == kPointerSizeAll) {
    setCursor(Qt::SizeAllCursor);
  } else {
    unsetCursor();
  }
}

void kv_button::Refresh() {
  repaint();
}

bool kv_button::shows_pressed() const {
  return value_ || (held_ && over_);
}

void kv_button::set_held_over(bool held, bool over) {
  if (held == held_ && over == over_) return;
  held_ = held;
  over_ = over;
  update();
}

void kv_button::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const bool pressed = shows_pressed();
  paint_fill(painter, pressed);
  paint_content(painter, pressed);
  if (!borderless_) paint_bevel(painter, pressed);
}

void kv_button::paint_fill(QPainter& painter, bool pressed) const {
  const QColor base = to_qcolor(backcolor());
  const double g = std::max(1.0, gradient_);
  QColor top = scaled(base, g), bottom = scaled(base, 1.0 / g);
  if (pressed) {
    std::swap(top, bottom);
    top = scaled(top, kPressedShade);
    bottom = scaled(bottom, kPressedShade);
  }
  QLinearGradient fill(0, 0, 0, height());
  fill.setColorAt(0, top);
  fill.setColorAt(1, bottom);
  painter.fillRect(rect(), fill);
}

// Two rings: the outer one in the full highlight and shadow, the inner one halfway to the fill, so
// that the edge reads as a rounded rim rather than a line.
void kv_button::paint_bevel(QPainter& painter, bool pressed) const {
  const QColor base = to_qcolor(backcolor());
  QColor lit = to_qcolor(highlight()), dark = to_qcolor(shadow());
  if (pressed) std::swap(lit, dark);
  const int r = width() - 1, b = height() - 1;
  auto ring = [&](int inset, const QColor& top_left, const QColor& bottom_right) {
    painter.setPen(top_left);
    painter.drawLine(inset, inset, r - inset, inset);
    painter.drawLine(inset, inset, inset, b - inset);
    painter.setPen(bottom_right);
    painter.drawLine(inset, b - inset, r - inset, b - inset);
    painter.drawLine(r - inset, inset, r - inset, b - inset);
  };
  ring(0, lit, dark);
  if (width() > 6 && height() > 6) ring(1, mixed(lit, base, 0.5), mixed(dark, base, 0.5));
}

void kv_button::paint_content(QPainter& painter, bool pressed) const {
  const QPoint shift = pressed ? QPoint(1, 1) : QPoint(0, 0);
  if (!picture_.isNull()) {
    const QSizeF size = picture_.deviceIndependentSize();
    const QPointF at((width() - size.width()) / 2.0, (height() - size.height()) / 2.0);
    painter.drawImage(QPointF(std::floor(at.x()), std::floor(at.y())) + shift, picture_);
    return;
  }
  if (caption_.isEmpty()) return;
  painter.setFont(font());
  painter.setPen(to_qcolor(forecolor()));
  painter.drawText(rect().translated(shift), Qt::AlignCenter | Qt::TextSingleLine, caption_);
}

void kv_button::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) set_held_over(true, true);
  const QPointF p = event->position();
  emit MouseDown(button_mask(event->button()), modifier_mask(event->modifiers()),
                 static_cast<float>(p.x()), static_cast<float>(p.y()));
}

void kv_button::mouseMoveEvent(QMouseEvent* event) {
  const QPointF p = event->position();
  if (held_) set_held_over(true, rect().contains(p.toPoint()));
  emit MouseMove(button_mask(event->buttons()), modifier_mask(event->modifiers()),
                 static_cast<float>(p.x()), static_cast<float>(p.y()));
}

void kv_button::mouseReleaseEvent(QMouseEvent* event) {
  const QPointF p = event->position();
  const bool click = event->button() == Qt::LeftButton && held_ && rect().contains(p.toPoint());
  if (event->button() == Qt::LeftButton) set_held_over(false, false);
  emit MouseUp(button_mask(event->button()), modifier_mask(event->modifiers()),
               static_cast<float>(p.x()), static_cast<float>(p.y()));
  if (click) emit Click();
}

}  // namespace tarvo
