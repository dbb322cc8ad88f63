#include "canvas/qt_display_colour.h"

#include <QColor>
#include <QColorSpace>
#include <QColorTransform>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tarvo {

namespace {

// sRGB's own encoding of linear light.
float srgb_encoded(float linear) {
  return linear <= 0.0031308f ? 12.92f * linear : 1.055f * std::pow(linear, 1.0f / 2.4f) - 0.055f;
}

std::array<float, 3> mapped(const QColorTransform& transform, int r, int g, int b) {
  const QColor shown =
      transform.map(QColor::fromRgbF(r / 255.0f, g / 255.0f, b / 255.0f).toExtendedRgb());
  return {shown.redF(), shown.greenF(), shown.blueF()};
}

}  // namespace

std::unique_ptr<DisplayColour> DisplayColour::from_profile(const QByteArray& icc) {
  if (icc.isEmpty()) return nullptr;
  const QColorSpace space = QColorSpace::fromIccProfile(icc);
  const QColorSpace srgb(QColorSpace::SRgb);
  if (!space.isValid() || space == srgb) return nullptr;
  const QColorTransform to_linear =
      space.transformationToColorSpace(QColorSpace(QColorSpace::SRgbLinear));
  std::unique_ptr<DisplayColour> colour(new DisplayColour);
  const auto fixed = [](float linear) {
    return static_cast<int32_t>(std::lround(static_cast<double>(linear) * kEncodeSteps));
  };
  const std::array<float, 3> black = mapped(to_linear, 0, 0, 0);
  for (int k = 0; k < 3; ++k) colour->black_[k] = fixed(black[k]);
  for (int v = 0; v < 256; ++v) {
    const std::array<std::array<float, 3>, 3> alone = {
        mapped(to_linear, v, 0, 0), mapped(to_linear, 0, v, 0), mapped(to_linear, 0, 0, v)};
    for (int c = 0; c < 3; ++c) {
      for (int k = 0; k < 3; ++k) colour->channel_[c][v][k] = fixed(alone[c][k] - black[k]);
    }
  }
  colour->encode_.resize(kEncodeSteps + 1);
  for (int32_t i = 0; i <= kEncodeSteps; ++i) {
    const float level = srgb_encoded(static_cast<float>(i) / kEncodeSteps) * 255.0f;
    colour->encode_[static_cast<std::size_t>(i)] =
        static_cast<uint8_t>(std::clamp(std::lround(level), 0L, 255L));
  }
  // Only a matrix-and-curve profile is a sum of its channels: any other is left unconverted.
  const QColorTransform exact = space.transformationToColorSpace(srgb);
  for (int r = 0; r < 256; r += 51) {
    for (int g = 0; g < 256; g += 51) {
      for (int b = 0; b < 256; b += 51) {
        const QRgb want = exact.map(qRgb(r, g, b));
        const uint32_t got = colour->shown(0xFF000000u | qRgb(r, g, b));
        if (std::abs(qRed(want) - qRed(got)) > 1 || std::abs(qGreen(want) - qGreen(got)) > 1 ||
            std::abs(qBlue(want) - qBlue(got)) > 1) {
          return nullptr;
        }
      }
    }
  }
  return colour;
}

uint32_t DisplayColour::shown(uint32_t pixel) const {
  const auto& r = channel_[0][(pixel >> 16) & 0xff];
  const auto& g = channel_[1][(pixel >> 8) & 0xff];
  const auto& b = channel_[2][pixel & 0xff];
  uint32_t out = 0xFF000000u;
  for (int k = 0; k < 3; ++k) {
    const int32_t linear = std::clamp(black_[k] + r[k] + g[k] + b[k], 0, kEncodeSteps);
    out |= uint32_t{encode_[static_cast<std::size_t>(linear)]} << (16 - 8 * k);
  }
  return out;
}

void DisplayColour::convert(uint32_t* pixels, int32_t n) const {
  for (int32_t i = 0; i < n; ++i) pixels[i] = shown(pixels[i]);
}

}  // namespace tarvo
