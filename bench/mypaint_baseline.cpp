#include "mypaint_baseline.h"

#ifdef TARVO_HAVE_MYPAINT

#include <algorithm>
#include <cmath>

namespace tarvo::bench {

namespace {

// The mapping points on pressure: geometric from kLowestPressure to 1, dense enough that the
// piecewise-linear mapping follows log(p) within a fraction of a percent of the radius.
constexpr int kLogPoints = 32;
constexpr float kLowestPressure = 1.0f / 1024.0f;

float log_point_pressure(int i) {
  return kLowestPressure *
         std::pow(1.0f / kLowestPressure, static_cast<float>(i) / (kLogPoints - 1));
}

int count_dab(MyPaintSurface* self, float x, float y, float radius, float r, float g, float b,
              float opaque, float hardness, float alpha_eraser, float aspect_ratio, float angle,
              float lock_alpha, float colorize) {
  auto* counting = reinterpret_cast<MypaintBaseline::CountingSurface*>(self);
  MyPaintSurface* inner = counting->inner;
  const int drawn = inner->draw_dab(inner, x, y, radius, r, g, b, opaque, hardness, alpha_eraser,
                                    aspect_ratio, angle, lock_alpha, colorize);
  if (drawn) ++counting->dabs;
  return drawn;
}

void forward_get_color(MyPaintSurface* self, float x, float y, float radius, float* r, float* g,
                       float* b, float* a) {
  MyPaintSurface* inner = reinterpret_cast<MypaintBaseline::CountingSurface*>(self)->inner;
  inner->get_color(inner, x, y, radius, r, g, b, a);
}

// radius = r1 x pressure: log radius = log r1 + log p.
void map_radius(MyPaintBrush* brush, const MatchedBrush& m) {
  const MyPaintBrushSetting radius = MYPAINT_BRUSH_SETTING_RADIUS_LOGARITHMIC;
  mypaint_brush_set_base_value(brush, radius, std::log(m.radius_at_full_pressure));
  mypaint_brush_set_mapping_n(brush, radius, MYPAINT_BRUSH_INPUT_PRESSURE, kLogPoints);
  for (int i = 0; i < kLogPoints; ++i) {
    const float p = log_point_pressure(i);
    mypaint_brush_set_mapping_point(brush, radius, MYPAINT_BRUSH_INPUT_PRESSURE, i, p, std::log(p));
  }
}

// libmypaint 1.6 spaces its dabs by the base values of its spacing settings only (their mappings
// are not read), so the spacing is a fixed number of dabs per actual radius.
void set_spacing(MyPaintBrush* brush, const MatchedBrush& m) {
  mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_DABS_PER_ACTUAL_RADIUS,
                               m.dabs_per_actual_radius);
  mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_DABS_PER_BASIC_RADIUS, 0.0f);
  mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_DABS_PER_SECOND, 0.0f);
}

// Opacity 1 while the pen touches, 0 while it hovers.
void map_opacity(MyPaintBrush* brush) {
  const MyPaintBrushSetting multiply = MYPAINT_BRUSH_SETTING_OPAQUE_MULTIPLY;
  mypaint_brush_set_base_value(brush, multiply, 0.0f);
  mypaint_brush_set_mapping_n(brush, multiply, MYPAINT_BRUSH_INPUT_PRESSURE, 3);
  mypaint_brush_set_mapping_point(brush, multiply, MYPAINT_BRUSH_INPUT_PRESSURE, 0, 0.0f, 0.0f);
  mypaint_brush_set_mapping_point(brush, multiply, MYPAINT_BRUSH_INPUT_PRESSURE, 1,
                                  kLowestPressure / 4, 1.0f);
  mypaint_brush_set_mapping_point(brush, multiply, MYPAINT_BRUSH_INPUT_PRESSURE, 2, 1.0f, 1.0f);
}

}  // namespace

MypaintBaseline::MypaintBaseline(int width, int height, const MatchedBrush& brush)
    : surface_(mypaint_fixed_tiled_surface_new(width, height)),
      brush_(mypaint_brush_new()),
      width_(width),
      height_(height) {
  MyPaintSurface* inner = mypaint_fixed_tiled_surface_interface(surface_);
  counting_ = CountingSurface{*inner, inner, 0};
  counting_.base.draw_dab = count_dab;
  counting_.base.get_color = forward_get_color;
  mypaint_brush_from_defaults(brush_);
  map_radius(brush_, brush);
  set_spacing(brush_, brush);
  map_opacity(brush_);
  mypaint_brush_set_base_value(brush_, MYPAINT_BRUSH_SETTING_OPAQUE, 1.0f);
  mypaint_brush_set_base_value(brush_, MYPAINT_BRUSH_SETTING_HARDNESS, 1.0f);
  // No automatic softening: by default a brush whose edge is sharper than a pixel is widened by
  // half a pixel and made softer, which at small sizes drops every dab under half a pixel of
  // radius. Its mask still weighs the pixels a dab under three pixels of radius only partly
  // covers.
  mypaint_brush_set_base_value(brush_, MYPAINT_BRUSH_SETTING_ANTI_ALIASING, 0.0f);
  // Black, as our default paint colour.
  mypaint_brush_set_base_value(brush_, MYPAINT_BRUSH_SETTING_COLOR_H, 0.0f);
  mypaint_brush_set_base_value(brush_, MYPAINT_BRUSH_SETTING_COLOR_S, 0.0f);
  mypaint_brush_set_base_value(brush_, MYPAINT_BRUSH_SETTING_COLOR_V, 0.0f);
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
  MyPaintSurface* inner = counting_.inner;
  mypaint_surface_begin_atomic(inner);
  mypaint_brush_stroke_to(brush_, &counting_.base, x, y, pressure, 0.0f, 0.0f, dtime);
  MyPaintRectangle roi;
  mypaint_surface_end_atomic(inner, &roi);
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
