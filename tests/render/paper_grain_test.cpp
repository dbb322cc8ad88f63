#include "render/paper_grain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace tarvo {
namespace {

// Mean absolute difference between column a and column b (or rows, when by_rows).
double mean_difference(const Plane& grain, int32_t a, int32_t b, bool by_rows) {
  const int32_t length = by_rows ? grain.columns() : grain.rows();
  double sum = 0;
  for (int32_t i = 0; i < length; ++i) {
    const int first = by_rows ? grain(i, a) : grain(a, i);
    const int second = by_rows ? grain(i, b) : grain(b, i);
    sum += std::abs(first - second);
  }
  return sum / length;
}

// The average difference between neighbouring lines inside the texture.
double interior_neighbour_difference(const Plane& grain, bool by_rows) {
  const int32_t lines = by_rows ? grain.rows() : grain.columns();
  double sum = 0;
  for (int32_t i = 0; i + 1 < lines; ++i) sum += mean_difference(grain, i, i + 1, by_rows);
  return sum / (lines - 1);
}

bool same_bytes(const Plane& a, const Plane& b) {
  return a.columns() == b.columns() && a.rows() == b.rows() &&
         std::memcmp(a.data(), b.data(), a.size()) == 0;
}

TEST(PaperGrain, SameSizeAndSeedGiveTheSameBytes) {
  const Plane first = make_paper_grain(256, 256, kPaperGrainSeed);
  EXPECT_TRUE(same_bytes(first, make_paper_grain(256, 256, kPaperGrainSeed)));
  EXPECT_FALSE(same_bytes(first, make_paper_grain(256, 256, kPaperGrainSeed + 1)));
}

// Across the wrap (last line to first) the grain changes like it does between neighbouring lines
// inside, not like between unrelated lines: a tiled texture shows no seam.
TEST(PaperGrain, WrapsWithoutASeamAtEitherEdge) {
  for (const auto& [width, height] : {std::pair{256, 256}, std::pair{100, 37}}) {
    const Plane grain = make_paper_grain(width, height, 42);
    for (const bool by_rows : {false, true}) {
      const int32_t last = (by_rows ? height : width) - 1;
      const double inside = interior_neighbour_difference(grain, by_rows);
      const double seam = mean_difference(grain, last, 0, by_rows);
      const double unrelated = mean_difference(grain, 0, (last + 1) / 2, by_rows);
      EXPECT_LT(inside, 0.7 * unrelated) << width << " x " << height;
      EXPECT_LT(seam, (inside + unrelated) / 2)
          << width << " x " << height << (by_rows ? " rows" : " columns");
    }
  }
}

TEST(PaperGrain, SpreadsAroundTheMiddleOfTheByteRange) {
  const Plane grain = make_paper_grain(256, 256, kPaperGrainSeed);
  double sum = 0, squares = 0;
  for (std::size_t i = 0; i < grain.size(); ++i) {
    sum += grain.data()[i];
    squares += grain.data()[i] * grain.data()[i];
  }
  const double mean = sum / grain.size();
  const double deviation = std::sqrt(squares / grain.size() - mean * mean);
  EXPECT_NEAR(mean, 128, 3);
  EXPECT_NEAR(deviation, 42, 4);
}

TEST(PaperGrain, HasExactlyTheRequestedShape) {
  EXPECT_EQ(make_paper_grain(100, 37, 1).columns(), 100);
  EXPECT_EQ(make_paper_grain(100, 37, 1).rows(), 37);
  EXPECT_EQ(make_paper_grain(1, 1, 1).size(), 1u);
  EXPECT_TRUE(make_paper_grain(0, 10, 1).empty());
  EXPECT_TRUE(make_paper_grain(10, -1, 1).empty());
}

}  // namespace
}  // namespace tarvo
