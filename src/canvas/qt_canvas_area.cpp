#include "canvas/qt_canvas_area.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTabletEvent>
#include <QWheelEvent>

#include "canvas/qt_form1.h"
#include "canvas/qt_input_codes.h"
#include "canvas/view_navigation.h"
#include "tablet/qt_tablet_adapter.h"

namespace tarvo {

CanvasArea::CanvasArea(Form1& form) : QWidget(&form), form_(form) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  // A pen hovering over the canvas sends packets too, as the mouse sends moves.
  setTabletTracking(true);
}

void CanvasArea::paintEvent(QPaintEvent* event) {
  // Moved to a screen of another scale, the client has as many Qt pixels but other device ones.
  if (form_.retained_.devicePixelRatio() != devicePixelRatioF()) form_.client_resized(size());
  QPainter painter(this);
  form_.paint_client(painter, event->rect());
}

void CanvasArea::resizeEvent(QResizeEvent*) {
  form_.client_resized(size());
}

void CanvasArea::mousePressEvent(QMouseEvent* e) {
  const QPointF p = device_position(*e);
  form_.mouse_down(button_mask(e->button()), modifier_mask(e->modifiers()),
                   static_cast<float>(p.x()), static_cast<float>(p.y()));
}

void CanvasArea::mouseMoveEvent(QMouseEvent* e) {
  const QPointF p = device_position(*e);
  form_.mouse_move(button_mask(e->buttons()), modifier_mask(e->modifiers()),
                   static_cast<float>(p.x()), static_cast<float>(p.y()));
}

void CanvasArea::mouseReleaseEvent(QMouseEvent* e) {
  const QPointF p = device_position(*e);
  form_.mouse_up(button_mask(e->button()), modifier_mask(e->modifiers()), static_cast<float>(p.x()),
                 static_cast<float>(p.y()));
}

void CanvasArea::tabletEvent(QTabletEvent* e) {
  const QPointF p = device_position(*e);
  const auto x = static_cast<float>(p.x()), y = static_cast<float>(p.y());
  const int16_t shift = modifier_mask(e->modifiers());
  const TabletPacket packet = packet_from_event(*e, screen_geometry(*this), *this);
  switch (e->type()) {
    case QEvent::TabletPress:
      form_.pen_event(PenAction::Down, packet, button_mask(e->button()), shift, x, y);
      break;
    case QEvent::TabletMove:
      form_.pen_event(PenAction::Move, packet, button_mask(e->buttons()), shift, x, y);
      break;
    case QEvent::TabletRelease:
      form_.pen_event(PenAction::Up, packet, button_mask(e->button()), shift, x, y);
      break;
    default:
      form_.tablet_packet(packet, QtTabletDevice::kMaximumPressure);
      break;
  }
  e->accept();
}

void CanvasArea::wheelEvent(QWheelEvent* e) {
  const QPointF p = device_position(*e);
  const int16_t shift = modifier_mask(e->modifiers());
  const qreal ratio = devicePixelRatioF();
  e->accept();
  if (shift == modifier::kCtrl) {
    zoom_turn_ += e->angleDelta().y();
    const int notches = static_cast<int>(zoom_turn_ / kWheelNotch);
    if (notches == 0) return;
    zoom_turn_ -= notches * kWheelNotch;
    form_.mouse_wheel(shift, static_cast<float>(p.x()), static_cast<float>(p.y()), 0.0f,
                      notches * kWheelNotch);
    return;
  }
  zoom_turn_ = 0;
  QPointF units = QPointF(e->angleDelta()) * ratio;
  if (!e->pixelDelta().isNull()) {
    units = QPointF(e->pixelDelta()) * ratio * (kWheelNotch / kWheelNotchPixels);
  }
  if (units.isNull()) return;
  form_.mouse_wheel(shift, static_cast<float>(p.x()), static_cast<float>(p.y()),
                    static_cast<float>(units.x()), static_cast<float>(units.y()));
}

void CanvasArea::keyPressEvent(QKeyEvent* e) {
  const int16_t shift = key_event_modifier_mask(*e);
  int16_t code = canvas_key_code(e);
  if (code == 0) code = shifted_key_code(e);
  if (code != 0) {
    if (physical_key(e) != 0) held_codes_[physical_key(e)] = code;
    form_.key_down(code, shift);
  }
  // Characters typed with Ctrl or Alt are shortcuts, not text.
  const QString text = e->text();
  if (text.size() == 1 && text[0].unicode() < 128 && text[0].isPrint() &&
      !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
    form_.key_press(static_cast<int16_t>(text[0].unicode()));
  }
}

void CanvasArea::keyReleaseEvent(QKeyEvent* e) {
  if (e->isAutoRepeat()) return;
  int16_t code = 0;
  if (const auto held = held_codes_.find(physical_key(e)); held != held_codes_.end()) {
    code = held->second;
    held_codes_.erase(held);
  } else {
    code = canvas_key_code(e);
    if (code == 0) code = shifted_key_code(e);
  }
  if (code != 0) form_.key_up(code, key_event_modifier_mask(*e));
}

void CanvasArea::focusOutEvent(QFocusEvent* e) {
  held_codes_.clear();
  QWidget::focusOutEvent(e);
}

QPointF CanvasArea::device_position(const QSinglePointEvent& e) const {
  const qreal ratio = devicePixelRatioF();
  const auto& seen = form_.window_pointer_;
  if (seen && e.timestamp() != 0 && seen->timestamp == e.timestamp()) {
    return (seen->global - mapToGlobal(QPointF(0, 0))) * ratio;
  }
  return e.position() * ratio;
}

}  // namespace tarvo
