#include "file/png_colour_key.h"

#include <gtest/gtest.h>

#include <vector>

namespace tarvo {
namespace {

using Bytes = std::vector<uint8_t>;

void append_chunk(Bytes& bytes, const char* type, const Bytes& data) {
  const uint32_t n = static_cast<uint32_t>(data.size());
  for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(n >> shift));
  bytes.insert(bytes.end(), type, type + 4);
  bytes.insert(bytes.end(), data.begin(), data.end());
  bytes.insert(bytes.end(), 4, 0);
}

// A PNG skeleton of the given depth and colour type, with a tRNS chunk of key bytes before (or
// after) its IDAT.
Bytes png_with_key(uint8_t depth, uint8_t colour_type, const Bytes& key,
                   bool key_after_data = false) {
  Bytes bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  append_chunk(bytes, "IHDR", {0, 0, 0, 4, 0, 0, 0, 4, depth, colour_type, 0, 0, 0});
  append_chunk(bytes, "gAMA", {0, 1, 0x86, 0xa0});
  if (!key_after_data) append_chunk(bytes, "tRNS", key);
  append_chunk(bytes, "IDAT", {1, 2, 3});
  if (key_after_data) append_chunk(bytes, "tRNS", key);
  append_chunk(bytes, "IEND", {});
  return bytes;
}

TEST(PngColourKey, FindsTheChunkAndWidensAnRgbKey) {
  const Bytes png = png_with_key(16, 2, {0x12, 0x34, 0xff, 0xff, 0x00, 0x01});
  const PngColourKey key = find_png_colour_key(png);
  ASSERT_TRUE(key.present());
  EXPECT_EQ(key.chunk_offset, 8u + 25 + 16);  // after the signature, IHDR and gAMA
  EXPECT_EQ(key.chunk_size, 18u);
  EXPECT_EQ(key.red, 0x1234);
  EXPECT_EQ(key.green, 0xffff);
  EXPECT_EQ(key.blue, 0x0001);

  const PngColourKey eight_bit = find_png_colour_key(png_with_key(8, 2, {0, 10, 0, 20, 0, 255}));
  EXPECT_EQ(eight_bit.red, 10 * 257);
  EXPECT_EQ(eight_bit.blue, 65535);
}

TEST(PngColourKey, WidensGreyKeysOfEveryDepthExactly) {
  EXPECT_EQ(find_png_colour_key(png_with_key(1, 0, {0, 1})).red, 65535);
  EXPECT_EQ(find_png_colour_key(png_with_key(2, 0, {0, 1})).green, 21845);
  EXPECT_EQ(find_png_colour_key(png_with_key(4, 0, {0, 15})).blue, 65535);
  EXPECT_EQ(find_png_colour_key(png_with_key(16, 0, {0xab, 0xcd})).red, 0xabcd);
}

TEST(PngColourKey, IgnoresPalettesAlphaImagesAndBadKeys) {
  EXPECT_FALSE(find_png_colour_key(png_with_key(8, 3, {0, 128, 255})).present());
  EXPECT_FALSE(find_png_colour_key(png_with_key(8, 6, {0, 1, 0, 1, 0, 1})).present());
  EXPECT_FALSE(find_png_colour_key(png_with_key(4, 0, {0, 16})).present());  // beyond 4 bits
  EXPECT_FALSE(find_png_colour_key(png_with_key(8, 2, {0, 1})).present());   // too short
  EXPECT_FALSE(find_png_colour_key(png_with_key(8, 0, {0, 1}, true)).present());
  EXPECT_FALSE(find_png_colour_key(Bytes{0x89, 'P', 'N'}).present());
}

}  // namespace
}  // namespace tarvo
