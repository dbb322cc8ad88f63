#pragma once
// Qt's keys, buttons and modifiers as the canvas handlers and event scripts number them: buttons
// left 1, right 2, middle 4; modifiers Shift 1, Ctrl 2, Alt 4; keys as virtual-key codes. The
// canvas, the panel's widgets and the recorder all translate through here.

#include <QKeyEvent>
#include <Qt>
#include <cstdint>

namespace tarvo {

// The button and modifier masks of the canvas handlers: left 1, right 2, middle 4; Shift 1,
// Ctrl 2, Alt 4.
int16_t button_mask(Qt::MouseButtons buttons);
int16_t modifier_mask(Qt::KeyboardModifiers modifiers);
// The virtual-key code of a Qt key: comma 188, plus/equals 187, minus 189, letters and digits as
// their upper-case character; 0 for keys the canvas does not know. With `keypad`, the keypad's
// plus 107 and minus 109.
int16_t virtual_key_code(int qt_key, bool keypad = false);
// The modifier mask held when the key event happened, read from the event itself.
int16_t key_event_modifier_mask(const QKeyEvent& event);

// The keyboard's own code of a key (an XKB keycode under X11 and Wayland), or 0 for an event that
// did not come from the keyboard.
quint32 physical_key(const QKeyEvent* e);
// The canvas key code of a key event: the keypad's plus and minus have codes of their own, apart
// from the main keyboard's.
int16_t canvas_key_code(const QKeyEvent* e);
// The canvas keys by their keycode on a common PC keyboard, for a key pressed with Shift already
// held (Qt then names the shifted character, "<" for the comma key); 0 for any other key.
int16_t shifted_key_code(const QKeyEvent* e);

}  // namespace tarvo
