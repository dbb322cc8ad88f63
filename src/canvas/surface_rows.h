#pragma once
// The kernels that build one row of the display surface from the three image planes.
//
// A surface pixel is a 32-bit word 0xFFRRGGBB: in memory blue, green, red and a fourth byte that
// carries no colour; it is set opaque so that the window system can show the surface as an RGB32
// image without a conversion. Every kernel writes exactly the pixels of its row and nothing else.
// The interleave and the widening have a plain version and, on x86-64 processors that have it, an
// AVX2 version chosen once at run time; the two write identical words, so the choice only changes
// the speed.

#include <cstdint>
#include <vector>

#include "core/display_state.h"

namespace tarvo {

inline uint32_t surface_pixel(uint8_t r, uint8_t g, uint8_t b) {
  return 0xFF000000u | (uint32_t{r} << 16) | (uint32_t{g} << 8) | uint32_t{b};
}

// dst[i] = pixel of (r[i], g[i], b[i]) for i < n: one image row at zoom 1, or the stretch of an
// image row that a zoomed-in row shows.
void interleave_row(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint32_t* dst, int32_t n);

// dst[i] = pixel of (r[x], g[x], b[x]) with x = columns[i], for i < n: a zoomed-out row.
void sample_row(const uint8_t* r, const uint8_t* g, const uint8_t* b, const int32_t* columns,
                uint32_t* dst, int32_t n);

// Fills the map from the image column of each surface column. Returns false, and the map must not
// be used, unless the columns rise by 0 or 1 at every step.
bool prepare_widening(const int32_t* columns, int32_t n, WideningMap& map);

// The words a stretch buffer needs: the AVX2 version loads 8 words from each group's first one.
inline int32_t stretch_capacity(const WideningMap& map) {
  return map.stretch + 8;
}

// dst[i] = stretch[map.offset[i]] for every surface column of the map.
void widen_row(const uint32_t* stretch, const WideningMap& map, uint32_t* dst);

// With true, every kernel takes its plain version from now on, so that a test can check the
// processor-specific versions against it; false restores the choice by processor.
void use_plain_surface_kernels(bool plain);

}  // namespace tarvo
