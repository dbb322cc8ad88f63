#pragma once
// What every composite of the segment renderer shares: the per-call lookup rows, the planes it
// writes, and the composite of one row's columns through the blend kernels. The box composite and
// the fused pass across boxes both build on it.

#include <array>
#include <cstddef>
#include <cstdint>

#include "render/composite_kernel.h"
#include "render/segment_renderer.h"

namespace tarvo::composite {

// The per-call lookup rows: coverage to strength (curve and opacity folded in) and paper byte to
// the coverage it takes away; the paint bytes, the effective mode and, for a mode that needs its
// table, each channel's row of it.
struct CallSetup {
  std::array<uint8_t, 256> strength;
  std::array<uint8_t, 256> grain;
  CallTables tables;
  int32_t mode = 0;
  bool paper = false, relief = false;
};

// Fills the lookup rows, paint, mode and relief of one call from the settings.
void prepare(CallSetup& s, const PaperTexture& paper, const BrushSettings& brush,
             const BrushTables& tables, float PenAltitude);

// Where the composited colour goes: the previews, the committed planes or both; and, for a
// commit on an image with alpha, its own colours and alpha (else null).
struct Outputs {
  Plane* a[3];
  Plane* b[3];
  LayerPlanes* layer;
};

Outputs outputs_for(CanvasBuffers& c, int32_t flags);
bool all_finite(float a, float b, float c, float d, float e);
// The pixels a box of the corners (x1, y1), (x2, y2) and the brush size covers, clipped.
PixelBox clipped_box(const CanvasBuffers& canvas, float size, float x1, float y1, float x2,
                     float y2);
// Every plane a composite reads or writes holds the whole image.
bool planes_cover_image(const CanvasBuffers& c);
// A box this many times the paper tile looks the grain up once per tile byte.
inline constexpr std::size_t kGroundTileFactor = 8;
PaperTexture ground_paper(const PaperTexture& paper, const std::array<uint8_t, 256>& grain);
RowPointers row_pointers(CanvasBuffers& c, const PaperTexture& paper, const CallSetup& s,
                         const Outputs& out, int32_t y);
// The kernels of a mode; with alpha, those that paint over an image with alpha as coverage.
Kernels kernels_for(int32_t mode, bool paper, bool alpha);
// Composites columns x_begin .. x_end of row y; beyond x_end, up to zero_end, the coverage is zero.
void composite_row(const RowPointers& row, const CallSetup& s, const Kernels& k, int32_t x_begin,
                   int32_t x_end, int32_t y, int32_t width, int32_t height, int32_t zero_end);

}  // namespace tarvo::composite
