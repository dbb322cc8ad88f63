#include "render/brush_walk.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <span>

#include "canvas/display_surface.h"
#include "render/dab_line.h"
#include "render/segment_renderer.h"
#include "stroke/catmull_rom.h"

namespace tarvo {

namespace {

// One point of the curve: image position and pressure.
struct CurveSample {
  float x, y, pressure;
};

CurveSample sample_piece(const StrokePoint* rows, float t) {
  const StrokePoint &a = rows[0], &b = rows[1], &c = rows[2], &d = rows[3];
  return CurveSample{t_Catmull(t, a.x, b.x, c.x, d.x), t_Catmull(t, a.y, b.y, c.y, d.y),
                     t_Catmull(t, a.pressure, b.pressure, c.pressure, d.pressure)};
}

void grow_dirty_rect(StrokeState& stroke, const CurveSample& s, float size) {
  stroke.DirtyRight = std::max(stroke.DirtyRight, s.x + size);
  stroke.DirtyLeft = std::min(stroke.DirtyLeft, s.x - size);
  stroke.DirtyBottom = std::max(stroke.DirtyBottom, s.y + size);
  stroke.DirtyTop = std::min(stroke.DirtyTop, s.y - size);
}

void stamp_sub_segment(Program& program, const CurveSample& s) {
  StrokeState& stroke = program.stroke;
  const float size = program.brush.BrushSize;
  grow_dirty_rect(stroke, s, size);
  AALine(program.canvas, program.dabs, program.brush, stroke.LastX, stroke.LastY, s.x, s.y,
         size * stroke.LastPressure, size * s.pressure);
}

void advance_last(StrokeState& stroke, const CurveSample& s) {
  stroke.LastX = s.x;
  stroke.LastY = s.y;
  stroke.LastPressure = s.pressure;
}

// Stamps and shows the sub-segment from the last drawn sample to s, then makes s the last.
void draw_sub_segment(Program& program, const CurveSample& s) {
  StrokeState& stroke = program.stroke;
  stamp_sub_segment(program, s);
  RenderSegment(program, kPreviewFlag, stroke.LastX, stroke.LastY, s.x, s.y);
  program.dabs.changes.clear();  // the whole box was composited
  advance_last(stroke, s);
}

// The samples of one walk, each the end of a sub-segment starting at the one before (the first
// starts at LastX, LastY), with the pixel box each sub-segment composites.
constexpr std::size_t kMaxBatch = 16;
struct SampleBatch {
  std::array<CurveSample, kMaxBatch> ends;
  std::array<PixelBox, kMaxBatch> boxes;
  std::size_t count = 0;
};

void grow_redraw(std::optional<RedrawRect>& all, const std::optional<RedrawRect>& r) {
  if (!r) return;
  if (!all) {
    all = r;
    return;
  }
  all->left = std::min(all->left, r->left);
  all->top = std::min(all->top, r->top);
  all->right = std::max(all->right, r->right);
  all->bottom = std::max(all->bottom, r->bottom);
}

// Stamps the batch's sub-segments in order. After the dabs of each it composites the pixels of its
// box that no LATER box of the batch covers, so a pixel is composited once, right after the last
// sub-segment whose box holds it: the very moment of its last composite when every box is
// composited in turn, so with the same coverage and committed planes it gets the same preview.
// Then one redraw of the rectangle spanning every sub-segment's redraw rectangle.
void draw_batch(Program& program, const SampleBatch& batch) {
  StrokeState& stroke = program.stroke;
  const float size = program.brush.BrushSize, zoom = program.display.view.Zoom;
  std::optional<RedrawRect> redraw;
  const auto stamp = [&](std::size_t i) {
    const CurveSample& s = batch.ends[i];
    stamp_sub_segment(program, s);
    grow_redraw(redraw, preview_redraw_rect(stroke.LastX, stroke.LastY, s.x, s.y, size, zoom));
    advance_last(stroke, s);
  };
  composite_boxes_once(
      program.canvas,
      {program.paper, program.brush, program.tables, program.tablet.PenAltitude, kPreviewFlag},
      std::span<const PixelBox>(batch.boxes.data(), batch.count), stamp, &program.dabs.changes);
  if (!redraw) return;
  const CanvasBuffers& c = program.canvas;
  BlitPlanes(program.display, program.size(), c.RPreview, c.GPreview, c.BPreview, redraw->left,
             redraw->top, redraw->right, redraw->bottom);
}

void draw_brush_fused(Program& program, const StrokePoint* rows, float s) {
  SampleBatch batch;
  float x = program.stroke.LastX, y = program.stroke.LastY;
  for (float t = 0.0f; t <= 1.0f; t += s) {
    if (batch.count == kMaxBatch) {  // never for the walk's step sizes; kept exact regardless
      draw_batch(program, batch);
      batch.count = 0;
    }
    const CurveSample end = sample_piece(rows, t);
    batch.ends[batch.count] = end;
    batch.boxes[batch.count] =
        segment_pixel_box(program.canvas, program.brush.BrushSize, x, y, end.x, end.y);
    ++batch.count;
    x = end.x;
    y = end.y;
  }
  draw_batch(program, batch);
}

}  // namespace

float walk_step(float d) {
  if (d <= 0.0f) return 1.0f;
  if (d <= 10.0f) return 1.0f / d;
  return 0.1f;
}

int32_t walk_sample_count(float d) {
  const float s = walk_step(d);
  int32_t count = 0;
  for (float t = 0.0f; t <= 1.0f; t += s) ++count;
  return count;
}

void DrawBrush(Program& program, float X, float Y) {
  StrokeState& stroke = program.stroke;
  const int32_t n = stroke.PointIndex;
  if (n < 3) return;
  if (static_cast<std::size_t>(n) >= stroke.StrokePoints.size()) return;
  const StrokePoint* rows = stroke.StrokePoints.data() + (n - 3);
  const float d = PointDistance(X, Y, stroke.LastX, stroke.LastY);
  const float s = walk_step(d);
  if (program.brush.preview_pass == PreviewPass::Fused) {
    draw_brush_fused(program, rows, s);
    return;
  }
  for (float t = 0.0f; t <= 1.0f; t += s) draw_sub_segment(program, sample_piece(rows, t));
}

}  // namespace tarvo
