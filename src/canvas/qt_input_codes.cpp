#include "canvas/qt_input_codes.h"

#include "canvas/view_navigation.h"

namespace tarvo {

namespace {

// X11 and Wayland both report the modifiers held when the key event happened in the core
// modifier bits of the key event itself.
constexpr quint32 kNativeShift = 0x1, kNativeControl = 0x4, kNativeAlt = 0x8;

}  // namespace

quint32 physical_key(const QKeyEvent* e) {
  return e->nativeScanCode();
}

int16_t canvas_key_code(const QKeyEvent* e) {
  return virtual_key_code(e->key(), e->modifiers() & Qt::KeypadModifier);
}

// Keycodes on a common PC keyboard are evdev codes + 8.
int16_t shifted_key_code(const QKeyEvent* e) {
  if (!(e->modifiers() & Qt::ShiftModifier)) return 0;
  switch (physical_key(e)) {
    case 59:
      return key_code::kComma;
    case 21:
      return key_code::kPlus;
    case 20:
      return key_code::kMinus;
    default:
      return 0;
  }
}

int16_t key_event_modifier_mask(const QKeyEvent& e) {
  // Qt may read the modifiers when it delivers the event rather than when the key moved: Ctrl let
  // go a few milliseconds after "=" would already be gone. A keyboard event carries its own.
  if (physical_key(&e) == 0) return modifier_mask(e.modifiers());
  const quint32 native = e.nativeModifiers();
  int16_t mask = 0;
  if (native & kNativeShift) mask |= modifier::kShift;
  if (native & kNativeControl) mask |= modifier::kCtrl;
  if (native & kNativeAlt) mask |= modifier::kAlt;
  return mask;
}

int16_t button_mask(Qt::MouseButtons buttons) {
  int16_t mask = 0;
  if (buttons & Qt::LeftButton) mask |= 1;
  if (buttons & Qt::RightButton) mask |= 2;
  if (buttons & Qt::MiddleButton) mask |= 4;
  return mask;
}

int16_t modifier_mask(Qt::KeyboardModifiers modifiers) {
  int16_t mask = 0;
  if (modifiers & Qt::ShiftModifier) mask |= modifier::kShift;
  if (modifiers & Qt::ControlModifier) mask |= modifier::kCtrl;
  if (modifiers & Qt::AltModifier) mask |= modifier::kAlt;
  return mask;
}

int16_t virtual_key_code(int qt_key, bool keypad) {
  if (keypad && qt_key == Qt::Key_Plus) return key_code::kKeypadPlus;
  if (keypad && qt_key == Qt::Key_Minus) return key_code::kKeypadMinus;
  switch (qt_key) {
    case Qt::Key_Comma:
      return key_code::kComma;
    case Qt::Key_Equal:
    case Qt::Key_Plus:
      return key_code::kPlus;
    case Qt::Key_Minus:
      return key_code::kMinus;
    default:
      break;
  }
  if ((qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) ||
      (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9)) {
    return static_cast<int16_t>(qt_key);
  }
  return 0;
}

}  // namespace tarvo
