#pragma once
// The libmypaint baseline: a plain round brush painting into a fixed-size tiled surface, one
// sample at a time as an interactive caller drives it. Available when tarvo_bench is built with
// libmypaint (TARVO_HAVE_MYPAINT).
//
// The brush is libmypaint's default brush made plain: radius as given, hardness 1, opacity 1,
// normal (non-pigment) blending, opacity scaled by pressure (the default mapping), so a sample at
// pressure 0 paints nothing. The colour is the default black; the surface starts white.

#ifdef TARVO_HAVE_MYPAINT

#include <mypaint-brush.h>
#include <mypaint-fixed-tiled-surface.h>

#include <cstdint>

namespace tarvo::bench {

class MypaintBaseline {
 public:
  // A surface of width x height pixels and a brush of the given radius in pixels.
  MypaintBaseline(int width, int height, float radius);
  ~MypaintBaseline();
  MypaintBaseline(const MypaintBaseline&) = delete;
  MypaintBaseline& operator=(const MypaintBaseline&) = delete;

  // Forgets the brush's motion and pressure history, as at the start of a session.
  void restart();

  // One pointer sample: the brush strokes to (x, y) in surface pixels with pressure 0..1, dtime
  // seconds after the previous sample, inside its own begin/end atomic block.
  void stroke_to(float x, float y, float pressure, double dtime);

  // Pixels whose red channel is no longer the surface's initial white: how much the brush painted.
  int64_t painted_pixels();

 private:
  MyPaintFixedTiledSurface* surface_;
  MyPaintBrush* brush_;
  int width_, height_;
};

}  // namespace tarvo::bench

#endif
