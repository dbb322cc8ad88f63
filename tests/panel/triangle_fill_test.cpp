// The Gouraud triangle fill: coverage that depends on geometry alone, exact vertex colours, linear
// mixing along edges, clipping to the buffer.

#include "panel/triangle_fill.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarvo {
namespace {

constexpr uint32_t kUntouched = 0x12345678;

struct Buffer {
  int32_t width, height, stride;
  std::vector<uint32_t> pixels;
  Buffer(int32_t w, int32_t h, int32_t padding = 0)
      : width(w),
        height(h),
        stride(w + padding),
        pixels(static_cast<size_t>(stride) * h, kUntouched) {}
  PixelBuffer32 view() { return PixelBuffer32{pixels.data(), width, height, stride}; }
  uint32_t at(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * stride + x]; }
};

GradientVertex vertex(int32_t x, int32_t y, uint16_t r, uint16_t g, uint16_t b) {
  return GradientVertex{x, y, r, g, b, 0};
}

uint32_t grey(uint32_t v) {
  return 0xFF000000u | v << 16 | v << 8 | v;
}

// The panel's triangle in an 81 x 81 box: A (0, 0), B (0, 81), C (81, 40).
const GradientVertex kA = vertex(0, 0, 65025, 65025, 65025);
const GradientVertex kB = vertex(0, 81, 0, 0, 0);
const GradientVertex kC = vertex(81, 40, 65025, 0, 0);

TEST(TriangleFill, AVertexPixelTakesTheHighByteOfItsColour) {
  Buffer buf(81, 81);
  gradient_fill_triangle(buf.view(), kA, kB, kC);
  EXPECT_EQ(buf.at(0, 0), grey(254));  // 65025 = 0xFE01
}

TEST(TriangleFill, AnEdgeMixesOnlyItsTwoVertices) {
  Buffer buf(81, 81);
  gradient_fill_triangle(buf.view(), kA, kB, kC);
  uint32_t previous = 255;
  for (int32_t y = 0; y < 81; ++y) {
    const uint32_t p = buf.at(0, y);
    const uint32_t r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    EXPECT_EQ(r, g) << "row " << y;
    EXPECT_EQ(g, b) << "row " << y;
    EXPECT_LT(r, previous) << "row " << y;
    previous = r;
  }
  EXPECT_LE(previous, 3u);  // one row above black
}

TEST(TriangleFill, PictureAndMaskCoverTheSamePixels) {
  Buffer picture(81, 81), mask(81, 81);
  gradient_fill_triangle(picture.view(), kA, kB, kC);
  const GradientVertex white = vertex(0, 0, 65025, 65025, 65025);
  GradientVertex a = white, b = white, c = white;
  b.y = 81;
  c.x = 81;
  c.y = 40;
  gradient_fill_triangle(mask.view(), a, b, c);
  int covered = 0;
  for (int32_t y = 0; y < 81; ++y) {
    for (int32_t x = 0; x < 81; ++x) {
      const bool in_picture = picture.at(x, y) != kUntouched;
      ASSERT_EQ(in_picture, mask.at(x, y) != kUntouched) << x << ", " << y;
      ASSERT_EQ(in_picture, triangle_covers(kA, kB, kC, x, y)) << x << ", " << y;
      if (in_picture) {
        EXPECT_EQ(mask.at(x, y), grey(254));
      }
      covered += in_picture;
    }
  }
  // Half of an 81 x 81 box, plus the edges that the closed rule takes in.
  EXPECT_GT(covered, 81 * 81 / 2);
  EXPECT_LT(covered, 81 * 81 / 2 + 2 * 81);
}

TEST(TriangleFill, TheTipPointsRightAndTheCornersStayOut) {
  EXPECT_TRUE(triangle_covers(kA, kB, kC, 80, 40));
  EXPECT_FALSE(triangle_covers(kA, kB, kC, 80, 0));
  EXPECT_FALSE(triangle_covers(kA, kB, kC, 80, 80));
  EXPECT_FALSE(triangle_covers(kA, kB, kC, 40, 0));
  EXPECT_TRUE(triangle_covers(kA, kB, kC, 0, 80));
}

TEST(TriangleFill, WindingDoesNotMatter) {
  Buffer one(81, 81), other(81, 81);
  gradient_fill_triangle(one.view(), kA, kB, kC);
  gradient_fill_triangle(other.view(), kC, kB, kA);
  EXPECT_EQ(one.pixels, other.pixels);
}

TEST(TriangleFill, ATriangleOfZeroAreaFillsNothing) {
  Buffer buf(16, 16);
  gradient_fill_triangle(buf.view(), vertex(0, 0, 1, 1, 1), vertex(5, 5, 1, 1, 1),
                         vertex(10, 10, 1, 1, 1));
  for (uint32_t p : buf.pixels) ASSERT_EQ(p, kUntouched);
  EXPECT_FALSE(
      triangle_covers(vertex(0, 0, 0, 0, 0), vertex(5, 5, 0, 0, 0), vertex(10, 10, 0, 0, 0), 5, 5));
}

TEST(TriangleFill, ClipsToTheBufferAndLeavesRowPaddingAlone) {
  Buffer buf(10, 10, 6);
  gradient_fill_triangle(buf.view(), vertex(-20, -20, 0, 65025, 0), vertex(40, -20, 0, 65025, 0),
                         vertex(-20, 40, 0, 65025, 0));
  for (int32_t y = 0; y < 10; ++y) {
    for (int32_t x = 0; x < buf.stride; ++x) {
      if (x < 10) {
        ASSERT_EQ(buf.at(x, y), 0xFF00FE00u) << x << ", " << y;
      } else {
        ASSERT_EQ(buf.at(x, y), kUntouched) << "padding " << x << ", " << y;
      }
    }
  }
}

TEST(TriangleFill, InteriorColoursAreTheLinearMix) {
  Buffer buf(9, 9);
  // Red rises from 0 at x = 0 to 65280 (0xFF00) at x = 8 along every row of a right triangle.
  gradient_fill_triangle(buf.view(), vertex(0, 0, 0, 0, 0), vertex(8, 0, 65280, 0, 0),
                         vertex(0, 8, 0, 0, 0));
  EXPECT_EQ(buf.at(4, 0), 0xFF7F0000u);  // 32640 = 0x7F80, whose high byte is 0x7F
  EXPECT_EQ(buf.at(4, 2), 0xFF7F0000u);  // the mix does not depend on y here
  EXPECT_EQ(buf.at(8, 0), 0xFFFF0000u);
  EXPECT_EQ(buf.at(5, 4), kUntouched);
}

}  // namespace
}  // namespace tarvo
