#include "canvas/display_surface.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "app/runtime_error.h"

namespace tarvo {

namespace {

// The fourth byte of a surface pixel carries no colour; it is set opaque so that the window system
// can show the surface as an RGB32 image without a conversion.
constexpr uint32_t kOpaque = 0xFF000000u;

// v rounded to the nearest integer, halves to even, saturated into the 32-bit range.
int32_t round_even(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<int32_t>(std::clamp(std::nearbyint(v), -2147483648.0, 2147483647.0));
}

int32_t floor_int(float v) {
  if (std::isnan(v)) return 0;
  return static_cast<int32_t>(std::clamp(std::floor(static_cast<double>(v)), -2147483648.0,
                                         2147483647.0));
}

uint32_t pack(uint8_t r, uint8_t g, uint8_t b) {
  return kOpaque | (uint32_t{r} << 16) | (uint32_t{g} << 8) | uint32_t{b};
}

}  // namespace

int32_t scaled_width(ImageSize size, float zoom) {
  return floor_int(static_cast<float>(size.BufferWidth) * zoom);
}
int32_t scaled_height(ImageSize size, float zoom) {
  return floor_int(static_cast<float>(size.BufferHeight) * zoom);
}

void ReleaseDisplaySurface(DisplaySurface& surface) {
  surface.DibDC = false;
  surface.DibBits.reset();
}

void CreateDisplaySurface(CanvasDisplay& display, ImageSize size) {
  DisplaySurface& surface = display.surface;
  if (surface.DibDC) {
    if (display.window && display.window->is_visible()) {
      const auto percent = static_cast<int64_t>(std::floor(display.view.Zoom * 100.0f));
      display.window->set_caption(display.AppTitle + " zoom = " + std::to_string(percent));
    }
    ReleaseDisplaySurface(surface);
  }
  int32_t w = std::max(0, scaled_width(size, display.view.Zoom));
  if (w % 4 > 0) w = w + 4 - (w % 4);
  const int32_t h = std::max(0, scaled_height(size, display.view.Zoom));
  surface.DibInfo = DibHeader{};
  surface.DibInfo.biWidth = w;
  surface.DibInfo.biHeight = -h;

  const std::size_t pixels = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  if (pixels * 4 > kMaxSurfaceBytes) {
    throw RuntimeError(error_number::kSurfaceOutOfMemory,
                       "Out of memory: cannot create a display surface of " + std::to_string(w) +
                           " x " + std::to_string(h) + " pixels");
  }
  surface.DibBits.reset(new (std::nothrow) uint32_t[std::max<std::size_t>(pixels, 1)]);
  if (!surface.DibBits) {
    throw RuntimeError(error_number::kSurfaceOutOfMemory,
                       "Out of memory: cannot create the display surface");
  }
  surface.DibDC = true;
}

void t_smoothblit(const SmoothBlitArgs& a, std::vector<int32_t>& column_source) {
  const double zoom = a.zoom;
  const int32_t last_column = std::max(0, a.plane_columns - 2);
  const int32_t last_row = std::max(0, a.plane_rows - 2);
  const int32_t u0 = std::max(0, floor_int(static_cast<float>(a.x0) * a.zoom));
  const int32_t u1 = std::min(a.scaled_width, floor_int(static_cast<float>(a.xs + 1) * a.zoom));
  const int32_t v0 = std::max(0, floor_int(static_cast<float>(a.y0) * a.zoom));
  const int32_t v1 = std::min(a.scaled_height, floor_int(static_cast<float>(a.ys + 1) * a.zoom));
  if (u1 <= u0 || v1 <= v0) return;
  const int32_t span = u1 - u0;
  const std::size_t pitch = static_cast<std::size_t>(a.surface_width);

  if (a.zoom == 1.0f) {
    // One surface pixel per image pixel: a straight interleave of three rows.
    for (int32_t v = v0; v < v1; ++v) {
      const std::size_t src = static_cast<std::size_t>(v) * a.plane_columns + u0;
      const uint8_t* r = a.red + src;
      const uint8_t* g = a.green + src;
      const uint8_t* b = a.blue + src;
      uint32_t* dst = a.bits + static_cast<std::size_t>(v) * pitch + u0;
      for (int32_t i = 0; i < span; ++i) dst[i] = pack(r[i], g[i], b[i]);
    }
    return;
  }

  column_source.resize(static_cast<std::size_t>(span));
  for (int32_t u = u0; u < u1; ++u) {
    const auto x = static_cast<int32_t>(std::floor(u / zoom));
    column_source[u - u0] = std::clamp(x, 0, last_column);
  }
  int32_t previous_row = -1;
  for (int32_t v = v0; v < v1; ++v) {
    const int32_t y = std::clamp(static_cast<int32_t>(std::floor(v / zoom)), 0, last_row);
    uint32_t* dst = a.bits + static_cast<std::size_t>(v) * pitch + u0;
    if (y == previous_row) {
      // Zoomed in: this surface row shows the same image row as the one above it.
      std::memcpy(dst, dst - pitch, static_cast<std::size_t>(span) * 4);
      continue;
    }
    previous_row = y;
    const std::size_t src = static_cast<std::size_t>(y) * a.plane_columns;
    const uint8_t* r = a.red + src;
    const uint8_t* g = a.green + src;
    const uint8_t* b = a.blue + src;
    const int32_t* cols = column_source.data();
    for (int32_t i = 0; i < span; ++i) {
      const int32_t x = cols[i];
      dst[i] = pack(r[x], g[x], b[x]);
    }
  }
}

void BlitPlanes(CanvasDisplay& display, ImageSize size, const Plane& red, const Plane& green,
                const Plane& blue, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  const ViewState& view = display.view;
  const float zoom = view.Zoom;
  if (zoom == 0.0f || !display.surface.DibDC || display.window == nullptr) return;
  const int64_t bw = size.BufferWidth, bh = size.BufferHeight;
  int64_t xb = std::clamp<int64_t>(x0, 0, bw), yb = std::clamp<int64_t>(y0, 0, bh);
  int64_t xe = std::clamp<int64_t>(int64_t{x1} + 1, 0, bw);
  int64_t ye = std::clamp<int64_t>(int64_t{y1} + 1, 0, bh);

  const int32_t cw = display.window->client_width(), ch = display.window->client_height();
  xb = std::max<int64_t>(xb, round_even((-1.0 - view.PanX) / zoom));
  yb = std::max<int64_t>(yb, round_even((-1.0 - view.PanY) / zoom));
  xe = std::min<int64_t>(xe, round_even((cw + 1.0 - view.PanX) / zoom));
  ye = std::min<int64_t>(ye, round_even((ch + 1.0 - view.PanY) / zoom));
  if (xe <= xb || ye <= yb) return;

  DisplaySurface& surface = display.surface;
  const SmoothBlitArgs args{red.data(),
                            green.data(),
                            blue.data(),
                            surface.DibBits.get(),
                            static_cast<int32_t>(xb),
                            static_cast<int32_t>(yb),
                            static_cast<int32_t>(std::min(xe, bw - 1)),
                            static_cast<int32_t>(std::min(ye, bh - 1)),
                            red.columns(),
                            red.rows(),
                            scaled_width(size, zoom),
                            scaled_height(size, zoom),
                            surface.width(),
                            zoom};
  t_smoothblit(args, surface.column_source);

  const int32_t sx = floor_int(static_cast<float>(xb) * zoom);
  const int32_t sy = floor_int(static_cast<float>(yb) * zoom);
  const int32_t w = floor_int(static_cast<float>(xe - xb) * zoom);
  const int32_t h = floor_int(static_cast<float>(ye - yb) * zoom);
  display.window->copy_from_surface(surface, sx, sy, sx + view.PanX, sy + view.PanY, w, h);
}

void displaybuffers(CanvasDisplay& display, ImageSize size, const Plane& red, const Plane& green,
                    const Plane& blue) {
  if (display.window == nullptr) return;
  CanvasWindow& window = *display.window;
  const int32_t cw = window.client_width(), ch = window.client_height();
  const int32_t sw = scaled_width(size, display.view.Zoom);
  const int32_t sh = scaled_height(size, display.view.Zoom);
  const int32_t px = display.view.PanX, py = display.view.PanY;
  window.fill_box(-1, -1, px - 1, ch);
  window.fill_box(-1, -1, cw, py - 1);
  window.fill_box(cw + 1, -1, sw + px, ch + 1);
  window.fill_box(-1, ch + 1, cw + 1, sh + py);
  BlitPlanes(display, size, red, green, blue, 0, 0, size.BufferWidth - 1, size.BufferHeight - 1);
}

}  // namespace tarvo
