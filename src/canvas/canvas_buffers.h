#pragma once
// The image and stroke planes of the canvas, and the operations that clear them.
//
// The committed planes RBuffer, GBuffer, BBuffer come from the host with one spare column and row
// (BufferWidth + 1 columns, BufferHeight + 1 rows); the spare column and row are never read or
// written. The previews have the same shape. FXbuffer, the coverage of the stroke in progress, is
// exactly BufferWidth x BufferHeight. Every loop uses image pixels 0..BufferWidth-1 and
// 0..BufferHeight-1.
//
// Invariants: outside previews_differ each preview equals its committed plane; between strokes
// FXbuffer is zero everywhere.

#include <cstdint>

#include "core/canvas_state.h"

namespace tarvo {

// If a is greater than b, swaps them.
void SortPair(float& a, float& b);

// Floors the corners (right and bottom after adding 1, so they become exclusive), orders each pair
// and clamps into the image. The floor comes before the swap, so a reversed rectangle is not the
// same as its mirror.
PixelRect normalise_rect(float left, float top, float right, float bottom, int32_t BufferWidth,
                         int32_t BufferHeight);

// Allocates all seven planes zero-filled: the committed and preview planes with the spare column
// and row, the coverage at image size.
void allocate_planes(CanvasBuffers& canvas, int32_t BufferWidth, int32_t BufferHeight);

// One rectangle copy between two planes: `width` bytes a row, starting at (from_x, from_y) in
// `from` and at (to_x, to_y) in `to`; both rectangles lie inside their planes.
struct RowCopy {
  const Plane* from;
  Plane* to;
  int32_t from_x, from_y, to_x, to_y, width;
};

// Performs each copy over `height` rows. A copy of whole rows between planes of the same width
// moves each run of rows as one block. Large copies share their rows with helper, where there is
// one: one core cannot keep the memory busy on its own. Returns once every byte is copied.
void copy_rows(RowHelper* helper, const RowCopy* copies, int32_t count, int32_t height);

// Copies the three committed planes, spare column and row included, into the previews.
void copy_to_previews(CanvasBuffers& canvas);

// Grows previews_differ by the inclusive pixel bounds of a box the preview pass writes.
void note_preview_box(CanvasBuffers& canvas, int32_t x_begin, int32_t x_end, int32_t y_begin,
                      int32_t y_end);

// Copies the committed planes into the previews over previews_differ, which becomes empty: the
// previews then equal the committed planes everywhere, at the cost of the pixels painted since
// the last refresh rather than of the whole image. Nothing is copied when previews_differ lies
// inside `refreshed`, a rectangle where the caller has just made them equal.
void refresh_differing_previews(CanvasBuffers& canvas, const PixelRect& refreshed = PixelRect{});

// Image white (an image with alpha: fully transparent, which shows white), coverage zero, previews
// refreshed. Nothing is redrawn.
void clearbuffer(CanvasBuffers& canvas);

// Zeroes the coverage in a rectangle of image coordinates.
void ClearFXbuffer(CanvasBuffers& canvas, float left, float top, float right, float bottom);

}  // namespace tarvo
