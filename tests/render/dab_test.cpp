#include "render/dab.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "render/dab_line.h"
#include "render_fixture.h"

namespace tarvo {
namespace {

// A raster with guard bytes after its last row, to show that nothing is written past it.
struct Raster {
  static constexpr int32_t kGuard = 4096;
  int32_t columns, rows;
  std::vector<uint8_t> bytes;
  Raster(int32_t c, int32_t r)
      : columns(c), rows(r), bytes(static_cast<std::size_t>(c) * r + kGuard, 0) {}
  uint8_t at(int32_t x, int32_t y) const {
    return bytes[static_cast<std::size_t>(y) * columns + x];
  }
  void dab(float cx, float cy, float width, float strength = 1.0f) {
    AAcpen(bytes.data(), cx, cy, width, 255.0f, strength, columns, rows);
  }
  bool guard_untouched() const {
    for (std::size_t i = static_cast<std::size_t>(columns) * rows; i < bytes.size(); ++i)
      if (bytes[i] != 0) return false;
    return true;
  }
  int count_covered() const {
    int n = 0;
    for (int32_t y = 0; y < rows; ++y)
      for (int32_t x = 0; x < columns; ++x) n += at(x, y) != 0;
    return n;
  }
};

TEST(Dab, TouchesOnlyPixelsWhoseCentreLiesWithinTheWidth) {
  for (float width : {0.3f, 1.0f, 2.5f, 7.0f, 16.0f}) {
    for (float cx : {10.0f, 10.5f, 11.37f}) {
      Raster r(40, 40);
      const float cy = cx + 3.21f;
      r.dab(cx, cy, width);
      if (width >= 1.0f) {
        EXPECT_GT(r.count_covered(), 0) << width;
      }
      for (int32_t y = 0; y < r.rows; ++y)
        for (int32_t x = 0; x < r.columns; ++x)
          if (r.at(x, y) != 0) {
            EXPECT_LT(std::hypot(x + 0.5 - cx, y + 0.5 - cy), width) << x << "," << y;
          }
    }
  }
}

TEST(Dab, NeverWritesOutsideTheRasterNorWrapsAcrossRows) {
  Raster r(20, 10);
  r.dab(-1.0f, -1.0f, 5.0f);
  r.dab(21.0f, 4.0f, 3.0f);   // right of the last column
  r.dab(10.0f, 11.5f, 4.0f);  // below the last row
  r.dab(19.0f, 9.0f, 40.0f);  // wider than the raster
  EXPECT_TRUE(r.guard_untouched());
  Raster edge(20, 10);
  edge.dab(21.0f, 4.0f, 3.0f);
  EXPECT_GT(edge.at(19, 4), 0);
  for (int32_t y = 0; y < 10; ++y) EXPECT_EQ(edge.at(0, y), 0) << y;
}

TEST(Dab, ANarrowDabFadesWithItsWidth) {
  Raster thin(8, 8), thinner(8, 8);
  thin.dab(4.5f, 4.5f, 0.8f);
  thinner.dab(4.5f, 4.5f, 0.2f);
  EXPECT_EQ(thin.at(4, 4), 204);  // 255 * 0.8
  EXPECT_EQ(thinner.at(4, 4), 51);
  EXPECT_EQ(thin.count_covered(), 1);
}

TEST(Dab, ZeroNegativeOrNonFiniteInputsLayNothing) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  Raster r(16, 16);
  r.dab(8, 8, 0.0f);
  r.dab(8, 8, -3.0f);
  r.dab(8, 8, nan);
  r.dab(8, 8, inf);
  r.dab(nan, 8, 3.0f);
  r.dab(8, -inf, 3.0f);
  r.dab(8, 8, 3.0f, 0.0f);
  r.dab(8, 8, 3.0f, nan);
  r.dab(8, 8, 3.0f, -1.0f);
  AAcpen(nullptr, 8, 8, 3, 255, 1, 16, 16);
  AAcpen(r.bytes.data(), 8, 8, 3, 255, 1, 0, 16);
  EXPECT_EQ(r.count_covered(), 0);
  EXPECT_TRUE(r.guard_untouched());
}

TEST(Dab, PeakIsValueTimesStrengthAndTheRimIsOnePixelSoft) {
  Raster r(40, 40);
  r.dab(20.0f, 20.5f, 10.0f, 100.0f / 255.0f);
  EXPECT_EQ(r.at(19, 20), 100);
  uint8_t highest = 0;
  for (uint8_t b : r.bytes) highest = std::max(highest, b);
  EXPECT_EQ(highest, 100);
  // Along the row through the centre: flat out to width - 1, then a ramp of about one pixel.
  Raster full(40, 40);
  full.dab(20.0f, 20.5f, 10.0f);
  EXPECT_EQ(full.at(11, 20), 255);  // r = 8.5
  EXPECT_EQ(full.at(10, 20), 128);  // r = 9.5: half coverage
  EXPECT_EQ(full.at(9, 20), 0);     // r = 10.5
}

TEST(Dab, KeepsTheMaximumOfOldAndNewCoverage) {
  Raster r(16, 16);
  r.dab(8, 8, 4, 200.0f / 255.0f);
  r.dab(8, 8, 4, 50.0f / 255.0f);
  EXPECT_EQ(r.at(8, 8), 200);
  r.dab(8, 8, 4);
  EXPECT_EQ(r.at(8, 8), 255);
}

// A horizontal stroke of constant width drawn as the dab line lays it.
Raster horizontal_stroke(float step_percent, float width) {
  CanvasBuffers canvas = testing::make_canvas(120, 40, 255, 255, 255);
  DabLineState dabs;
  BrushSettings brush;
  brush.StepPercent = step_percent;
  brush.BrushSize = width;  // full pressure: the width is the brush size
  AALine(canvas, dabs, brush, 10.0f, 20.3f, 110.0f, 20.3f, width, width);
  Raster r(120, 40);
  std::copy(canvas.FXbuffer.data(), canvas.FXbuffer.data() + canvas.FXbuffer.size(),
            r.bytes.begin());
  return r;
}

TEST(DabStroke, SmallStepsGiveAnEvenStrokeWithoutBeads) {
  const Raster r = horizontal_stroke(15.0f, 8.0f);
  // Every column well inside the stroke shows the same cross-section, rim included, to within a
  // small fraction of full coverage.
  for (int32_t y = 10; y < 30; ++y) {
    int lo = 255, hi = 0;
    for (int32_t x = 30; x < 90; ++x) {
      lo = std::min<int>(lo, r.at(x, y));
      hi = std::max<int>(hi, r.at(x, y));
    }
    EXPECT_LE(hi - lo, 8) << "row " << y;
  }
}

TEST(DabStroke, FullSpacingLeavesNoGaps) {
  const Raster r = horizontal_stroke(100.0f, 6.0f);
  for (int32_t x = 14; x < 108; ++x) {
    EXPECT_EQ(r.at(x, 20), 255) << x;
    EXPECT_GT(r.at(x, 17), 0) << x;
  }
}

}  // namespace
}  // namespace tarvo

namespace tarvo {
namespace {

// The dab's bytes straight from its definition, one pixel at a time.
uint8_t reference_level(float cx, float cy, float width, int32_t peak, int32_t x, int32_t y) {
  const float dx = (static_cast<float>(x) + 0.5f) - cx, dy = (static_cast<float>(y) + 0.5f) - cy;
  const float rim = width - std::sqrt(dx * dx + dy * dy);
  const float level = std::min(std::max(rim, 0.0f), 1.0f);
  return static_cast<uint8_t>(static_cast<int32_t>(static_cast<float>(peak) * level + 0.5f));
}

// Random dabs, narrow and wide, whole and cut by every edge, over random coverage: each pixel must
// be the larger of its old byte and the definition's, and each raised pixel must lie in the span
// the change record holds for its row.
TEST(Dab, EveryPathGivesTheDefinitionsBytesAndRecordsWhatItRaised) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  for (const auto& [columns, rows] : {std::pair{97, 61}, std::pair{12, 40}}) {
    std::vector<uint8_t> raster(static_cast<std::size_t>(columns) * rows);
    for (int trial = 0; trial < 400; ++trial) {
      for (uint8_t& b : raster) b = static_cast<uint8_t>(random() % 200);
      const float width = trial % 3 == 0 ? 0.3f + 40.0f * unit(random) : 0.3f + 8.0f * unit(random);
      const float cx = -10.0f + (columns + 20.0f) * unit(random);
      const float cy = -10.0f + (rows + 20.0f) * unit(random);
      const float strength = 0.2f + 0.8f * unit(random);
      const std::vector<uint8_t> before = raster;
      CoverageChanges changes;
      changes.start_stroke();
      AAcpen(raster.data(), cx, cy, width, 255.0f, strength, columns, rows, &changes);
      const int32_t peak = static_cast<int32_t>(std::floor(255.0 * strength + 1e-3));
      for (int32_t y = 0; y < rows; ++y) {
        int32_t first = 0, last = -1;
        const bool marked = changes.row(y, first, last);
        for (int32_t x = 0; x < columns; ++x) {
          const std::size_t i = static_cast<std::size_t>(y) * columns + x;
          const uint8_t want = std::max(before[i], reference_level(cx, cy, width, peak, x, y));
          ASSERT_EQ(raster[i], want) << "trial " << trial << " at " << x << ", " << y;
          if (want != before[i]) {
            ASSERT_TRUE(marked && first <= x && x <= last) << x << ", " << y;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace tarvo
