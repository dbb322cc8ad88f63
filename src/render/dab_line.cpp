#include "render/dab_line.h"

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
  walk_dab_line(DabSegment{x0, y0, x1, y1, Bsize1, BSize2}, brush.StepPercent, dabs,
                [&](float cx, float cy, float width) {
                  AAcpen(raster, cx, cy, width, 255.0f, strength, columns, rows);
                });
}

}  // namespace tarvo
