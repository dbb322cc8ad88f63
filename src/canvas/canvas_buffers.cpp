#include "canvas/canvas_buffers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "canvas/row_split.h"

namespace tarvo {

void SortPair(float& a, float& b) {
  if (a > b) std::swap(a, b);
}

namespace {

// floor() of a float as an integer, saturated so that an absurd rectangle still clamps.
int64_t floor_to_int(float v) {
  if (std::isnan(v)) return 0;
  const double f = std::floor(static_cast<double>(v));
  return static_cast<int64_t>(std::clamp(f, -4.0e18, 4.0e18));
}

int32_t clamp_to(int64_t v, int32_t high) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, 0, high));
}

}  // namespace

PixelRect normalise_rect(float left, float top, float right, float bottom, int32_t BufferWidth,
                         int32_t BufferHeight) {
  float l = std::floor(left), t = std::floor(top);
  float r = std::floor(right + 1), b = std::floor(bottom + 1);
  SortPair(l, r);
  SortPair(t, b);
  return PixelRect{clamp_to(floor_to_int(l), BufferWidth), clamp_to(floor_to_int(t), BufferHeight),
                   clamp_to(floor_to_int(r), BufferWidth), clamp_to(floor_to_int(b), BufferHeight)};
}

void allocate_planes(CanvasBuffers& canvas, int32_t BufferWidth, int32_t BufferHeight) {
  canvas.BufferWidth = BufferWidth;
  canvas.BufferHeight = BufferHeight;
  for (Plane* p : {&canvas.RBuffer, &canvas.GBuffer, &canvas.BBuffer, &canvas.RPreview,
                   &canvas.GPreview, &canvas.BPreview}) {
    *p = Plane(BufferWidth + 1, BufferHeight + 1);
  }
  canvas.FXbuffer = Plane(BufferWidth, BufferHeight);
}

namespace {

bool whole_rows(const RowCopy& c) {
  return c.from_x == 0 && c.to_x == 0 && c.width == c.from->columns() && c.width == c.to->columns();
}

void copy_chunk(const RowCopy& c, int32_t begin, int32_t end) {
  if (begin >= end || c.width <= 0) return;
  if (whole_rows(c)) {
    std::memcpy(c.to->row(c.to_y + begin), c.from->row(c.from_y + begin),
                static_cast<std::size_t>(c.width) * (end - begin));
    return;
  }
  for (int32_t j = begin; j < end; ++j) {
    std::memcpy(c.to->row(c.to_y + j) + c.to_x, c.from->row(c.from_y + j) + c.from_x,
                static_cast<std::size_t>(c.width));
  }
}

}  // namespace

void copy_rows(RowHelper* helper, const RowCopy* copies, int32_t count, int32_t height) {
  int64_t row_bytes = 0;
  for (int32_t i = 0; i < count; ++i) row_bytes += std::max(0, copies[i].width);
  if (row_bytes == 0 || height <= 0) return;
  // A stroke's undo patch stays on the calling thread; a whole image is shared.
  share_rows_with_helper(helper, height, row_bytes, [copies, count](int32_t begin, int32_t end) {
    for (int32_t i = 0; i < count; ++i) copy_chunk(copies[i], begin, end);
  });
}

void copy_to_previews(CanvasBuffers& canvas) {
  canvas.previews_differ = PixelRect{};
  const Plane* committed[3] = {&canvas.RBuffer, &canvas.GBuffer, &canvas.BBuffer};
  Plane* previews[3] = {&canvas.RPreview, &canvas.GPreview, &canvas.BPreview};
  RowCopy copies[3];
  for (int i = 0; i < 3; ++i) {
    const Plane& from = *committed[i];
    Plane& to = *previews[i];
    // A preview of another shape (only before the first image arrives) is made to match.
    if (to.columns() != from.columns() || to.rows() != from.rows())
      to = Plane(from.columns(), from.rows());
    copies[i] = RowCopy{&from, &to, 0, 0, 0, 0, from.columns()};
  }
  if (committed[0]->rows() == committed[1]->rows() &&
      committed[0]->rows() == committed[2]->rows()) {
    copy_rows(canvas.helper, copies, 3, committed[0]->rows());
    return;
  }
  for (const RowCopy& c : copies) copy_rows(canvas.helper, &c, 1, c.from->rows());
}

void note_preview_box(CanvasBuffers& canvas, int32_t x_begin, int32_t x_end, int32_t y_begin,
                      int32_t y_end) {
  if (x_begin > x_end || y_begin > y_end) return;
  PixelRect& d = canvas.previews_differ;
  if (d.empty()) {
    d = PixelRect{x_begin, y_begin, x_end + 1, y_end + 1};
    return;
  }
  d.left = std::min(d.left, x_begin);
  d.top = std::min(d.top, y_begin);
  d.right = std::max(d.right, x_end + 1);
  d.bottom = std::max(d.bottom, y_end + 1);
}

void refresh_differing_previews(CanvasBuffers& canvas, const PixelRect& refreshed) {
  PixelRect d = canvas.previews_differ;
  canvas.previews_differ = PixelRect{};
  if (d.left >= refreshed.left && d.top >= refreshed.top && d.right <= refreshed.right &&
      d.bottom <= refreshed.bottom) {
    return;
  }
  d.left = std::max(d.left, 0);
  d.top = std::max(d.top, 0);
  d.right = std::min(d.right, canvas.BufferWidth);
  d.bottom = std::min(d.bottom, canvas.BufferHeight);
  if (d.empty()) return;
  const Plane* committed[3] = {&canvas.RBuffer, &canvas.GBuffer, &canvas.BBuffer};
  Plane* previews[3] = {&canvas.RPreview, &canvas.GPreview, &canvas.BPreview};
  RowCopy copies[3];
  for (int i = 0; i < 3; ++i) {
    copies[i] = RowCopy{committed[i], previews[i], d.left, d.top, d.left, d.top, d.width()};
  }
  copy_rows(canvas.helper, copies, 3, d.height());
}

void clearbuffer(CanvasBuffers& canvas) {
  const int32_t w = canvas.BufferWidth;
  for (int32_t y = 0; y < canvas.BufferHeight; ++y) {
    std::memset(canvas.RBuffer.row(y), 255, w);
    std::memset(canvas.GBuffer.row(y), 255, w);
    std::memset(canvas.BBuffer.row(y), 255, w);
  }
  // An image with alpha is cleared to full transparency, which shows as white; its pixels' own
  // colours, which nothing then shows, stay as they were.
  canvas.layer.alpha.fill(0);
  canvas.FXbuffer.fill(0);
  copy_to_previews(canvas);
}

void ClearFXbuffer(CanvasBuffers& canvas, float left, float top, float right, float bottom) {
  const PixelRect r =
      normalise_rect(left, top, right, bottom, canvas.BufferWidth, canvas.BufferHeight);
  if (r.empty()) return;
  for (int32_t y = r.top; y < r.bottom; ++y) {
    std::memset(canvas.FXbuffer.row(y) + r.left, 0, r.width());
  }
}

}  // namespace tarvo
