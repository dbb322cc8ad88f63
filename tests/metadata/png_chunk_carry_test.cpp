#include "file/png_chunk_carry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "file/png_chunks.h"

namespace tarvo {
namespace {

using Bytes = std::vector<uint8_t>;

PngChunk header(uint8_t depth, uint8_t colour_type) {
  return {"IHDR", {0, 0, 0, 4, 0, 0, 0, 4, depth, colour_type, 0, 0, 0}};
}

Bytes png(const std::vector<PngChunk>& chunks) {
  return write_png_chunks(chunks);
}

std::string types_of(const Bytes& bytes) {
  const auto chunks = read_png_chunks(bytes);
  if (!chunks) return "not a PNG";
  std::string types;
  for (const PngChunk& chunk : *chunks) types += (types.empty() ? "" : " ") + chunk.type;
  return types;
}

const PngChunk* chunk_of(const std::vector<PngChunk>& chunks, const std::string& type) {
  for (const PngChunk& chunk : chunks) {
    if (chunk.type == type) return &chunk;
  }
  return nullptr;
}

TEST(PngChunks, ReadBackWhatIsWrittenAndRefuseADamagedCrc) {
  Bytes bytes = png({header(8, 2), {"prVt", {1, 2, 3}}, {"IDAT", {9}}, {"IEND", {}}});
  const auto chunks = read_png_chunks(bytes);
  ASSERT_TRUE(chunks);
  EXPECT_EQ(types_of(bytes), "IHDR prVt IDAT IEND");
  EXPECT_EQ((*chunks)[1].data, (Bytes{1, 2, 3}));
  EXPECT_TRUE((*chunks)[1].safe_to_copy());
  EXPECT_FALSE((*chunks)[1].critical());
  bytes[8 + 25 + 8] ^= 1;  // a data byte of prVt
  EXPECT_FALSE(read_png_chunks(bytes));
  EXPECT_FALSE(read_png_chunks(Bytes(bytes.begin(), bytes.end() - 12)));  // no IEND
}

// The original as a program that keeps colour and private data would write it; the written file
// as an encoder writes new pixels with a resolution and a profile of its own.
TEST(PngChunkCarry, KeepsTheOriginalsAncillaryChunksInTheirPlacesAndDropsTheWritersOwn) {
  const Bytes original = png({header(8, 2),
                              {"gAMA", {0, 0, 0xb1, 0x8f}},
                              {"sBIT", {5, 6, 5}},
                              {"prVt", {1}},
                              {"prVT", {2}},  // unsafe to copy: depends on the old pixels
                              {"IDAT", {0}},
                              {"tIME", {0x07, 0xe5, 6, 1, 12, 0, 0}},
                              {"tEXt", {'a', 0, 'b'}},
                              {"IEND", {}}});
  const Bytes written = png({header(8, 2),
                             {"iCCP", {'x', 0, 0, 1}},
                             {"pHYs", {0, 0, 0, 1, 0, 0, 0, 1, 0}},
                             {"IDAT", {7}},
                             {"IDAT", {8}},
                             {"tEXt", {'a', 0, 'b'}},
                             {"IEND", {}}});
  const auto carried = carry_png_chunks(original, written);
  ASSERT_TRUE(carried);
  EXPECT_EQ(types_of(*carried), "IHDR gAMA sBIT prVt IDAT IDAT tIME tEXt IEND");
  const auto chunks = *read_png_chunks(*carried);
  EXPECT_EQ(chunk_of(chunks, "IDAT")->data, Bytes{7});
  EXPECT_EQ(chunk_of(chunks, "tIME")->data, (Bytes{0x07, 0xe5, 6, 1, 12, 0, 0}));

  const auto modified = carry_png_chunks(original, written, {.modified = 86400 * 365});
  EXPECT_EQ(chunk_of(*read_png_chunks(*modified), "tIME")->data,
            (Bytes{0x07, 0xb3, 1, 1, 0, 0, 0}));
}

TEST(PngChunkCarry, KeepsPixelFormatChunksOnlyForTheSamePixelFormat) {
  const std::vector<PngChunk> palette_chunks = {
      header(8, 3),  {"sRGB", {0}}, {"PLTE", {0, 0, 0, 255, 255, 255}},
      {"bKGD", {1}}, {"tRNS", {0}}, {"hIST", {0, 1, 0, 1}},
      {"IDAT", {0}}, {"IEND", {}}};
  const Bytes original = png(palette_chunks);
  const Bytes as_rgba = png({header(8, 6), {"IDAT", {1}}, {"IEND", {}}});
  EXPECT_EQ(types_of(*carry_png_chunks(original, as_rgba)), "IHDR sRGB IDAT IEND");
  // Same palette: the chunks that index it stay true.
  EXPECT_EQ(types_of(*carry_png_chunks(original, original)),
            "IHDR sRGB PLTE bKGD hIST tRNS IDAT IEND");
  // Another palette: its indices mean other colours. The writer's tRNS belongs to its pixels.
  std::vector<PngChunk> other = palette_chunks;
  other[2].data[0] = 9;
  other[4].data = {7, 7};
  const auto carried = *read_png_chunks(*carry_png_chunks(original, png(other)));
  EXPECT_EQ(chunk_of(carried, "PLTE")->data[0], 9);
  EXPECT_EQ(chunk_of(carried, "tRNS")->data, (Bytes{7, 7}));
  EXPECT_EQ(chunk_of(carried, "bKGD"), nullptr);
}

TEST(PngChunkCarry, RefusesFilesThatAreNotPng) {
  const Bytes good = png({header(8, 2), {"IDAT", {0}}, {"IEND", {}}});
  EXPECT_FALSE(carry_png_chunks(Bytes{1, 2, 3}, good));
  EXPECT_FALSE(carry_png_chunks(good, Bytes{}));
}

}  // namespace
}  // namespace tarvo
