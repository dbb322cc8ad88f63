#pragma once
// The uniform Catmull-Rom spline through a stroke's points, one column (x, y or pressure) at a
// time.

namespace tarvo {

// The value at parameter t of the piece that runs from p2 (t = 0) to p3 (t = 1), with p1 and p4
// shaping the tangents there ((p3 - p1) / 2 and (p4 - p2) / 2):
//   0.5 * (2 p2 + (p3 - p1) t + (2 p1 - 5 p2 + 4 p3 - p4) t^2 + (-p1 + 3 p2 - 3 p3 + p4) t^3).
// Evaluated in double precision and rounded once to float. Not clamped: between its ends the curve
// may overshoot the hull of the four values (a pressure slightly outside 0..1, for instance).
float t_Catmull(float t, float p1, float p2, float p3, float p4);

}  // namespace tarvo
