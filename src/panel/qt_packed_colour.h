#pragma once
// Colours as the panel's controls exchange them, packed 0x00BBGGRR (red in the low byte), and as
// Qt draws them.

#include <QColor>
#include <algorithm>
#include <cstdint>

namespace tarvo {

inline QColor to_qcolor(uint32_t packed) {
  return QColor(static_cast<int>(packed & 0xFF), static_cast<int>((packed >> 8) & 0xFF),
                static_cast<int>((packed >> 16) & 0xFF));
}

inline uint32_t to_packed(const QColor& colour) {
  return static_cast<uint32_t>(colour.red()) | static_cast<uint32_t>(colour.green()) << 8 |
         static_cast<uint32_t>(colour.blue()) << 16;
}

// Each channel times factor, held within 0..255: above 1 lightens, below 1 darkens.
inline QColor scaled(const QColor& colour, double factor) {
  auto channel = [factor](int c) { return std::clamp(static_cast<int>(c * factor + 0.5), 0, 255); };
  return QColor(channel(colour.red()), channel(colour.green()), channel(colour.blue()));
}

// The colour a fraction t of the way from a to b (0 gives a, 1 gives b).
inline QColor mixed(const QColor& a, const QColor& b, double t) {
  auto channel = [t](int x, int y) { return static_cast<int>(x + (y - x) * t + 0.5); };
  return QColor(channel(a.red(), b.red()), channel(a.green(), b.green()),
                channel(a.blue(), b.blue()));
}

}  // namespace tarvo
