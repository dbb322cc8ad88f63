#include "canvas/view_navigation.h"

#include <algorithm>
#include <cmath>

#include "canvas/display_surface.h"
#include "canvas/image_history.h"

namespace tarvo {

namespace {

// Draws the committed image at the current view.
void redraw(CanvasDisplay& display, const CanvasBuffers& canvas) {
  displaybuffers(display, ImageSize{canvas.BufferWidth, canvas.BufferHeight}, canvas.RBuffer,
                 canvas.GBuffer, canvas.BBuffer);
}

// Makes the display surface for the current zoom, then draws the image.
void rezoom(CanvasDisplay& display, const CanvasBuffers& canvas) {
  CreateDisplaySurface(display, ImageSize{canvas.BufferWidth, canvas.BufferHeight});
  redraw(display, canvas);
}

// More zoom steps than one turn of the wheel can give are not meant.
constexpr float kMaxWheelSteps = 64.0f;

// Changes the zoom by the keys' step of a quarter, in or out (out only from above a quarter).
// False when it stays as it was.
bool change_zoom_by_a_step(ViewState& view, bool in) {
  if (in) {
    view.Zoom += 0.25f;
  } else if (view.Zoom > 0.25f) {
    view.Zoom -= 0.25f;
  } else {
    return false;
  }
  return true;
}

void step_zoom(CanvasDisplay& display, const CanvasBuffers& canvas, bool in) {
  if (change_zoom_by_a_step(display.view, in)) rezoom(display, canvas);
}

// The pan along one axis after scrolling by `by` pixels: the image of `extent` client pixels may
// move until its far edge meets the client's edge (or, when smaller, until it touches either edge),
// and a pan already beyond that range only moves back towards it.
int32_t scrolled_pan(int32_t pan, double by, double extent, double client) {
  const double low = std::min({0.0, client - extent, static_cast<double>(pan)});
  const double high = std::max({0.0, client - extent, static_cast<double>(pan)});
  return round_half_even(std::clamp(pan + by, low, high));
}

void scroll_view(CanvasDisplay& display, const CanvasBuffers& canvas, double dx, double dy) {
  if (!display.window) return;
  ViewState& view = display.view;
  const double zoom = view.Zoom;
  view.PanX =
      scrolled_pan(view.PanX, dx, canvas.BufferWidth * zoom, display.window->client_width());
  view.PanY =
      scrolled_pan(view.PanY, dy, canvas.BufferHeight * zoom, display.window->client_height());
  redraw(display, canvas);
}

// Zooms by `steps` key steps about client point (X, Y).
void zoom_about(CanvasDisplay& display, const CanvasBuffers& canvas, int steps, float X, float Y) {
  ViewState& view = display.view;
  const double image_x = (static_cast<double>(X) - view.PanX) / view.Zoom;
  const double image_y = (static_cast<double>(Y) - view.PanY) / view.Zoom;
  const float before = view.Zoom;
  for (int i = 0; i < std::abs(steps); ++i) change_zoom_by_a_step(view, steps > 0);
  if (view.Zoom == before) return;
  view.PanX = round_half_even(X - image_x * view.Zoom);
  view.PanY = round_half_even(Y - image_y * view.Zoom);
  rezoom(display, canvas);
}

}  // namespace

void Form_KeyDown(Program& program, int16_t KeyCode, int16_t Shift) {
  const bool ctrl = Shift == modifier::kCtrl;
  if ((KeyCode == key_code::kZ && Shift == modifier::kNavigate) ||
      (KeyCode == key_code::kY && ctrl)) {
    Redo(program);
    return;
  }
  if (KeyCode == key_code::kZ && ctrl) {
    Undo(program);
    return;
  }
  if (KeyCode != key_code::kComma) return;
  if (program.display.window) program.display.window->set_pointer(PointerShape::Arrow);
  program.display.view.PickMode = true;
}

void Form_KeyUp(Program& program, int16_t KeyCode, int16_t Shift) {
  ViewState& view = program.display.view;
  if (KeyCode == key_code::kComma) {
    if (program.display.window) program.display.window->set_pointer(PointerShape::Crosshair);
    view.PickMode = false;
  }
  const bool keypad = KeyCode == key_code::kKeypadPlus || KeyCode == key_code::kKeypadMinus;
  if (keypad && (Shift == 0 || Shift == modifier::kCtrl)) {
    step_zoom(program.display, program.canvas, KeyCode == key_code::kKeypadPlus);
    return;
  }
  if (Shift != modifier::kCtrl) return;
  switch (KeyCode) {
    case key_code::kPlus:
      step_zoom(program.display, program.canvas, true);
      break;
    case key_code::kMinus:
      step_zoom(program.display, program.canvas, false);
      break;
    case key_code::kDigit0:
      fit_to_window(program);
      break;
    case key_code::kDigit1:
      actual_size(program);
      break;
    default:
      break;
  }
}

void Form_MouseWheel(Program& program, int16_t Shift, float X, float Y, float DeltaX,
                     float DeltaY) {
  if (Shift == modifier::kCtrl) {
    // Whole notches only: the rest of a touchpad's small turns waits for more.
    const float notches = std::clamp(DeltaY / kWheelNotch, -kMaxWheelSteps, kMaxWheelSteps);
    zoom_about(program.display, program.canvas, static_cast<int>(notches), X, Y);
    return;
  }
  if ((Shift & modifier::kShift) && DeltaX == 0.0f) std::swap(DeltaX, DeltaY);
  const double per_unit = kWheelNotchPixels / kWheelNotch;
  scroll_view(program.display, program.canvas, DeltaX * per_unit, DeltaY * per_unit);
}

void Form_KeyPress(Program& program, int16_t KeyAscii) {
  if (KeyAscii == 'u') Undo(program);
}

void set_view(Program& program, float zoom, int32_t pan_x, int32_t pan_y) {
  ViewState& view = program.display.view;
  view.Zoom = zoom;
  view.PanX = pan_x;
  view.PanY = pan_y;
  rezoom(program.display, program.canvas);
}

void actual_size(Program& program) {
  ViewState& view = program.display.view;
  view.Zoom = 1.0f;
  view.PanX = 0;
  view.PanY = 0;
  CanvasWindow* window = program.display.window;
  if (window && window->window_state() == WindowState::Normal) {
    window->resize_client(program.canvas.BufferWidth, program.canvas.BufferHeight);
  }
  rezoom(program.display, program.canvas);
}

void fit_to_window(Program& program) {
  if (!program.display.window) return;
  ViewState& view = program.display.view;
  const double cw = program.display.window->client_width();
  const double ch = program.display.window->client_height();
  const double bw = program.canvas.BufferWidth, bh = program.canvas.BufferHeight;
  const double a = (cw - bw) / bw;
  const double b = (ch - bh) / bh;
  view.Zoom = static_cast<float>((b > a ? a : b) + 1);
  if (view.Zoom < kMinFitZoom) view.Zoom = kMinFitZoom;
  if (view.Zoom > kMaxFitZoom) view.Zoom = kMaxFitZoom;
  view.PanX = round_half_even(cw / 2 - bw * view.Zoom / 2);
  view.PanY = round_half_even(ch / 2 - bh * view.Zoom / 2);
  rezoom(program.display, program.canvas);
}

void navigation_drag(Program& program, int16_t Button, float X, float Y) {
  ViewState& view = program.display.view;
  const StrokeState& s = program.stroke;
  if (Button == 1) {
    view.PanX = round_half_even(X + s.DragStartPanX - s.DragStartX);
    view.PanY = round_half_even(Y + s.DragStartPanY - s.DragStartY);
  } else if (Button == 2) {
    view.Zoom = (X - s.DragStartX) / 200.0f + s.DragStartZoom;
    if (view.Zoom < kMinFitZoom) view.Zoom = kDragZoomFloor;
    if (view.Zoom > kMaxFitZoom) view.Zoom = kMaxFitZoom;
    if (std::isnan(view.Zoom)) view.Zoom = s.DragStartZoom;
    const double grown = static_cast<double>(view.Zoom) - s.DragStartZoom;
    view.PanX = round_half_even(s.DragStartPanX - grown * program.canvas.BufferWidth / 2);
    view.PanY = round_half_even(s.DragStartPanY - grown * program.canvas.BufferHeight / 2);
    CreateDisplaySurface(program.display, program.size());
  }
  redraw(program.display, program.canvas);
}

}  // namespace tarvo
