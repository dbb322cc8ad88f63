#include "canvas/view_navigation.h"

#include <algorithm>
#include <cmath>

#include "canvas/image_history.h"

namespace tarvo {

namespace {

void redraw(Program& program) {
  displaybuffers(program.display, program.size(), program.canvas.RBuffer, program.canvas.GBuffer,
                 program.canvas.BBuffer);
}

void rezoom(Program& program) {
  CreateDisplaySurface(program.display, program.size());
  redraw(program);
}

}  // namespace

void Form_KeyDown(Program& program, int16_t KeyCode, int16_t /*Shift*/) {
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
  if (Shift != modifier::kCtrl) return;
  if (KeyCode == key_code::kPlus) {
    view.Zoom += 0.25f;
    rezoom(program);
  } else if (KeyCode == key_code::kMinus && view.Zoom > 0.25f) {
    view.Zoom -= 0.25f;
    rezoom(program);
  }
}

void Form_KeyPress(Program& program, int16_t KeyAscii) {
  if (KeyAscii == 'u') Undo(program);
}

void set_view(Program& program, float zoom, int32_t pan_x, int32_t pan_y) {
  ViewState& view = program.display.view;
  view.Zoom = zoom;
  view.PanX = pan_x;
  view.PanY = pan_y;
  rezoom(program);
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
  rezoom(program);
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
  rezoom(program);
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
  redraw(program);
}

}  // namespace tarvo
