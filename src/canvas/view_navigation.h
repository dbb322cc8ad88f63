#pragma once
// Everything that changes the view: the canvas keys, actual size, fit to window and the Shift+Ctrl
// drag. Key codes are virtual-key codes; the modifier mask is 1 Shift, 2 Ctrl, 4 Alt.

#include <cstdint>

#include "core/program.h"
#include "render/render_math.h"

namespace tarvo {

namespace key_code {
constexpr int16_t kComma = 188;
constexpr int16_t kPlus = 187;  // the plus/equals key of the main keyboard
constexpr int16_t kMinus = 189;
constexpr int16_t kKeypadPlus = 107;
constexpr int16_t kKeypadMinus = 109;
constexpr int16_t kDigit0 = 48;
constexpr int16_t kDigit1 = 49;
constexpr int16_t kY = 89;
constexpr int16_t kZ = 90;
}  // namespace key_code

namespace modifier {
constexpr int16_t kShift = 1;
constexpr int16_t kCtrl = 2;
constexpr int16_t kAlt = 4;
constexpr int16_t kNavigate = kShift | kCtrl;  // exactly Shift and Ctrl: pan and zoom drags
}  // namespace modifier

// Zoom limits of fit and drag zoom; a drag below the lower limit lands on kDragZoomFloor.
constexpr float kMinFitZoom = 0.25f;
constexpr float kMaxFitZoom = 6.0f;
constexpr float kDragZoomFloor = 0.2f;

// Besides the design's keys (the comma key held to pick, Ctrl with plus or minus on the key's
// release, "u" typed to undo), the keys painters expect: Ctrl+Z undoes and Ctrl+Shift+Z or Ctrl+Y
// redoes, on the key's press, so that a held key repeats; Ctrl+0 fits and Ctrl+1 shows 1:1, and the
// keypad's plus and minus zoom as Ctrl with plus and minus do, alone or with Ctrl, on the release.
void Form_KeyDown(Program& program, int16_t KeyCode, int16_t Shift);
void Form_KeyUp(Program& program, int16_t KeyCode, int16_t Shift);
void Form_KeyPress(Program& program, int16_t KeyAscii);

// The wheel's units: 120 to a notch, as the wheel reports them. A notch scrolls the view by
// kWheelNotchPixels client pixels; with Ctrl it is one zoom step.
constexpr float kWheelNotch = 120.0f;
constexpr float kWheelNotchPixels = 48.0f;

// The wheel turned, or a touchpad scrolled, by (DeltaX, DeltaY) wheel units over client position
// (X, Y); positive values scroll towards the image's top and left, so that the image moves right
// and down. Shift turns a vertical turn into a sideways scroll. With exactly Ctrl held, DeltaY
// zooms instead, a quarter for every whole notch, about (X, Y): the image point under the
// pointer stays under it. A scroll stops where the image's far edge reaches the client's edge, and
// never moves the image further out of view than it already is.
void Form_MouseWheel(Program& program, int16_t Shift, float X, float Y, float DeltaX, float DeltaY);

// Zoom 1, no pan; a window in its normal state is sized to the image.
void actual_size(Program& program);
// The largest zoom, within 0.25 .. 6, at which the image fits the client area, centred.
void fit_to_window(Program& program);

// Puts the view where it was (a session journal's prelude): zoom and pan as given, redrawn.
void set_view(Program& program, float zoom, int32_t pan_x, int32_t pan_y);

// One step of a Shift+Ctrl drag at pointer (X, Y): button 1 pans, button 2 zooms around the image
// centre; every button value redraws.
void navigation_drag(Program& program, int16_t Button, float X, float Y);

}  // namespace tarvo
