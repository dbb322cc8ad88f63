#pragma once
// The libmypaint baseline: a plain round brush painting into a fixed-size tiled surface, one
// sample at a time as an interactive caller drives it. Available when tarvo_bench is built with
// libmypaint (TARVO_HAVE_MYPAINT).
//
// The brush is made to do the same work as ours on the same samples (MatchedBrush):
//   - its radius follows pressure linearly, as our dab's does (BrushSize x pressure): a
//     RADIUS_LOGARITHMIC mapping on PRESSURE through points of log(p), so that radius = r1 x p;
//   - its opacity is 1 whenever the pen touches and 0 while it hovers, never scaled by pressure;
//   - hardness 1, normal (non-pigment) blending, black paint on a white surface, as ours;
//   - a fixed number of dabs per actual radius (libmypaint 1.6 reads only the base values of its
//     spacing settings).
// r1 and the spacing are calibrated on the session itself (session_bench.cpp) so that both
// engines paint the same area with the same number of dabs; the counts it reports (painted
// pixels, dabs drawn) check the match.

#ifdef TARVO_HAVE_MYPAINT

#include <mypaint-brush.h>
#include <mypaint-fixed-tiled-surface.h>

#include <cstdint>

namespace tarvo::bench {

// libmypaint's brush matched to ours at one brush size.
struct MatchedBrush {
  float radius_at_full_pressure;  // r1: the radius at pressure 1, in pixels
  float dabs_per_actual_radius;   // the spacing: a dab every radius / this of travel
};

class MypaintBaseline {
 public:
  // A white surface of width x height pixels and the matched brush.
  MypaintBaseline(int width, int height, const MatchedBrush& brush);
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
  // Dabs the surface drew since the baseline was made.
  int64_t dabs() const { return counting_.dabs; }

  // The surface the brush paints on: libmypaint's own, behind a surface that counts its dabs.
  struct CountingSurface {
    MyPaintSurface base;  // first, so that a pointer to it is a pointer to the whole
    MyPaintSurface* inner;
    int64_t dabs;
  };

 private:
  MyPaintFixedTiledSurface* surface_;
  CountingSurface counting_;
  MyPaintBrush* brush_;
  int width_, height_;
};

}  // namespace tarvo::bench

#endif
