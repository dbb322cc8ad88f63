#pragma once
// The value arithmetic of the slider control HProp: whole numbers in 16 bits, a range min..max,
// and the mapping between a value and a position along the slider.
//
// Values written from code are rounded to the nearest whole number, halves to even, and kept as
// they are even when they lie outside min..max (only the 16-bit range limits them): a colour pick
// that reads a channel of 0 hands the slider 0, and the paint colour is then exactly the picked
// colour although the slider's minimum is 1. The user's own input (drag, click, wheel, keys) always
// stays within min..max.

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tarvo {

// The control's own defaults, used where a slider sets no range or start value of its own: "Step"
// runs 0..100 (a spacing of 0 stamps a dab at every pixel step) and "Paper" starts at 0, off.
constexpr int16_t kSliderDefaultMin = 0;
constexpr int16_t kSliderDefaultMax = 100;
constexpr int16_t kSliderDefaultValue = 0;

// The value a slider takes when code writes v.
inline int16_t slider_value_from_code(double v) {
  if (std::isnan(v)) return 0;
  return static_cast<int16_t>(std::clamp(std::nearbyint(v), -32768.0, 32767.0));
}

struct SliderRange {
  int16_t min = kSliderDefaultMin;
  int16_t max = kSliderDefaultMax;

  int16_t low() const { return std::min(min, max); }
  int16_t high() const { return std::max(min, max); }
  int16_t clamp(int32_t v) const {
    return static_cast<int16_t>(std::clamp<int32_t>(v, low(), high()));
  }

  // Where value lies along the slider, 0 at min and 1 at max; values outside the range sit at an
  // end. A range of one value is full.
  double fraction(int16_t value) const {
    if (high() == low()) return value >= high() ? 1.0 : 0.0;
    return std::clamp((static_cast<double>(value) - low()) / (static_cast<double>(high()) - low()),
                      0.0, 1.0);
  }

  // The value at a position along the slider (0 at min, 1 at max, outside held at the ends).
  int16_t value_at(double position) const {
    const double t = std::clamp(std::isnan(position) ? 0.0 : position, 0.0, 1.0);
    return clamp(
        static_cast<int32_t>(std::nearbyint(low() + t * (static_cast<double>(high()) - low()))));
  }

  // The step of a page key: a tenth of the range, at least 1.
  int16_t page() const { return static_cast<int16_t>(std::max(1, (high() - low()) / 10)); }
};

}  // namespace tarvo
