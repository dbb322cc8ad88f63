#include "render/dab_line.h"

#include <algorithm>
#include <cmath>

#include "render/dab.h"

namespace tarvo {

float PointDistance(float a, float b, float c, float d) {
  const double dx = static_cast<double>(a) - c, dy = static_cast<double>(b) - d;
  return static_cast<float>(std::sqrt(dx * dx + dy * dy));
}

void AALine(CanvasBuffers& canvas, DabLineState& dabs, const BrushSettings& brush, float x0,
            float y0, float x1, float y1, float Bsize1, float BSize2) {
  uint8_t* raster = canvas.FXbuffer.data();
  const int32_t columns = canvas.BufferWidth, rows = canvas.BufferHeight;
  if (canvas.FXbuffer.columns() < columns || canvas.FXbuffer.rows() < rows) return;
  const float strength = brush.PenPress / 255.0f;
  // A pressure that overshoots 1 on the curve would make a dab wider than the brush, reaching past
  // the stroke's dirty rectangle: coverage there would escape the undo record and the clearing at
  // the commit. The dab is therefore never wider than the brush.
  const float widest = brush.BrushSize;
  walk_dab_line(DabSegment{x0, y0, x1, y1, Bsize1, BSize2}, brush.StepPercent, dabs,
                [&](float cx, float cy, float width) {
                  const float w = std::min(width, widest);
                  if (w > 0.0f && std::isfinite(cx) && std::isfinite(cy)) {
                    dabs.reach(cx, cy, w);
                    ++dabs.stamped;
                  }
                  AAcpen(raster, cx, cy, w, 255.0f, strength, columns, rows, &dabs.changes);
                });
}

}  // namespace tarvo
