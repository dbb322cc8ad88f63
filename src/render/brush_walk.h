#pragma once
// The brush walk: draws the newest piece of a stroke's spline while the pointer moves.
//
// On the arrival of point n (= PointIndex) the walk samples the Catmull-Rom piece from point n - 2
// (t = 0) to point n - 1 (t = 1), with points n - 3 and n shaping it, so the drawn curve trails the
// pointer by one point. Each sample becomes the end of a straight sub-segment from the last drawn
// sample: its dabs are stamped (AALine, widths BrushSize x pressure at either end) and its box is
// composited into the preview and redrawn (RenderSegment with the preview flag).
//
// The boxes of one walk overlap almost entirely, so by default the walk composites each preview
// pixel only once (after the last sub-segment whose box holds it) and redraws once, over the
// rectangle spanning every sub-segment's redraw rectangle; the previews come out exactly as if
// every box were composited in turn.

#include <cstdint>

#include "core/program.h"

namespace tarvo {

// The parameter step for a piece whose newest point lies d pixels from the last drawn sample:
// 1 when d <= 0, 1 / d when 0 < d <= 10, 0.1 beyond (also for a NaN d). Single precision.
float walk_step(float d);

// The number of samples the walk takes for a given d: the count of t = 0, s, 2s, ... (a running
// single-precision sum) that do not exceed 1. At most ten for d >= 10; one for 0 < d < 1.
int32_t walk_sample_count(float d);

// BrushSettings::preview_pass chooses how DrawBrush brings its sub-segments into the preview:
// Fused as described above (the default), or PerSegment, RenderSegment with the preview flag for
// every sub-segment in turn (the plain form the fused pass is checked against).

// Draws the piece for the newest point (X, Y), the point just stored at StrokePoints(PointIndex).
// Does nothing while fewer than four points are stored (PointIndex < 3). Grows the stroke's dirty
// rectangle by BrushSize around every sample and advances LastX, LastY, LastPressure.
void DrawBrush(Program& program, float X, float Y);

}  // namespace tarvo
