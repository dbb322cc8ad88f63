// The HSV conversions against an independent formulation of the hexcone model: each component is
// v - v s clamp(min(k, 4 - k), 0, 1) with k = (n + h / 60) mod 6 and n = 5, 3, 1 for red, green
// and blue. It shares no branch structure with the sector table of the code under test.

#include "panel/hsv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace tarvo {
namespace {

std::array<double, 3> reference_rgb(double h, double s, double v) {
  auto component = [&](double n) {
    const double k = std::fmod(n + h / 60.0, 6.0);
    return v - v * s * std::clamp(std::min(k, 4.0 - k), 0.0, 1.0);
  };
  return {component(5), component(3), component(1)};
}

std::array<float, 3> rgb(float h, float s, float v) {
  std::array<float, 3> c{};
  HSV_To_RGB(c[0], c[1], c[2], h, s, v);
  return c;
}

std::array<float, 3> hsv(float r, float g, float b) {
  std::array<float, 3> c{};
  RGB_To_HSV(r, g, b, c[0], c[1], c[2]);
  return c;
}

TEST(HsvToRgb, MatchesTheReferenceOverTheWholeModel) {
  for (int hh = 0; hh <= 720; ++hh) {
    for (int si = 0; si <= 8; ++si) {
      for (int vi = 0; vi <= 8; ++vi) {
        const float h = hh * 0.5f, s = si / 8.0f, v = vi / 8.0f;
        const auto got = rgb(h, s, v);
        const auto want = reference_rgb(h, s, v);
        for (int i = 0; i < 3; ++i) {
          ASSERT_NEAR(got[i], want[i], 1e-5) << "h " << h << " s " << s << " v " << v << " c " << i;
        }
      }
    }
  }
}

TEST(HsvToRgb, PrimariesAndTheWrapOfTheHueCircle) {
  EXPECT_EQ(rgb(0, 1, 1), (std::array<float, 3>{1, 0, 0}));
  EXPECT_EQ(rgb(60, 1, 1), (std::array<float, 3>{1, 1, 0}));
  EXPECT_EQ(rgb(120, 1, 1), (std::array<float, 3>{0, 1, 0}));
  EXPECT_EQ(rgb(240, 1, 1), (std::array<float, 3>{0, 0, 1}));
  EXPECT_EQ(rgb(360, 1, 1), rgb(0, 1, 1));
  EXPECT_EQ(rgb(-120, 1, 1), rgb(240, 1, 1));
  EXPECT_EQ(rgb(480, 0.5f, 0.5f), rgb(120, 0.5f, 0.5f));
}

// Every colour of a 0..255 grid (step 3, plus 255) converts to an HSV triple that the reference
// turns back into the same colour, with v the largest component and s the relative chroma.
TEST(RgbToHsv, RoundTripsThroughTheReferenceForManyColours) {
  std::array<int, 87> levels{};
  for (int i = 0; i < 86; ++i) levels[i] = i * 3;
  levels[86] = 255;
  for (int r : levels) {
    for (int g : levels) {
      for (int b : levels) {
        const float fr = r / 255.0f, fg = g / 255.0f, fb = b / 255.0f;
        const auto [h, s, v] = hsv(fr, fg, fb);
        ASSERT_GE(h, 0.0f);
        ASSERT_LT(h, 360.0f);
        const float max = std::max({fr, fg, fb}), min = std::min({fr, fg, fb});
        ASSERT_FLOAT_EQ(v, max);
        ASSERT_NEAR(s, max > 0 ? (max - min) / max : 0.0f, 1e-6);
        const auto back = reference_rgb(h, s, v);
        ASSERT_NEAR(back[0], fr, 2e-6) << r << " " << g << " " << b;
        ASSERT_NEAR(back[1], fg, 2e-6) << r << " " << g << " " << b;
        ASSERT_NEAR(back[2], fb, 2e-6) << r << " " << g << " " << b;
      }
    }
  }
}

TEST(RgbToHsv, GreysHaveHueZeroAndNoSaturation) {
  EXPECT_EQ(hsv(0, 0, 0), (std::array<float, 3>{0, 0, 0}));
  EXPECT_EQ(hsv(1, 1, 1), (std::array<float, 3>{0, 0, 1}));
  const auto grey = hsv(128 / 255.0f, 128 / 255.0f, 128 / 255.0f);
  EXPECT_EQ(grey[0], 0.0f);
  EXPECT_EQ(grey[1], 0.0f);
  EXPECT_FLOAT_EQ(grey[2], 128 / 255.0f);
}

TEST(RgbToHsv, HuesNearRedFromTheMagentaSideNeverReach360) {
  EXPECT_NEAR(hsv(1.0f, 0.0f, 0.01f)[0], 359.4f, 1e-3);
  // So close to red that the hue would round to 360 in single precision: it is red, 0.
  EXPECT_EQ(hsv(1.0f, 0.0f, 1e-7f)[0], 0.0f);
}

}  // namespace
}  // namespace tarvo
