#include "render/segment_renderer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <span>

#include "canvas/display_surface.h"
#include "render/blend_modes.h"
#include "render/composite_kernel.h"
#include "render/composite_rows.h"
#include "render/render_math.h"

namespace tarvo {

using namespace composite;

std::optional<RedrawRect> preview_redraw_rect(float x1, float y1, float x2, float y2,
                                              float BrushSize, float Zoom) {
  if (Zoom == 0.0f || !all_finite(x1, y1, x2, y2, BrushSize) || !std::isfinite(Zoom)) {
    return std::nullopt;
  }
  SortPair(x1, x2);
  SortPair(y1, y2);
  const float margin = 1.0f / Zoom;
  return RedrawRect{round_half_even(std::floor(x1 - BrushSize) - margin),
                    round_half_even(std::floor(y1 - BrushSize) - margin),
                    round_half_even(std::floor(x2 + BrushSize) + margin),
                    round_half_even(std::floor(y2 + BrushSize) + margin)};
}

void composite_box(CanvasBuffers& canvas, const CompositeInputs& in, float x1, float y1, float x2,
                   float y2, const CoverageChanges* held) {
  const PaperTexture& paper = in.paper;
  const BrushSettings& brush = in.brush;
  const int32_t flags = in.flags;
  if ((flags & (kPreviewFlag | kCommitFlag)) == 0) return;
  if (!all_finite(x1, y1, x2, y2, brush.BrushSize) || !planes_cover_image(canvas)) return;
  const PixelBox box = clipped_box(canvas, brush.BrushSize, x1, y1, x2, y2);
  if (box.empty()) return;
  if (flags & kPreviewFlag)
    note_preview_box(canvas, box.x_begin, box.x_end, box.y_begin, box.y_end);

  CallSetup setup;
  prepare(setup, paper, brush, in.tables, in.PenAltitude);
  const Kernels kernels = kernels_for(setup.mode, setup.paper, !canvas.layer.empty());
  const Outputs out = outputs_for(canvas, flags);
  // A box many times the paper tile (a stroke's commit) looks the grain up once per tile byte
  // instead of once per pixel, and three times with relief.
  PaperTexture ground;
  const std::size_t box_pixels =
      std::size_t(box.x_end - box.x_begin + 1) * std::size_t(box.y_end - box.y_begin + 1);
  if (setup.paper && box_pixels >= kGroundTileFactor * std::size_t(paper.PaperWidth) *
                                       std::size_t(paper.PaperHeight)) {
    ground = ground_paper(paper, setup.grain);
    setup.tables.grain_applied = true;
  }
  const PaperTexture& rows_paper = setup.tables.grain_applied ? ground : paper;
  const bool held_only = held != nullptr && setup.strength[0] == 0;
  for (int32_t y = box.y_begin; y <= box.y_end; ++y) {
    int32_t x_begin = box.x_begin, x_end = box.x_end;
    if (held_only) {
      int32_t first = 0, last = -1;
      if (!held->held_row(y, first, last)) continue;
      x_begin = std::max(x_begin, first);
      x_end = std::min(x_end, last);
      if (x_begin > x_end) continue;
    }
    const RowPointers row = row_pointers(canvas, rows_paper, setup, out, y);
    // Beyond the held span, up to the box's edge, the coverage is zero.
    composite_row(row, setup, kernels, x_begin, x_end, y, canvas.BufferWidth, canvas.BufferHeight,
                  box.x_end);
  }
}

PixelBox segment_pixel_box(const CanvasBuffers& canvas, float BrushSize, float x1, float y1,
                           float x2, float y2) {
  if (!all_finite(x1, y1, x2, y2, BrushSize)) return PixelBox{0, -1, 0, -1};
  return clipped_box(canvas, BrushSize, x1, y1, x2, y2);
}

void RenderSegment(Program& program, int32_t flags, float x1, float y1, float x2, float y2) {
  composite_box(program.canvas,
                {program.paper, program.brush, program.tables, program.tablet.PenAltitude, flags},
                x1, y1, x2, y2);
  if ((flags & kPreviewFlag) == 0) return;
  const std::optional<RedrawRect> rect =
      preview_redraw_rect(x1, y1, x2, y2, program.brush.BrushSize, program.display.view.Zoom);
  if (!rect) return;
  const CanvasBuffers& c = program.canvas;
  BlitPlanes(program.display, program.size(), c.RPreview, c.GPreview, c.BPreview, rect->left,
             rect->top, rect->right, rect->bottom);
}

}  // namespace tarvo
