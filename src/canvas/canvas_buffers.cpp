#include "canvas/canvas_buffers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

int32_t clamp_to(int64_t v, int32_t high) { return static_cast<int32_t>(std::clamp<int64_t>(v, 0, high)); }

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

void copy_to_previews(CanvasBuffers& canvas) {
  canvas.RPreview.assign(canvas.RBuffer);
  canvas.GPreview.assign(canvas.GBuffer);
  canvas.BPreview.assign(canvas.BBuffer);
}

void clearbuffer(CanvasBuffers& canvas) {
  const int32_t w = canvas.BufferWidth;
  for (int32_t y = 0; y < canvas.BufferHeight; ++y) {
    std::memset(canvas.RBuffer.row(y), 255, w);
    std::memset(canvas.GBuffer.row(y), 255, w);
    std::memset(canvas.BBuffer.row(y), 255, w);
  }
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
