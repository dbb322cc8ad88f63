#include "stroke/catmull_rom.h"

namespace tarvo {

float t_Catmull(float t, float p1, float p2, float p3, float p4) {
  const double s = t, a = p1, b = p2, c = p3, d = p4;
  const double linear = c - a;
  const double quadratic = 2.0 * a - 5.0 * b + 4.0 * c - d;
  const double cubic = -a + 3.0 * b - 3.0 * c + d;
  return static_cast<float>(0.5 * (2.0 * b + linear * s + quadratic * s * s + cubic * s * s * s));
}

}  // namespace tarvo
