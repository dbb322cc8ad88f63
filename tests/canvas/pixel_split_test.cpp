// Splitting decoded rows into planes, and sharing a pass's rows with a helper thread.

#include "canvas/pixel_split.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "canvas/row_split.h"

namespace tarvo {
namespace {

// Four planes of width bytes with a guard byte after each, to catch a write past the row.
struct Planes {
  explicit Planes(int32_t width) : width(width), bytes(4 * (width + 1), 0xEE) {}
  uint8_t* plane(int i) { return bytes.data() + i * (width + 1); }
  PlaneRow row(bool with_alpha) {
    return PlaneRow{plane(0), plane(1), plane(2), with_alpha ? plane(3) : nullptr};
  }
  bool guards_intact() const {
    for (int i = 0; i < 4; ++i) {
      if (bytes[i * (width + 1) + width] != 0xEE) return false;
    }
    return true;
  }
  int32_t width;
  std::vector<uint8_t> bytes;
};

uint8_t channel(int32_t x, int c) {
  return static_cast<uint8_t>(x * 7 + c * 61 + 3);
}

// Odd widths, so that vectorised loops also run their scalar tails.
constexpr int32_t kWidths[] = {1, 3, 17, 63, 1001};

TEST(PixelSplit, WordsAreNativeArgbInEveryWidth) {
  for (const int32_t width : kWidths) {
    std::vector<uint32_t> words(width);
    for (int32_t x = 0; x < width; ++x) {
      words[x] = uint32_t{channel(x, 3)} << 24 | uint32_t{channel(x, 0)} << 16 |
                 uint32_t{channel(x, 1)} << 8 | channel(x, 2);
    }
    for (const bool with_alpha : {false, true}) {
      Planes out(width);
      split_pixel_row(PixelLayout::kWordArgb, reinterpret_cast<const uint8_t*>(words.data()), width,
                      out.row(with_alpha));
      for (int32_t x = 0; x < width; ++x) {
        for (int c = 0; c < (with_alpha ? 4 : 3); ++c) {
          ASSERT_EQ(out.plane(c)[x], channel(x, c)) << "width " << width << " x " << x;
        }
        if (!with_alpha) {
          ASSERT_EQ(out.plane(3)[x], 0xEE);  // no alpha plane: left alone
        }
      }
      EXPECT_TRUE(out.guards_intact());
    }
  }
}

TEST(PixelSplit, BytesAreRgbOrRgbaAndRgbNeverWritesAlpha) {
  for (const int32_t width : kWidths) {
    for (const int step : {3, 4}) {
      std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * step);
      for (int32_t x = 0; x < width; ++x) {
        for (int c = 0; c < step; ++c) pixels[x * step + c] = channel(x, c);
      }
      Planes out(width);
      // An alpha plane offered with RGB pixels stays untouched (there is no alpha to read).
      split_pixel_row(step == 3 ? PixelLayout::kBytesRgb : PixelLayout::kBytesRgba, pixels.data(),
                      width, out.row(true));
      for (int32_t x = 0; x < width; ++x) {
        for (int c = 0; c < 3; ++c) ASSERT_EQ(out.plane(c)[x], channel(x, c));
        ASSERT_EQ(out.plane(3)[x], step == 4 ? channel(x, 3) : 0xEE);
      }
      EXPECT_TRUE(out.guards_intact());
    }
  }
}

TEST(PixelSplit, GreyRepeatsTheLevelInEveryColour) {
  std::vector<uint8_t> levels(1001);
  for (int32_t x = 0; x < 1001; ++x) levels[x] = channel(x, 0);
  Planes out(1001);
  split_pixel_row(PixelLayout::kGrey, levels.data(), 1001, out.row(true));
  for (int c = 0; c < 3; ++c) EXPECT_EQ(std::memcmp(out.plane(c), levels.data(), 1001), 0);
  EXPECT_EQ(out.plane(3)[0], 0xEE);
  EXPECT_TRUE(out.guards_intact());
}

// Small and large passes, row counts that chunks do not divide: every row exactly once.
TEST(RowSharing, EveryRowIsWorkedOnceWhateverTheSize) {
  RowHelper helper;
  const struct {
    int32_t rows;
    int64_t bytes_per_row;
  } cases[] = {{0, 100},     {1, int64_t{1} << 30}, {7, 10},
               {4097, 4097}, {1001, 1 << 20},       {3, 1 << 22}};
  for (const auto& c : cases) {
    std::vector<std::atomic<int>> visits(static_cast<std::size_t>(c.rows));
    share_rows_with_helper(&helper, c.rows, c.bytes_per_row, [&](int32_t begin, int32_t end) {
      ASSERT_LE(0, begin);
      ASSERT_LT(begin, end);
      ASSERT_LE(end, c.rows);
      for (int32_t y = begin; y < end; ++y) ++visits[y];
    });
    for (int32_t y = 0; y < c.rows; ++y)
      ASSERT_EQ(visits[y].load(), 1) << c.rows << " rows, row " << y;
  }
}

}  // namespace
}  // namespace tarvo
