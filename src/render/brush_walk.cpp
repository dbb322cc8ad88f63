#include "render/brush_walk.h"

#include <algorithm>
#include <cmath>

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

// Stamps and shows the sub-segment from the last drawn sample to s, then makes s the last.
void draw_sub_segment(Program& program, const CurveSample& s) {
  StrokeState& stroke = program.stroke;
  const float size = program.brush.BrushSize;
  grow_dirty_rect(stroke, s, size);
  AALine(program.canvas, program.dabs, program.brush, stroke.LastX, stroke.LastY, s.x, s.y,
         size * stroke.LastPressure, size * s.pressure);
  RenderSegment(program, kPreviewFlag, stroke.LastX, stroke.LastY, s.x, s.y);
  stroke.LastX = s.x;
  stroke.LastY = s.y;
  stroke.LastPressure = s.pressure;
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
  for (float t = 0.0f; t <= 1.0f; t += s) draw_sub_segment(program, sample_piece(rows, t));
}

}  // namespace tarvo
