#pragma once

#include <algorithm>
#include <cstdint>

#include "core/coverage_changes.h"

namespace tarvo {

// The dab spacing phase: distance walked since the last dab. It carries across sub-segments and
// strokes and is set to 0 only when a dab is stamped.
//
// The dabs' reach since the stroke began (image pixels): normally inside the stroke's dirty
// rectangle, which grows by the brush size at every sample. A brush size changed in the middle of a
// stroke could leave dabs outside it; the commit then widens the rectangle to them, so that no
// coverage outlives its stroke and every changed pixel is in the undo record.
struct DabLineState {
  float StepDistance = 0.0f;
  bool touched = false;
  // Dabs stamped since the program started: a count for the benchmarks, which compare it with
  // another engine's on the same session.
  uint64_t stamped = 0;
  float touched_left = 0, touched_top = 0, touched_right = 0, touched_bottom = 0;
  // The pixels the dabs raised that the previews have not caught up with yet.
  CoverageChanges changes{};

  void reach(float cx, float cy, float width) {
    // A dab reaches pixels whose centres lie within width of its own; the commit's half-pixel
    // widening takes in the rest of those pixels.
    const float l = cx - width, t = cy - width, r = cx + width, b = cy + width;
    if (!touched) {
      touched = true;
      touched_left = l, touched_top = t, touched_right = r, touched_bottom = b;
      return;
    }
    touched_left = std::min(touched_left, l);
    touched_top = std::min(touched_top, t);
    touched_right = std::max(touched_right, r);
    touched_bottom = std::max(touched_bottom, b);
  }
};

}  // namespace tarvo
