#pragma once
// Conversions from floating point to pixel integers, shared by the renderer, the display and the
// view. They saturate into the 32-bit range and map NaN to 0, so that no input can make the
// conversion undefined.

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tarvo {

// Nearest integer, halves to even (the default rounding mode).
inline int32_t round_half_even(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<int32_t>(std::clamp(std::nearbyint(v), -2147483648.0, 2147483647.0));
}

// Largest integer not above v.
inline int32_t floor_to_int(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<int32_t>(std::clamp(std::floor(v), -2147483648.0, 2147483647.0));
}

// Smallest integer not below v.
inline int32_t ceil_to_int(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<int32_t>(std::clamp(std::ceil(v), -2147483648.0, 2147483647.0));
}

}  // namespace tarvo
