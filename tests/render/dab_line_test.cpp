#include "render/dab_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "render_fixture.h"

namespace tarvo {
namespace {

struct Dab {
  float x, y, width;
};

// Walks one sub-segment and records the dabs instead of stamping them.
std::vector<Dab> walk(DabLineState& state, DabSegment segment, float step_percent) {
  std::vector<Dab> dabs;
  walk_dab_line(segment, step_percent, state, [&](float x, float y, float w) {
    dabs.push_back({x, y, w});
  });
  return dabs;
}

// With a spacing threshold of 0 every position gets a dab, so the dabs count the positions.
std::size_t positions_for_length(float length) {
  DabLineState state;
  return walk(state, DabSegment{0.0f, 0.0f, length, 0.0f, 4.0f, 4.0f}, 0.0f).size();
}

TEST(PointDistance, IsTheEuclideanDistance) {
  EXPECT_EQ(PointDistance(1, 2, 4, 6), 5.0f);
  EXPECT_EQ(PointDistance(0, 0, 0, 0), 0.0f);
}

TEST(DabLinePositions, RoundLengthHalvesToEven) {
  EXPECT_EQ(positions_for_length(2.5f), 3u);  // n = 2
  EXPECT_EQ(positions_for_length(3.4f), 4u);  // n = 3
  EXPECT_EQ(positions_for_length(3.5f), 5u);  // n = 4
  EXPECT_EQ(positions_for_length(0.4f), 1u);
}

TEST(DabLinePositions, StepsByUnitsFromTheStartAndBlendsTheWidth) {
  DabLineState state;
  const std::vector<Dab> dabs = walk(state, DabSegment{2.0f, 7.0f, 2.0f, 3.0f, 2.0f, 6.0f}, 0.0f);
  ASSERT_EQ(dabs.size(), 5u);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(dabs[k].x, 2.0f);
    EXPECT_EQ(dabs[k].y, 7.0f - k);
    EXPECT_EQ(dabs[k].width, 2.0f + k);
  }
}

TEST(DabLinePositions, ZeroLengthVisitsOnlyTheStart) {
  DabLineState state;
  const std::vector<Dab> dabs = walk(state, DabSegment{5.5f, 6.5f, 5.5f, 6.5f, 0.0f, 9.0f}, 15.0f);
  ASSERT_EQ(dabs.size(), 1u);  // Bsize1 0 makes the threshold 0
  EXPECT_EQ(dabs[0].x, 5.5f);
  EXPECT_EQ(dabs[0].width, 0.0f);
  DabLineState carried{0.5f};
  EXPECT_TRUE(walk(carried, DabSegment{1, 1, 1, 1, 4, 4}, 50.0f).empty());
  EXPECT_EQ(carried.StepDistance, 0.5f);  // a zero-length step adds nothing
}

TEST(DabLineSpacing, EveryFifthPositionAcrossSubSegments) {
  // StepPercent 50 of Bsize1 10: threshold 5. Sub-segments 0..7, 7..10, 10..22 visit 8, 4 and 13
  // positions; the count runs on, and a joint position counts again.
  DabLineState state;
  std::vector<float> xs;
  for (auto [from, to] : {std::pair{0.0f, 7.0f}, {7.0f, 10.0f}, {10.0f, 22.0f}}) {
    for (const Dab& d : walk(state, DabSegment{from, 3.0f, to, 3.0f, 10.0f, 10.0f}, 50.0f))
      xs.push_back(d.x);
  }
  EXPECT_EQ(xs, (std::vector<float>{4.0f, 8.0f, 12.0f, 17.0f, 22.0f}));
  EXPECT_EQ(state.StepDistance, 0.0f);
}

TEST(DabLineSpacing, ThresholdUsesTheStartWidthOnly) {
  DabLineState state;
  EXPECT_EQ(walk(state, DabSegment{0, 0, 0, 10, 0.0f, 10.0f}, 100.0f).size(), 11u);
  DabLineState wide;
  EXPECT_EQ(walk(wide, DabSegment{0, 0, 0, 10, 10.0f, 0.0f}, 100.0f).size(), 1u);
  EXPECT_EQ(wide.StepDistance, 1.0f);
}

TEST(DabLineSpacing, NonFiniteSegmentsVisitNothing) {
  DabLineState state{2.0f};
  const float inf = std::numeric_limits<float>::infinity();
  EXPECT_TRUE(walk(state, DabSegment{0, 0, inf, 0, 1, 1}, 0.0f).empty());
  EXPECT_TRUE(walk(state, DabSegment{std::nanf(""), 0, 1, 0, 1, 1}, 0.0f).empty());
  EXPECT_TRUE(walk(state, DabSegment{0, 0, 3e37f, 0, 1, 1}, 0.0f).empty());
  EXPECT_EQ(state.StepDistance, 2.0f);
}

TEST(AALine, StampsCoverageOfPenPressIntoTheCoverageRaster) {
  CanvasBuffers canvas = testing::make_canvas(32, 16, 255, 255, 255);
  DabLineState state;
  BrushSettings brush;
  brush.PenPress = 128.0f;
  brush.StepPercent = 15.0f;
  AALine(canvas, state, brush, 4.0f, 8.0f, 28.0f, 8.0f, 3.0f, 3.0f);
  EXPECT_EQ(canvas.FXbuffer(16, 7), 128);
  EXPECT_EQ(canvas.FXbuffer(16, 2), 0);
  EXPECT_EQ(canvas.RBuffer(16, 7), 255);  // colour is the renderer's business
}

}  // namespace
}  // namespace tarvo
