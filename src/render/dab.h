#pragma once
// The pen dab: one anti-aliased round stamp of coverage into a byte raster.
//
// Raster: columns x rows bytes, x fastest, row 0 first; pixel (x, y) is the unit square
// [x, x + 1) x [y, y + 1), so its centre is (x + 0.5, y + 0.5). Dab centres are in the same
// fractional pixel coordinates.
//
// Profile. width is the RADIUS. With r the distance from the dab centre to a pixel's centre and
// peak = floor(value * strength) (at most 255), the dab's coverage at that pixel is
//
//   peak * clamp(width - r, 0, 1)
//
//   coverage
//     peak |*************************
//          |                         *
//          |                          *        a one-pixel linear rim: a disc of radius
//          |                           *       width - 0.5 with anti-aliased edges
//        0 +----------------------------*-----> r
//          0                   width-1  width
//
// so nothing at or beyond width from the centre is touched, and a dab narrower than a pixel fades
// (a pressure taper to 0 thins the stroke to nothing instead of ending in a hard dot).
//
// Combination. A dab raises coverage to the maximum of what is there and its own coverage; it never
// lowers it and never adds. Overlapping dabs of one stroke therefore give a flat interior whatever
// the spacing (no beads where dabs overlap at small steps) and a stroke's coverage never exceeds
// one dab's peak, so the strength setting is the stroke's ceiling.

#include <cstdint>

#include "core/coverage_changes.h"

namespace tarvo {

// Stamps one dab. Does nothing when raster is null, the raster is empty, width <= 0, the peak is 0,
// or any of cx, cy, width, value, strength is NaN or infinite. Writes only inside the raster and
// only the dab's bounding box; allocates nothing (changes grows once per image height). With
// changes, marks in it, row by row, the span of the pixels whose coverage the dab raised.
void AAcpen(uint8_t* raster, float cx, float cy, float width, float value, float strength,
            int32_t columns, int32_t rows, CoverageChanges* changes = nullptr);

}  // namespace tarvo
