#include "panel/triangle_fill.h"

#include <algorithm>
#include <cassert>

namespace tarvo {

namespace {

// Twice the signed area of (a, b, p): positive when p lies to the left of a -> b with y downwards.
int64_t edge(const GradientVertex& a, const GradientVertex& b, int64_t px, int64_t py) {
  return (int64_t{b.x} - a.x) * (py - a.y) - (int64_t{b.y} - a.y) * (px - a.x);
}

// Barycentric weights of (x, y), scaled so that they sum to the triangle's doubled area.
struct Weights {
  int64_t wa, wb, wc;
  bool inside() const { return wa >= 0 && wb >= 0 && wc >= 0; }
};

// The weights with the sign of the winding folded in, so that inside points are never negative.
Weights weights(const GradientVertex& a, const GradientVertex& b, const GradientVertex& c,
                int64_t sign, int64_t x, int64_t y) {
  return Weights{sign * edge(b, c, x, y), sign * edge(c, a, x, y), sign * edge(a, b, x, y)};
}

int64_t winding(const GradientVertex& a, const GradientVertex& b, const GradientVertex& c) {
  const int64_t area2 = edge(a, b, c.x, c.y);
  return area2 > 0 ? 1 : (area2 < 0 ? -1 : 0);
}

uint32_t mix_channel(const Weights& w, int64_t area2, uint16_t ca, uint16_t cb, uint16_t cc) {
  const int64_t sum = w.wa * ca + w.wb * cb + w.wc * cc;
  return static_cast<uint32_t>((sum + area2 / 2) / area2) >> 8;
}

uint32_t mix_pixel(const Weights& w, int64_t area2, const GradientVertex& a,
                   const GradientVertex& b, const GradientVertex& c) {
  const uint32_t red = mix_channel(w, area2, a.Red, b.Red, c.Red);
  const uint32_t green = mix_channel(w, area2, a.Green, b.Green, c.Green);
  const uint32_t blue = mix_channel(w, area2, a.Blue, b.Blue, c.Blue);
  return 0xFF000000u | red << 16 | green << 8 | blue;
}

}  // namespace

bool triangle_covers(const GradientVertex& a, const GradientVertex& b, const GradientVertex& c,
                     int32_t x, int32_t y) {
  const int64_t sign = winding(a, b, c);
  return sign != 0 && weights(a, b, c, sign, x, y).inside();
}

void gradient_fill_triangle(PixelBuffer32 target, const GradientVertex& a, const GradientVertex& b,
                            const GradientVertex& c) {
  assert(target.pixels || target.width <= 0 || target.height <= 0);
  const int64_t sign = winding(a, b, c);
  if (sign == 0 || !target.pixels) return;
  const int64_t area2 = sign * edge(a, b, c.x, c.y);
  const int32_t left = std::max({0, std::min({a.x, b.x, c.x})});
  const int32_t right = std::min({target.width - 1, std::max({a.x, b.x, c.x})});
  const int32_t top = std::max({0, std::min({a.y, b.y, c.y})});
  const int32_t bottom = std::min({target.height - 1, std::max({a.y, b.y, c.y})});
  for (int32_t y = top; y <= bottom; ++y) {
    uint32_t* row = target.pixels + static_cast<int64_t>(y) * target.stride;
    for (int32_t x = left; x <= right; ++x) {
      const Weights w = weights(a, b, c, sign, x, y);
      if (w.inside()) row[x] = mix_pixel(w, area2, a, b, c);
    }
  }
}

}  // namespace tarvo
