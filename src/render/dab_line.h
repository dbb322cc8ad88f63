#pragma once
// The dab line: pen dabs stamped along one straight sub-segment of a stroke into the coverage
// plane.
//
// The walk goes from the start toward the end in unit steps and keeps a running distance,
// DabLineState::StepDistance, across sub-segments and strokes; each time that distance reaches the
// spacing threshold (StepPercent percent of the START width) it is reset and one dab is stamped.
// The dab width blends linearly from the start width to the end width, which is how pen pressure
// reaches the image. Only coverage changes here; colour comes later, in the segment renderer.

#include <cmath>
#include <cstdint>

#include "canvas/canvas_buffers.h"
#include "core/brush_settings.h"
#include "core/dab_line_state.h"

namespace tarvo {

// The distance from (a, b) to (c, d), computed in double and rounded to float.
float PointDistance(float a, float b, float c, float d);

// One sub-segment: start (x0, y0), end (x1, y1) in image pixels, dab widths at the two ends.
struct DabSegment {
  float x0, y0, x1, y1;
  float Bsize1, BSize2;
};

// The walk itself, with the stamping left to stamp_dab(cx, cy, width). Positions are
// (x0 + k sx, y0 + k sy) for k = 0..n, each reached by adding the unit step (sx, sy) to the
// previous one in single precision, where n = len rounded half to even (len the segment length). On
// a zero-length segment the single position k = 0 is visited and the step is (0, 0). A segment
// whose length is NaN, infinite or beyond kMaxDabLineLength (where float positions no longer
// advance by whole pixels) visits nothing and leaves StepDistance alone.
inline constexpr float kMaxDabLineLength = 16777216.0f;

template <class StampDab>
void walk_dab_line(const DabSegment& s, float StepPercent, DabLineState& dabs,
                   StampDab&& stamp_dab) {
  const float len = PointDistance(s.x0, s.y0, s.x1, s.y1);
  if (!(len <= kMaxDabLineLength)) return;
  float sx = 0.0f, sy = 0.0f;
  if (len != 0.0f) {
    sx = (s.x1 - s.x0) / len;
    sy = (s.y1 - s.y0) / len;
  }
  const auto n = static_cast<int64_t>(std::nearbyint(static_cast<double>(len)));
  const float divisor = n == 0 ? 0.000001f : static_cast<float>(n);
  const float threshold = StepPercent / 100.0f * s.Bsize1;
  const float unit = PointDistance(0.0f, 0.0f, sx, sy);
  float x = s.x0, y = s.y0;
  for (int64_t k = 0; k <= n; ++k) {
    const float t = static_cast<float>(k) / divisor;
    const float width = (1.0f - t) * s.Bsize1 + t * s.BSize2;
    dabs.StepDistance = dabs.StepDistance + unit;
    if (dabs.StepDistance >= threshold) {
      dabs.StepDistance = 0.0f;
      stamp_dab(x, y, width);
    }
    x = x + sx;
    y = y + sy;
  }
}

// Stamps the dabs of the sub-segment (x0, y0)-(x1, y1) into canvas.FXbuffer with AAcpen: value
// 255, strength PenPress / 255, widths blending from Bsize1 to BSize2. Reads StepPercent and
// PenPress from brush.
void AALine(CanvasBuffers& canvas, DabLineState& dabs, const BrushSettings& brush, float x0,
            float y0, float x1, float y1, float Bsize1, float BSize2);

}  // namespace tarvo
