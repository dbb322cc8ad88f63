#include "panel/qt_hprop.h"

#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cmath>

#include "panel/qt_packed_colour.h"

namespace tarvo {

namespace {

// One notch of a standard wheel, in eighths of a degree.
constexpr int kWheelNotch = 120;
// The value's text colour: dark enough to read over both the track and the bar.
const QColor kValueTextColour(24, 24, 28);

}  // namespace

HProp::HProp(QWidget* parent)
    : ThemedWidget(parent, ControlColours{0x9E958F, 0xE0E0E0, 0xE0E0E0, 0x202020}) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
}

void HProp::set_value(double value) {
  write(slider_value_from_code(value));
}

void HProp::write(int16_t value) {
  if (value == value_) return;
  value_ = value;
  update();
  emit Change();
}

void HProp::set_min(int16_t min) {
  range_.min = min;
  update();
}

void HProp::set_max(int16_t max) {
  range_.max = max;
  update();
}

void HProp::Refresh() {
  repaint();
}

void HProp::user_input(int32_t value) {
  const int16_t wanted = range_.clamp(value);
  if (wanted == value_) return;
  if (input_) {
    input_(wanted);
  } else {
    write(wanted);
  }
}

// The track lies inside a one-pixel sunken edge.
QRect HProp::track() const {
  return rect().adjusted(1, 1, -1, -1);
}

int16_t HProp::value_at_x(double x) const {
  const QRect t = track();
  const double span = std::max(1, t.width() - 1);
  return range_.value_at((x - t.left()) / span);
}

void HProp::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect t = track();
  painter.fillRect(rect(), to_qcolor(backcolor()));
  // The bar: lit at its top, a shade deeper at its foot, ended by a one-pixel rule.
  const int bar = static_cast<int>(std::lround(range_.fraction(value_) * t.width()));
  if (bar > 0) {
    const QColor fore = to_qcolor(forecolor());
    QLinearGradient shade(0, t.top(), 0, t.bottom());
    shade.setColorAt(0, scaled(fore, 1.08));
    shade.setColorAt(1, scaled(fore, 0.86));
    const QRect filled(t.left(), t.top(), bar, t.height());
    painter.fillRect(filled, shade);
    painter.setPen(scaled(fore, 0.6));
    painter.drawLine(filled.right(), t.top(), filled.right(), t.bottom());
  }
  // The sunken edge: shadow above and left, highlight below and right.
  const int r = width() - 1, b = height() - 1;
  painter.setPen(to_qcolor(shadow()));
  painter.drawLine(0, 0, r, 0);
  painter.drawLine(0, 0, 0, b);
  painter.setPen(to_qcolor(highlight()));
  painter.drawLine(0, b, r, b);
  painter.drawLine(r, 0, r, b);
  painter.setFont(font());
  painter.setPen(kValueTextColour);
  painter.drawText(t, Qt::AlignCenter | Qt::TextSingleLine, QString::number(value_));
  if (hasFocus()) {
    painter.setPen(QPen(to_qcolor(shadow()), 1, Qt::DotLine));
    painter.drawRect(t.adjusted(0, 0, -1, -1));
  }
}

void HProp::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  user_input(value_at_x(event->position().x()));
}

void HProp::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return;
  user_input(value_at_x(event->position().x()));
}

void HProp::wheelEvent(QWheelEvent* event) {
  wheel_remainder_ += event->angleDelta().y() + event->angleDelta().x();
  const int steps = wheel_remainder_ / kWheelNotch;
  wheel_remainder_ -= steps * kWheelNotch;
  if (steps != 0) user_input(int32_t{value_} + steps);
  event->accept();
}

void HProp::keyPressEvent(QKeyEvent* event) {
  const int32_t v = value_;
  switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down:
      user_input(v - 1);
      break;
    case Qt::Key_Right:
    case Qt::Key_Up:
      user_input(v + 1);
      break;
    case Qt::Key_PageDown:
      user_input(v - range_.page());
      break;
    case Qt::Key_PageUp:
      user_input(v + range_.page());
      break;
    case Qt::Key_Home:
      user_input(range_.low());
      break;
    case Qt::Key_End:
      user_input(range_.high());
      break;
    default:
      QWidget::keyPressEvent(event);
      return;
  }
  event->accept();
}

}  // namespace tarvo
