#include "panel/hsv.h"

#include <algorithm>
#include <cmath>

namespace tarvo {

void HSV_To_RGB(float& r, float& g, float& b, float h, float s, float v) {
  // The hue circle has six sectors of 60 degrees; in each, one component is v, one is the floor
  // p = v (1 - s), and the third ramps between them.
  double sector = std::fmod(static_cast<double>(h) / 60.0, 6.0);
  if (sector < 0.0) sector += 6.0;
  const int i = std::min(static_cast<int>(sector), 5);
  const double f = sector - i;
  const double p = v * (1.0 - s);
  const double q = v * (1.0 - s * f);
  const double t = v * (1.0 - s * (1.0 - f));
  double rr = v, gg = t, bb = p;
  switch (i) {
    case 0:
      rr = v, gg = t, bb = p;
      break;
    case 1:
      rr = q, gg = v, bb = p;
      break;
    case 2:
      rr = p, gg = v, bb = t;
      break;
    case 3:
      rr = p, gg = q, bb = v;
      break;
    case 4:
      rr = t, gg = p, bb = v;
      break;
    default:
      rr = v, gg = p, bb = q;
      break;
  }
  r = static_cast<float>(rr);
  g = static_cast<float>(gg);
  b = static_cast<float>(bb);
}

void RGB_To_HSV(float r, float g, float b, float& h, float& s, float& v) {
  const double max = std::max({r, g, b});
  const double min = std::min({r, g, b});
  const double chroma = max - min;
  v = static_cast<float>(max);
  s = max > 0.0 ? static_cast<float>(chroma / max) : 0.0f;
  if (chroma <= 0.0) {
    h = 0.0f;
    return;
  }
  double sector = 0.0;
  if (max == r) {
    sector = (g - b) / chroma;  // -1 .. 1, between magenta and yellow
    if (sector < 0.0) sector += 6.0;
  } else if (max == g) {
    sector = (b - r) / chroma + 2.0;
  } else {
    sector = (r - g) / chroma + 4.0;
  }
  double degrees = sector * 60.0;
  // A hue just below 360 that rounds to 360 in single precision is red again.
  if (static_cast<float>(degrees) >= 360.0f) degrees = 0.0;
  h = static_cast<float>(degrees);
}

}  // namespace tarvo
