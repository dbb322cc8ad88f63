#pragma once
// The segment renderer: turns stroke coverage into colour over one axis-aligned box.
//
// For every image pixel of the box it shapes the coverage held in FXbuffer (paper grain, response
// curve, opacity) into a paint strength a in 0..255, blends the paint colour with the COMMITTED
// image by the blend mode, optionally adds a relief shading from the slope of the coverage, and
// writes the result to the preview planes, the committed planes or both. Every call recomputes from
// the committed planes and the accumulated coverage, so compositing a box twice gives the same
// pixels and overlapping sub-segment boxes never apply paint twice.
//
// On an image with alpha (canvas.layer not empty) the strength becomes coverage: a pixel of alpha
// A painted with strength a gets alpha A + a (255 - A) / 255, rounded, and the colour of paint of
// that strength laid over its own ("over" compositing); the committed and preview planes get what
// that looks like over white, and a commit writes the layer planes too. Every mode computes its
// colour from the pixel's own colour, or lays the paint colour itself over full transparency
// (composite_kernel.h). Opaque pixels get exactly the bytes they would get without alpha.
//
// The box of a call with corners (x1, y1), (x2, y2) covers, on each axis, every integer from
// floor(min - BrushSize) to floor(max + BrushSize), both ends included, limited to the image.
//
// Values the tools panel never sets are made harmless rather than trusted, so that no setting can
// read outside a table or overflow:
//   - BlendMode outside 0..10, or blend tables that were never built: composited as Default (0).
//   - BrushCurve outside 1..2: no curve, as 0.
//   - Opacity is clamped into 0..255 (NaN counts as 0); PaperGrain is clamped into 0..255.
//   - ColorR, ColorG, ColorB are rounded half to even and clamped into 0..255 (NaN counts as 0).
//   - A paper texture with a zero size, or smaller than its stated size, counts as no paper.
//   - NaN or infinite corners or BrushSize composite nothing; a huge box is clipped to the image
//     before any pixel is visited.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

#include "canvas/canvas_buffers.h"
#include "core/brush_settings.h"
#include "core/coverage_changes.h"
#include "core/program.h"
#include "render/brush_tables.h"

namespace tarvo {

// Bits of the flags argument.
inline constexpr int32_t kPreviewFlag = 1;  // write the preview planes, then redraw the box
inline constexpr int32_t kCommitFlag = 2;   // write the committed planes, no redraw

// What a composite reads besides the planes it writes: the paper, the brush settings, the lookup
// tables, the pen's altitude (negative: the pen turned over, which paints white whatever the
// colour) and the flags that choose the planes it writes (kPreviewFlag, kCommitFlag, or both).
struct CompositeInputs {
  const PaperTexture& paper;
  const BrushSettings& brush;
  const BrushTables& tables;
  float PenAltitude = 0.0f;
  int32_t flags = 0;
};

// Inclusive image rectangle handed to BlitPlanes.
struct RedrawRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool operator==(const RedrawRect&) const = default;
};

// The image rectangle the preview redraws after compositing the box of (x1, y1), (x2, y2): the box
// grown by 1 / Zoom on every side so that a zoomed-out view does not leave a seam:
//   left = round(floor(min x - BrushSize) - 1 / Zoom), right = round(floor(max x + BrushSize) +
//   1 / Zoom), and the same for top and bottom, in single precision, rounding halves to even.
// Empty when Zoom is 0 or any input is NaN or infinite.
std::optional<RedrawRect> preview_redraw_rect(float x1, float y1, float x2, float y2,
                                              float BrushSize, float Zoom);

// Composites the box into the planes chosen by in.flags. Needs no window and allocates nothing.
//
// With held (the dabs' record, coverage_changes.h), when coverage 0 gives strength 0, only the
// spans of its record of held coverage are visited in each row of the box: outside them the
// coverage is zero, and such pixels are left as they are. The planes come out the same; a stroke's
// commit is spared the scan of its whole rectangle for coverage.
void composite_box(CanvasBuffers& canvas, const CompositeInputs& in, float x1, float y1, float x2,
                   float y2, const CoverageChanges* held = nullptr);

// Inclusive pixel bounds of a box, already clipped to the image; empty when either range is.
struct PixelBox {
  int32_t x_begin, x_end, y_begin, y_end;
  bool empty() const { return x_begin > x_end || y_begin > y_end; }
  bool operator==(const PixelBox&) const = default;
};

// The pixels composite_box visits for the corners (x1, y1), (x2, y2): the box rule above, clipped
// to the image. Empty when a corner or BrushSize is NaN or infinite.
PixelBox segment_pixel_box(const CanvasBuffers& canvas, float BrushSize, float x1, float y1,
                           float x2, float y2);

// The most boxes composite_box_except takes: box itself and at most kMaxPixelBoxes - 1 others.
inline constexpr std::size_t kMaxPixelBoxes = 32;

// Composites, like composite_box, the pixels of box that no box of others covers; each pixel gives
// exactly what composite_box gives it. box must lie inside the image (as segment_pixel_box returns
// it); a box outside it, or more others than kMaxPixelBoxes - 1, composites nothing. Allocates
// nothing.
void composite_box_except(CanvasBuffers& canvas, const CompositeInputs& in, const PixelBox& box,
                          std::span<const PixelBox> others);

// Composites the boxes in order, each pixel once: first calls before_box(i) (which may add
// coverage, but must not change the committed planes or anything in in),
// then composites the pixels of boxes[i] that no LATER box covers, as composite_box_except does.
// So every pixel gets its composite as of the last box holding it, exactly what compositing every
// box in full after its before_box call would leave (given that coverage only grows, so a pixel
// whose strength was not 0 at an earlier box is not 0 at a later one: strength 0 keeps the pixel).
// With more than kMaxPixelBoxes boxes, or planes that do not cover the image, only the calls are
// made.
//
// With changes (the dabs' record of raised coverage, see coverage_changes.h), a trusted record and
// the stroke's settings unchanged, only the raised pixels of each box are composited: every other
// pixel already holds what compositing it would give, so the planes come out the same. Otherwise
// the boxes are composited in full and the record is no longer trusted. Either way the record is
// emptied at the end, the previews having caught up with it.
void composite_boxes_once(CanvasBuffers& canvas, const CompositeInputs& in,
                          std::span<const PixelBox> boxes,
                          const std::function<void(std::size_t)>& before_box,
                          CoverageChanges* changes = nullptr);

// composite_box with the program's state; with kPreviewFlag, then redraws preview_redraw_rect of
// the preview planes through BlitPlanes, which clips it to the image and to the visible canvas.
void RenderSegment(Program& program, int32_t flags, float x1, float y1, float x2, float y2);

}  // namespace tarvo
