#pragma once
// The off-screen display surface and the zoomed blit.
//
// The surface is a 32-bit top-down pixel buffer laid out as a device-independent bitmap: each pixel
// is four bytes in memory, blue, green, red and a fourth byte that carries no colour; rows are
// DibInfo.biWidth pixels long, padded to a multiple of 4. Image pixel (x, y) lands on the scaled
// image pixel (floor(x * Zoom), floor(y * Zoom)).
//
// The surface holds only the part of the scaled image that the canvas client area can show, so its
// memory is bounded by the window, not by the zoom: a 4096 x 4096 image at zoom 6 would otherwise
// need 2.4 GB. Its top-left pixel is the scaled pixel (origin_x, origin_y); every blit moves the
// origin to the first scaled pixel the client can show at the current pan and grows the surface
// only when the client area has outgrown it. A rectangle is rendered from a set of planes and then
// copied to the canvas window at once, so the surface never needs to keep what it showed before.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "canvas/surface_rows.h"
#include "core/display_state.h"
#include "core/plane.h"

namespace tarvo {

// Largest surface the program will allocate, in bytes; beyond it creation fails with 31001.
constexpr std::size_t kMaxSurfaceBytes = std::size_t{1} << 32;
// The client size a surface is made for before the canvas window exists.
constexpr int32_t kFirstSurfaceClient = 2048;

// (Re)creates the surface for the current Zoom. When a surface existed and the window is visible,
// the caption becomes AppTitle + " zoom = " + floor(Zoom * 100). Raises 31001 when it cannot.
void CreateDisplaySurface(CanvasDisplay& display, ImageSize size);
void ReleaseDisplaySurface(DisplaySurface& surface);

// A copy of surface pixels to the client area, clipped to both: width x height pixels from surface
// (src_x, src_y) to client (dst_x, dst_y). Nothing is copied unless both are positive.
struct SurfaceCopy {
  int32_t src_x = 0, src_y = 0, dst_x = 0, dst_y = 0, width = 0, height = 0;
  bool empty() const { return width <= 0 || height <= 0; }
};
// Clips a requested copy, moving source and destination together; the arithmetic is wide, so
// coordinates far outside the window cannot overflow.
SurfaceCopy clip_surface_copy(const DisplaySurface& surface, int32_t client_width,
                              int32_t client_height, int32_t src_x, int32_t src_y, int32_t dst_x,
                              int32_t dst_y, int32_t width, int32_t height);

// Fills every scaled pixel (u, v) with floor(x0 * Zoom) <= u < floor((xs + 1) * Zoom) and
// floor(y0 * Zoom) <= v < floor((ys + 1) * Zoom), limited to ScaledW x ScaledH, with the image
// colour at (u / Zoom, v / Zoom) (nearest sample). It is stored at surface pixel
// (u - origin_x, v - origin_y); the caller guarantees that it lies on the surface. Planes are
// plane_columns bytes a row. A large blit shares its rows with a helper thread and returns once
// all are written. With a client to copy on to, each surface row the copy holds goes there as soon
// as it is rendered.
struct SmoothBlitArgs {
  const uint8_t* red;
  const uint8_t* green;
  const uint8_t* blue;
  uint32_t* bits;
  int32_t x0, y0, xs, ys;
  int32_t plane_columns, plane_rows;
  int32_t scaled_width, scaled_height;
  int32_t surface_width;
  float zoom;
  int32_t origin_x = 0, origin_y = 0;
  ClientPixels client{};
  SurfaceCopy copy{};
};
void t_smoothblit(const SmoothBlitArgs& args, BlitScratch& scratch);

// Renders the image rectangle x0..x1, y0..y1 (inclusive) of the three planes into the surface and
// copies it to the window, clipped to the image and to the visible client area.
void BlitPlanes(CanvasDisplay& display, ImageSize size, const Plane& red, const Plane& green,
                const Plane& blue, int32_t x0, int32_t y0, int32_t x1, int32_t y1);

// The margins around the image in the background colour, then the whole committed image.
void displaybuffers(CanvasDisplay& display, ImageSize size, const Plane& red, const Plane& green,
                    const Plane& blue);

int32_t scaled_width(ImageSize size, float zoom);
int32_t scaled_height(ImageSize size, float zoom);

}  // namespace tarvo
