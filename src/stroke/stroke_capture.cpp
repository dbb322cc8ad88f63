#include "stroke/stroke_capture.h"

#include <algorithm>
#include <cmath>

#include "canvas/undo_stack.h"
#include "canvas/view_navigation.h"
#include "render/brush_walk.h"
#include "render/segment_renderer.h"

namespace tarvo {

namespace {

void tablet_prologue(const TabletState& tablet, float& X, float& Y) {
  if (tablet.TabletOn && tablet.PenInProximity) {
    X = tablet.TabletX;
    Y = tablet.TabletY;
  }
}

struct ImagePoint {
  float x, y;
};

ImagePoint image_point(const ViewState& view, float X, float Y) {
  // Worked in double and stored as single floats, without rounding to pixels.
  return {static_cast<float>((static_cast<double>(X) - view.PanX) / view.Zoom * view.StrokeScaleX),
          static_cast<float>((static_cast<double>(Y) - view.PanY) / view.Zoom * view.StrokeScaleY)};
}

void grow_dirty(StrokeState& s, float x, float y, float size) {
  if (x + size > s.DirtyRight) s.DirtyRight = x + size;
  if (x - size < s.DirtyLeft) s.DirtyLeft = x - size;
  if (y + size > s.DirtyBottom) s.DirtyBottom = y + size;
  if (y - size < s.DirtyTop) s.DirtyTop = y - size;
}

void start_stroke(Program& program, float X, float Y) {
  StrokeState& s = program.stroke;
  const float pressure = program.tablet.CurrentPressure;
  const float size = program.brush.BrushSize;
  const ImagePoint p = image_point(program.display.view, X, Y);
  s.PointIndex = 0;
  s.StrokePoints[0] = StrokePoint{p.x, p.y, pressure};
  s.LastX = p.x;
  s.LastY = p.y;
  s.LastPressure = pressure;
  s.DirtyLeft = p.x - size;
  s.DirtyTop = p.y - size;
  s.DirtyRight = p.x + size;
  s.DirtyBottom = p.y + size;
  program.dabs.touched = false;
  program.dabs.changes.start_stroke();
}

// Stores one more point of the stroke, wrapping after the last row; returns its image position.
ImagePoint append_point(Program& program, float X, float Y) {
  StrokeState& s = program.stroke;
  s.PointIndex = s.PointIndex + 1;
  if (s.PointIndex > kLastStrokeRow) s.PointIndex = 0;
  const ImagePoint p = image_point(program.display.view, X, Y);
  s.StrokePoints[s.PointIndex] = StrokePoint{p.x, p.y, program.tablet.CurrentPressure};
  grow_dirty(s, p.x, p.y, program.brush.BrushSize);
  return p;
}

// Undo record, commit and coverage clearing of the finished stroke, in this order: the record
// must hold the image before the commit, and the commit must still see the coverage.
void commit_stroke(Program& program) {
  StrokeState& s = program.stroke;
  const DabLineState& dabs = program.dabs;
  if (dabs.touched) {  // written so that a rectangle side that is not a number is replaced too
    if (!(s.DirtyLeft <= dabs.touched_left)) s.DirtyLeft = dabs.touched_left;
    if (!(s.DirtyTop <= dabs.touched_top)) s.DirtyTop = dabs.touched_top;
    if (!(s.DirtyRight >= dabs.touched_right)) s.DirtyRight = dabs.touched_right;
    if (!(s.DirtyBottom >= dabs.touched_bottom)) s.DirtyBottom = dabs.touched_bottom;
  }
  s.DirtyLeft -= 0.5f;
  s.DirtyTop -= 0.5f;
  s.DirtyRight += 0.5f;
  s.DirtyBottom += 0.5f;
  PushUndo(program.undo, program.canvas, s.DirtyLeft, s.DirtyTop, s.DirtyRight, s.DirtyBottom);
  // The commit visits only the spans that may hold coverage (coverage_changes.h).
  composite_box(
      program.canvas,
      {program.paper, program.brush, program.tables, program.tablet.PenAltitude, kCommitFlag},
      s.DirtyLeft, s.DirtyTop, s.DirtyRight, s.DirtyBottom, &program.dabs.changes);
  ClearFXbuffer(program.canvas, s.DirtyLeft, s.DirtyTop, s.DirtyRight, s.DirtyBottom);
  const PixelRect cleared = normalise_rect(s.DirtyLeft, s.DirtyTop, s.DirtyRight, s.DirtyBottom,
                                           program.canvas.BufferWidth, program.canvas.BufferHeight);
  program.dabs.changes.cleared(cleared.left, cleared.top, cleared.right, cleared.bottom);
  program.dabs.changes.clear();
  program.dabs.changes.invalidate();  // trusted again from the next press
  ++s.commits;
}

}  // namespace

void colour_pick(const ViewState& view, const CanvasBuffers& canvas, ToolsPanel* panel, float X,
                 float Y) {
  const double px =
      std::nearbyint((static_cast<double>(X) - view.PanX) / view.Zoom * view.StrokeScaleX);
  const double py = (static_cast<double>(Y) - view.PanY) / view.Zoom * view.StrokeScaleY;
  if (!(py >= 0 && px >= 0 && px < canvas.BufferWidth)) return;
  const double iy = std::nearbyint(py);
  if (!(iy < canvas.BufferHeight)) return;
  const auto x = static_cast<int32_t>(px), y = static_cast<int32_t>(iy);
  if (panel) {
    panel->set_colour_sliders(canvas.RBuffer(x, y), canvas.GBuffer(x, y), canvas.BBuffer(x, y));
    panel->redraw_triangle();
  }
}

void Form_MouseDown(Program& program, int16_t Button, int16_t Shift, float& X, float& Y) {
  tablet_prologue(program.tablet, X, Y);
  if (program.tablet.TabletOn && !program.tablet.PenInProximity) {
    program.tablet.CurrentPressure = 1.0f;
  }
  if (Button == 0) return;
  StrokeState& s = program.stroke;
  if (s.MouseIsDown) return;  // another button joined a drag already under way
  s.DragStartX = X;
  s.DragStartY = Y;
  s.DragStartPanX = static_cast<float>(program.display.view.PanX);
  s.DragStartPanY = static_cast<float>(program.display.view.PanY);
  s.DragStartZoom = program.display.view.Zoom;
  s.MouseIsDown = true;
  if (Shift == modifier::kNavigate) {
    s.press_mode = PressMode::Navigate;
    return;
  }
  if (program.display.view.PickMode) {
    s.press_mode = PressMode::Pick;
    colour_pick(program.display.view, program.canvas, program.panel, X, Y);
    return;
  }
  s.press_mode = PressMode::Paint;
  start_stroke(program, X, Y);
}

void Form_MouseMove(Program& program, int16_t Button, int16_t /*Shift*/, float& X, float& Y) {
  tablet_prologue(program.tablet, X, Y);
  StrokeState& s = program.stroke;
  if (!s.MouseIsDown) return;
  switch (s.press_mode) {
    case PressMode::Navigate:
      navigation_drag(program, Button, X, Y);
      return;
    case PressMode::Pick:
      if (Button != 0) colour_pick(program.display.view, program.canvas, program.panel, X, Y);
      return;
    case PressMode::Paint: {
      const ImagePoint p = append_point(program, X, Y);
      if (Button != 0 && s.PointIndex >= 3) DrawBrush(program, p.x, p.y);
      return;
    }
    case PressMode::None:
      return;
  }
}

void Form_MouseUp(Program& program, int16_t /*Button*/, int16_t /*Shift*/, float& X, float& Y) {
  tablet_prologue(program.tablet, X, Y);
  StrokeState& s = program.stroke;
  if (!s.MouseIsDown) return;  // the press happened elsewhere
  s.MouseIsDown = false;
  const PressMode mode = s.press_mode;
  s.press_mode = PressMode::None;
  if (mode == PressMode::Navigate) return;
  if (mode == PressMode::Pick) {
    colour_pick(program.display.view, program.canvas, program.panel, X, Y);
    return;
  }
  const ImagePoint p = append_point(program, X, Y);
  DrawBrush(program, p.x, p.y);
  commit_stroke(program);
}

}  // namespace tarvo
