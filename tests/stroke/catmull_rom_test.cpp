#include "stroke/catmull_rom.h"

#include <gtest/gtest.h>

namespace tarvo {
namespace {

TEST(CatmullRom, PassesThroughTheMiddlePointsAtTheEnds) {
  EXPECT_FLOAT_EQ(t_Catmull(0.0f, 3.0f, -7.25f, 12.5f, 40.0f), -7.25f);
  EXPECT_FLOAT_EQ(t_Catmull(1.0f, 3.0f, -7.25f, 12.5f, 40.0f), 12.5f);
}

TEST(CatmullRom, SymmetricAndConstantPiecesGiveExactValues) {
  EXPECT_EQ(t_Catmull(0.5f, 0, 0, 1, 1), 0.5f);
  EXPECT_EQ(t_Catmull(0.5f, 0, 1, 0, 1), 0.5f);
  for (float t : {0.0f, 0.1f, 0.37f, 0.9f, 1.0f}) EXPECT_EQ(t_Catmull(t, 9, 9, 9, 9), 9.0f);
}

TEST(CatmullRom, EquallySpacedCollinearPointsGiveAStraightEvenPiece) {
  for (float t = 0.0f; t <= 1.0f; t += 0.125f) EXPECT_FLOAT_EQ(t_Catmull(t, 0, 1, 2, 3), 1.0f + t);
}

TEST(CatmullRom, OvershootsBetweenItsEndsInsteadOfClamping) {
  // A pressure that rises to 1 and stays there bulges above 1 before reaching it.
  EXPECT_GT(t_Catmull(0.75f, 0.0f, 1.0f, 1.0f, 0.0f), 1.0f);
}

TEST(CatmullRom, IsEvaluatedInDoubleAndRoundedOnce) {
  // Summing in float would lose the small term against the large ones.
  const float big = 16777216.0f;
  const double t = 0.5, a = big, b = big + 2.0f, c = big + 4.0f, d = big + 8.0f;
  const double expected = 0.5 * (2 * b + (c - a) * t + (2 * a - 5 * b + 4 * c - d) * t * t +
                                 (-a + 3 * b - 3 * c + d) * t * t * t);
  EXPECT_EQ(t_Catmull(0.5f, big, big + 2.0f, big + 4.0f, big + 8.0f), static_cast<float>(expected));
}

}  // namespace
}  // namespace tarvo
