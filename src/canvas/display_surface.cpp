#include "canvas/display_surface.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "canvas/row_split.h"
#include "canvas/surface_rows.h"
#include "core/runtime_error.h"
#include "render/render_math.h"

namespace tarvo {

namespace {

// A client coordinate beyond the 32-bit range lies far outside any window: it is pinned to the
// range's end, where it is still outside.
int32_t saturated(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

int32_t scaled_width(ImageSize size, float zoom) {
  return floor_to_int(static_cast<float>(size.BufferWidth) * zoom);
}
int32_t scaled_height(ImageSize size, float zoom) {
  return floor_to_int(static_cast<float>(size.BufferHeight) * zoom);
}

void ReleaseDisplaySurface(DisplaySurface& surface) {
  surface.DibDC = false;
  surface.DibBits.reset();
}

namespace {

// The most scaled pixels a client extent can show on one axis: the blit's clamp reaches one pixel
// beyond each edge.
int32_t showable(int32_t client, int32_t scaled) {
  return static_cast<int32_t>(std::clamp<int64_t>(int64_t{client} + 4, 0, std::max(0, scaled)));
}

// The first scaled pixel the client can show: the one just left of (or above) its edge.
int32_t first_shown(int32_t pan, int32_t scaled) {
  return static_cast<int32_t>(std::clamp<int64_t>(-int64_t{pan} - 1, 0, std::max(0, scaled)));
}

void allocate_surface(DisplaySurface& surface, int32_t width, int32_t height) {
  int64_t padded = std::max(0, width);
  if (padded % 4 > 0) padded = padded + 4 - (padded % 4);
  const int32_t h = std::max(0, height);
  if (padded > 1 << 30) padded = int64_t{1} << 30;  // far past any real surface; refused below
  const auto w = static_cast<int32_t>(padded);
  surface.DibInfo = DibHeader{};
  surface.DibInfo.biWidth = w;
  surface.DibInfo.biHeight = -h;
  surface.DibDC = false;
  surface.DibBits.reset();
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

// Makes the surface large enough for what the client area can show at the current zoom.
void fit_surface_to_client(CanvasDisplay& display) {
  DisplaySurface& surface = display.surface;
  const bool has_window = display.window != nullptr;
  const int32_t cw = has_window ? display.window->client_width() : kFirstSurfaceClient;
  const int32_t ch = has_window ? display.window->client_height() : kFirstSurfaceClient;
  const int32_t w = showable(cw, surface.scaled_width);
  const int32_t h = showable(ch, surface.scaled_height);
  if (surface.DibDC && w <= surface.width() && h <= surface.height()) return;
  allocate_surface(surface, std::max(w, surface.width()), std::max(h, surface.height()));
}

}  // namespace

void CreateDisplaySurface(CanvasDisplay& display, ImageSize size) {
  DisplaySurface& surface = display.surface;
  if (surface.DibDC) {
    if (display.window && display.window->is_visible()) {
      const int32_t percent = floor_to_int(display.view.Zoom * 100.0f);
      display.window->set_caption(display.AppTitle + " zoom = " + std::to_string(percent));
    }
    ReleaseDisplaySurface(surface);
  }
  surface.scaled_width = std::max(0, scaled_width(size, display.view.Zoom));
  surface.scaled_height = std::max(0, scaled_height(size, display.view.Zoom));
  surface.origin_x = surface.origin_y = 0;
  fit_surface_to_client(display);
}

namespace {

// A blit of at least this many surface pixels shares its rows with the helper thread. Below it the
// hand-over costs more than it saves; a stroke preview's rectangle stays far below it.
constexpr int64_t kSplitPixels = int64_t{1} << 18;
// Surface pixels per chunk of rows handed out: small enough that neither worker waits long for
// the other at the end, large enough that a zoomed-in chunk rarely starts on a repeated row.
constexpr int64_t kChunkPixels = int64_t{1} << 17;

// The image row (or column) that surface row (or column) s shows, as the contract defines it:
// floor(s / Zoom) in double precision, clamped into the image.
int32_t image_index(int32_t s, double zoom, int32_t last) {
  return std::clamp(static_cast<int32_t>(std::floor(s / zoom)), 0, last);
}

// Copies the pixels of surface row s (starting at row) that the clipped copy c holds.
void copy_row_to_client(const uint32_t* row, const ClientPixels& client, const SurfaceCopy& c,
                        int32_t s) {
  uint32_t* to = client.bits + (s - c.src_y + c.dst_y) * client.stride + c.dst_x;
  std::memcpy(to, row + c.src_x, static_cast<std::size_t>(c.width) * 4);
}

// How a surface row is made from its image row.
enum class RowKind {
  Same,    // zoom 1: the image row's pixels one to one
  Widen,   // zoomed in: the stretch of the image row interleaved once, then each word repeated
  Sample,  // otherwise: each surface column fetches its own image column
};

// Renders surface rows v0 + begin .. v0 + end - 1. Each chunk of rows starts afresh, so that the
// workers never read a row another one may still be writing.
struct BlitRows {
  const SmoothBlitArgs& a;
  BlitScratch& scratch;
  RowKind kind;
  int32_t u0, v0, span, last_row;
  std::size_t pitch;
  uint32_t* first;

  void operator()(int32_t begin, int32_t end, int32_t lane) const {
    int32_t previous = -1;
    for (int32_t j = begin; j < end; ++j) {
      const int32_t v = v0 + j;
      uint32_t* dst = first + static_cast<std::size_t>(j) * pitch;
      const int32_t y = kind == RowKind::Same ? v : image_index(v, a.zoom, last_row);
      if (y == previous) {
        // Zoomed in: this surface row shows the same image row as the one above it.
        std::memcpy(dst, dst - pitch, static_cast<std::size_t>(span) * 4);
      } else {
        previous = y;
        render_row(static_cast<std::size_t>(y) * a.plane_columns, dst, lane);
      }
      copy_on(v - a.origin_y);
    }
  }

  // Copies surface row s on to the client while it is fresh, when the copy holds it.
  void copy_on(int32_t s) const {
    const SurfaceCopy& c = a.copy;
    if (a.client.bits == nullptr || c.empty() || s < c.src_y || s >= c.src_y + c.height) return;
    copy_row_to_client(a.bits + static_cast<std::size_t>(s) * pitch, a.client, c, s);
  }

  void render_row(std::size_t row, uint32_t* dst, int32_t lane) const {
    const uint8_t* r = a.red + row;
    const uint8_t* g = a.green + row;
    const uint8_t* b = a.blue + row;
    switch (kind) {
      case RowKind::Same:
        interleave_row(r + u0, g + u0, b + u0, dst, span);
        break;
      case RowKind::Widen: {
        uint32_t* stretch = scratch.stretch[lane].data();
        const int32_t x = scratch.column_source[0];
        interleave_row(r + x, g + x, b + x, stretch, scratch.widening.stretch);
        widen_row(stretch, scratch.widening, dst);
        break;
      }
      case RowKind::Sample:
        sample_row(r, g, b, scratch.column_source.data(), dst, span);
        break;
    }
  }
};

// Fills the column map for surface columns u0 .. u0 + span - 1 and chooses how rows are made.
RowKind prepare_columns(const SmoothBlitArgs& a, int32_t u0, int32_t span, BlitScratch& scratch) {
  if (a.zoom == 1.0f) return RowKind::Same;
  const int32_t last_column = std::max(0, a.plane_columns - 2);
  scratch.column_source.resize(static_cast<std::size_t>(span));
  for (int32_t i = 0; i < span; ++i) {
    scratch.column_source[i] = image_index(u0 + i, a.zoom, last_column);
  }
  if (a.zoom > 1.0f && prepare_widening(scratch.column_source.data(), span, scratch.widening)) {
    for (std::vector<uint32_t>& stretch : scratch.stretch) {
      stretch.resize(static_cast<std::size_t>(stretch_capacity(scratch.widening)));
    }
    return RowKind::Widen;
  }
  return RowKind::Sample;
}

}  // namespace

void t_smoothblit(const SmoothBlitArgs& a, BlitScratch& scratch) {
  const int32_t last_row = std::max(0, a.plane_rows - 2);
  const int32_t u0 = std::max({0, a.origin_x, floor_to_int(static_cast<float>(a.x0) * a.zoom)});
  const int32_t u1 = std::min(a.scaled_width, floor_to_int(static_cast<float>(a.xs + 1) * a.zoom));
  const int32_t v0 = std::max({0, a.origin_y, floor_to_int(static_cast<float>(a.y0) * a.zoom)});
  const int32_t v1 = std::min(a.scaled_height, floor_to_int(static_cast<float>(a.ys + 1) * a.zoom));
  if (u1 <= u0 || v1 <= v0) return;
  const int32_t span = u1 - u0, rows = v1 - v0;
  const std::size_t pitch = static_cast<std::size_t>(a.surface_width);
  uint32_t* const first =
      a.bits + static_cast<std::size_t>(v0 - a.origin_y) * pitch + (u0 - a.origin_x);

  const RowKind kind = prepare_columns(a, u0, span, scratch);
  const BlitRows work{a, scratch, kind, u0, v0, span, last_row, pitch, first};
  if (int64_t{span} * rows < kSplitPixels) {
    work(0, rows, 0);
    return;
  }
  split_rows(scratch.helper, rows, static_cast<int32_t>(std::max<int64_t>(8, kChunkPixels / span)),
             work);
}

namespace {

// The image columns (or rows) the blit may show: the requested range clamped to the image and to
// one pixel beyond each edge of the client area. The client bounds round outward, to the column
// that holds the edge pixel: rounding them to the nearest column would drop up to half a zoomed
// image pixel of the client at either edge once Zoom is 4 or more and the pan is not a multiple
// of it, and those client pixels would keep whatever they showed before.
struct Span {
  int64_t begin, end;
};

int64_t clamp_to_int64(double v) {
  return static_cast<int64_t>(std::clamp(v, -9.0e18, 9.0e18));
}

Span visible_span(int32_t first, int32_t last, int32_t image, int32_t pan, int32_t client,
                  float zoom) {
  int64_t b = std::clamp<int64_t>(first, 0, image);
  int64_t e = std::clamp<int64_t>(int64_t{last} + 1, 0, image);
  b = std::max<int64_t>(b, clamp_to_int64(std::floor((-1.0 - pan) / zoom)));
  e = std::min<int64_t>(e, clamp_to_int64(std::ceil((client + 1.0 - pan) / zoom)));
  return {b, e};
}

}  // namespace

void BlitPlanes(CanvasDisplay& display, ImageSize size, const Plane& red, const Plane& green,
                const Plane& blue, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  const ViewState& view = display.view;
  const float zoom = view.Zoom;
  if (zoom == 0.0f || !std::isfinite(zoom) || !display.surface.DibDC || display.window == nullptr) {
    return;
  }
  const int32_t cw = display.window->client_width(), ch = display.window->client_height();
  const Span xs = visible_span(x0, x1, size.BufferWidth, view.PanX, cw, zoom);
  const Span ys = visible_span(y0, y1, size.BufferHeight, view.PanY, ch, zoom);
  if (xs.end <= xs.begin || ys.end <= ys.begin) return;

  DisplaySurface& surface = display.surface;
  fit_surface_to_client(display);
  // The surface starts at the first scaled pixel the client can show; scaled pixels left of it
  // (or above it) lie beyond the client's edge and are not rendered.
  surface.origin_x = first_shown(view.PanX, surface.scaled_width);
  surface.origin_y = first_shown(view.PanY, surface.scaled_height);

  const int32_t u0 =
      std::max({0, surface.origin_x, floor_to_int(static_cast<float>(xs.begin) * zoom)});
  const int32_t v0 =
      std::max({0, surface.origin_y, floor_to_int(static_cast<float>(ys.begin) * zoom)});
  int32_t u1 = std::min(surface.scaled_width, floor_to_int(static_cast<float>(xs.end) * zoom));
  int32_t v1 = std::min(surface.scaled_height, floor_to_int(static_cast<float>(ys.end) * zoom));
  u1 = std::min(u1, surface.origin_x + surface.width());
  v1 = std::min(v1, surface.origin_y + surface.height());
  if (u1 <= u0 || v1 <= v0) return;

  SmoothBlitArgs args{red.data(),
                      green.data(),
                      blue.data(),
                      surface.DibBits.get(),
                      static_cast<int32_t>(xs.begin),
                      static_cast<int32_t>(ys.begin),
                      static_cast<int32_t>(std::min<int64_t>(xs.end, size.BufferWidth) - 1),
                      static_cast<int32_t>(std::min<int64_t>(ys.end, size.BufferHeight) - 1),
                      red.columns(),
                      red.rows(),
                      std::min(surface.scaled_width, surface.origin_x + surface.width()),
                      std::min(surface.scaled_height, surface.origin_y + surface.height()),
                      surface.width(),
                      zoom,
                      surface.origin_x,
                      surface.origin_y};
  // Copy exactly the scaled pixels just rendered, so nothing left from an earlier pan shows.
  const int32_t src_x = u0 - surface.origin_x, src_y = v0 - surface.origin_y;
  const int32_t dst_x = saturated(int64_t{u0} + view.PanX);
  const int32_t dst_y = saturated(int64_t{v0} + view.PanY);
  CanvasWindow& window = *display.window;
  args.client = window.client_pixels();
  if (args.client.bits == nullptr) {
    t_smoothblit(args, surface.scratch);
    window.copy_from_surface(surface, src_x, src_y, dst_x, dst_y, u1 - u0, v1 - v0);
    return;
  }
  args.copy = clip_surface_copy(surface, cw, ch, src_x, src_y, dst_x, dst_y, u1 - u0, v1 - v0);
  t_smoothblit(args, surface.scratch);
  const SurfaceCopy& c = args.copy;
  if (!c.empty()) window.client_pixels_changed(c.dst_x, c.dst_y, c.width, c.height);
}

SurfaceCopy clip_surface_copy(const DisplaySurface& surface, int32_t client_width,
                              int32_t client_height, int32_t src_x, int32_t src_y, int32_t dst_x,
                              int32_t dst_y, int32_t width, int32_t height) {
  int64_t sx = src_x, sy = src_y, dx = dst_x, dy = dst_y, w = width, h = height;
  const auto clip = [](int64_t& s, int64_t& d, int64_t& n, int64_t s_end, int64_t d_end) {
    const int64_t skip = std::max<int64_t>({0, -s, -d});
    s += skip;
    d += skip;
    n = std::min({n - skip, s_end - s, d_end - d});
  };
  clip(sx, dx, w, surface.width(), client_width);
  clip(sy, dy, h, surface.height(), client_height);
  if (w <= 0 || h <= 0 || !surface.DibDC) return {};
  return {static_cast<int32_t>(sx), static_cast<int32_t>(sy), static_cast<int32_t>(dx),
          static_cast<int32_t>(dy), static_cast<int32_t>(w),  static_cast<int32_t>(h)};
}

void CanvasWindow::copy_from_surface(const DisplaySurface& surface, int32_t src_x, int32_t src_y,
                                     int32_t dst_x, int32_t dst_y, int32_t width, int32_t height) {
  const ClientPixels client = client_pixels();
  if (client.bits == nullptr) return;
  const SurfaceCopy c = clip_surface_copy(surface, client_width(), client_height(), src_x, src_y,
                                          dst_x, dst_y, width, height);
  if (c.empty()) return;
  for (int32_t s = c.src_y; s < c.src_y + c.height; ++s) {
    copy_row_to_client(surface.row(s), client, c, s);
  }
  client_pixels_changed(c.dst_x, c.dst_y, c.width, c.height);
}

void displaybuffers(CanvasDisplay& display, ImageSize size, const Plane& red, const Plane& green,
                    const Plane& blue) {
  if (display.window == nullptr) return;
  CanvasWindow& window = *display.window;
  const int32_t cw = window.client_width(), ch = window.client_height();
  const int32_t sw = scaled_width(size, display.view.Zoom);
  const int32_t sh = scaled_height(size, display.view.Zoom);
  const int64_t px = display.view.PanX, py = display.view.PanY;
  window.fill_box(-1, -1, saturated(px - 1), ch);
  window.fill_box(-1, -1, cw, saturated(py - 1));
  window.fill_box(cw + 1, -1, saturated(sw + px), ch + 1);
  window.fill_box(-1, ch + 1, cw + 1, saturated(sh + py));
  BlitPlanes(display, size, red, green, blue, 0, 0, size.BufferWidth - 1, size.BufferHeight - 1);
}

}  // namespace tarvo
