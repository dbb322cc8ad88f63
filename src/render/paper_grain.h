#pragma once
// The built-in paper texture: a grain that looks like the tooth of drawing paper when the renderer
// subtracts it from the stroke coverage (high values are the hollows the paint skips first).
//
// The grain is a sum of value-noise octaves on lattices that wrap around the texture's edges, plus
// short fibre streaks drawn with wrap-around, so a tiled texture shows no seam. Values are spread
// around 128 (about 42 per standard deviation) over 0..255. The same size and seed always give the
// same bytes.

#include <cstdint>

#include "core/plane.h"

namespace tarvo {

inline constexpr int32_t kPaperGrainSize = 256;
inline constexpr uint32_t kPaperGrainSeed = 0x7a12c0deu;

// A width x height plane of grain (no spare column or row). Empty when either side is below 1.
Plane make_paper_grain(int32_t width, int32_t height, uint32_t seed);

}  // namespace tarvo
