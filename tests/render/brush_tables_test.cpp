#include "render/brush_tables.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "render_fixture.h"

namespace tarvo {
namespace {

using testing::built_tables;

TEST(CoverageCurves, BothCurvesLeaveUntouchedCoverageAtZero) {
  EXPECT_EQ(built_tables().CoverageCurves(0, 0), 0);
  EXPECT_EQ(built_tables().CoverageCurves(0, 1), 0);
  EXPECT_EQ(built_tables().CoverageCurves(1, 1), 0);
}

TEST(CoverageCurves, RimCurvePeaksAt54To56AndEndsAt82) {
  const BrushTables& t = built_tables();
  EXPECT_EQ(t.CoverageCurves(255, 0), 82);
  EXPECT_EQ(t.CoverageCurves(52, 0), 245);
  uint8_t peak = 0;
  for (int m = 0; m < 256; ++m) peak = std::max(peak, t.CoverageCurves(m, 0));
  EXPECT_EQ(peak, 250);
  for (int m = 0; m < 256; ++m) EXPECT_EQ(t.CoverageCurves(m, 0) == 250, m >= 54 && m <= 56) << m;
  EXPECT_EQ(t.CoverageCurves(142, 0), 128);
  EXPECT_EQ(t.CoverageCurves(143, 0), 128);
}

TEST(CoverageCurves, HardeningCurveSaturatesThenSettlesAt254) {
  const BrushTables& t = built_tables();
  EXPECT_EQ(t.CoverageCurves(118, 1), 248);
  for (int m = 125; m <= 130; ++m) EXPECT_EQ(t.CoverageCurves(m, 1), 255) << m;
  for (int m = 131; m <= 255; ++m) EXPECT_EQ(t.CoverageCurves(m, 1), 254) << m;
}

TEST(CoverageCurves, ListedValuesSumAsTabulated) {
  // Plain and position-weighted sums of the tabulated lists: they catch a mistyped, missing or
  // swapped entry anywhere in either column.
  int64_t rim = 0, hard = 0, rim_weighted = 0, hard_weighted = 0;
  for (int m = 0; m < 256; ++m) {
    rim += built_tables().CoverageCurves(m, 0);
    hard += built_tables().CoverageCurves(m, 1);
    rim_weighted += m * built_tables().CoverageCurves(m, 0);
    hard_weighted += m * built_tables().CoverageCurves(m, 1);
  }
  EXPECT_EQ(rim, 34911);
  EXPECT_EQ(hard, 49460);
  EXPECT_EQ(rim_weighted, 4065548);
  EXPECT_EQ(hard_weighted, 7670247);
}

TEST(BlendTable, DivideRoundsHalvesToEvenAndSaturates) {
  const BrushTables& t = built_tables();
  for (int p = 0; p < 256; ++p) EXPECT_EQ(t.BlendTable(p, 0, 3), 255) << p;
  EXPECT_EQ(t.BlendTable(100, 200, 3), 128);  // 127.5
  EXPECT_EQ(t.BlendTable(1, 6, 3), 42);       // 42.5
  EXPECT_EQ(t.BlendTable(200, 100, 3), 255);  // 510, capped
}

TEST(BlendTable, ScreenRoundsOnDouble) {
  EXPECT_EQ(built_tables().BlendTable(128, 128, 4), 192);  // 191.75
  EXPECT_EQ(built_tables().BlendTable(0, 255, 4), 255);
  EXPECT_EQ(built_tables().BlendTable(255, 0, 4), 255);
}

TEST(BlendTable, PaintComesFirst) {
  const BrushTables& t = built_tables();
  EXPECT_EQ(t.BlendTable(50, 200, 1), 150);  // image minus paint
  EXPECT_EQ(t.BlendTable(200, 50, 1), 0);
  EXPECT_EQ(t.BlendTable(255, 255, 0), 255);
  EXPECT_EQ(t.BlendTable(200, 100, 0), 255);
  EXPECT_EQ(t.BlendTable(255, 255, 2), 255);
  EXPECT_EQ(t.BlendTable(128, 2, 2), 1);  // 256 div 255
}

TEST(BlendTable, HoldsTenPlanesOfEveryPaintAndImagePair) {
  EXPECT_EQ(built_tables().blend.size(), 655360u);
  EXPECT_EQ(built_tables().BlendTable(0x5A, 0x3C, 9), 0x5A ^ 0x3C);
}

}  // namespace
}  // namespace tarvo
