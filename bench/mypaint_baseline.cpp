#include "mypaint_baseline.h"

#ifdef TARVO_HAVE_MYPAINT

#include <cmath>

namespace tarvo::bench {

MypaintBaseline::MypaintBaseline(int width, int height, float radius)
    : surface_(mypaint_fixed_tiled_surface_new(width, height)),
      brush_(mypaint_brush_new()),
      width_(width),
      height_(height) {
  mypaint_brush_from_defaults(brush_);
  mypaint_brush_set_base_value(brush_, MYPAINT_BRUSH_SETTING_RADIUS_LOGARITHMIC, std::log(radius));
  mypaint_brush_set_base_value(brush_, MYPAINT_BRUSH_SETTING_HARDNESS, 1.0f);
  mypaint_brush_set_base_value(brush_, MYPAINT_BRUSH_SETTING_OPAQUE, 1.0f);
  // The default brush mixes as pigment; a plain brush blends normally.
  mypaint_brush_set_base_value(brush_, MYPAINT_BRUSH_SETTING_PAINT_MODE, 0.0f);
}

MypaintBaseline::~MypaintBaseline() {
  mypaint_brush_unref(brush_);
  mypaint_surface_unref(mypaint_fixed_tiled_surface_interface(surface_));
}

void MypaintBaseline::restart() {
  mypaint_brush_reset(brush_);
  mypaint_brush_new_stroke(brush_);
}

void MypaintBaseline::stroke_to(float x, float y, float pressure, double dtime) {
  MyPaintSurface* surface = mypaint_fixed_tiled_surface_interface(surface_);
  mypaint_surface_begin_atomic(surface);
  mypaint_brush_stroke_to(brush_, surface, x, y, pressure, 0.0f, 0.0f, dtime);
  MyPaintRectangle roi;
  mypaint_surface_end_atomic(surface, &roi);
}

int64_t MypaintBaseline::painted_pixels() {
  // The fixed surface's buffer is filled with 0xff bytes when it is made; tiles are
  // MYPAINT_TILE_SIZE pixels square, four 16-bit channels a pixel, red first.
  constexpr uint16_t kInitialWhite = 0xffff;
  constexpr int kTile = MYPAINT_TILE_SIZE;
  auto* tiled = reinterpret_cast<MyPaintTiledSurface*>(surface_);
  int64_t painted = 0;
  for (int ty = 0; ty * kTile < height_; ++ty) {
    for (int tx = 0; tx * kTile < width_; ++tx) {
      MyPaintTileRequest request;
      mypaint_tile_request_init(&request, 0, tx, ty, TRUE);
      mypaint_tiled_surface_tile_request_start(tiled, &request);
      for (int i = 0; request.buffer && i < kTile * kTile; ++i) {
        painted += request.buffer[i * 4] != kInitialWhite;
      }
      mypaint_tiled_surface_tile_request_end(tiled, &request);
    }
  }
  return painted;
}

}  // namespace tarvo::bench

#endif
