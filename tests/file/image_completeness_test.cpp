#include "file/image_completeness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarvo {
namespace {

using Bytes = std::vector<uint8_t>;

void append(Bytes& bytes, std::initializer_list<int> values) {
  for (int v : values) bytes.push_back(static_cast<uint8_t>(v));
}

void append_be32(Bytes& bytes, uint32_t v) {
  append(bytes, {int(v >> 24), int(v >> 16 & 255), int(v >> 8 & 255), int(v & 255)});
}
void append_le32(Bytes& bytes, uint32_t v) {
  append(bytes, {int(v & 255), int(v >> 8 & 255), int(v >> 16 & 255), int(v >> 24)});
}

void append_png_chunk(Bytes& bytes, const char* type, const Bytes& data) {
  append_be32(bytes, static_cast<uint32_t>(data.size()));
  bytes.insert(bytes.end(), type, type + 4);
  bytes.insert(bytes.end(), data.begin(), data.end());
  append_be32(bytes, 0);  // the walk does not check CRCs
}

Bytes png_file() {
  Bytes bytes;
  append(bytes, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'});
  append_png_chunk(bytes, "IHDR", Bytes(13, 1));
  append_png_chunk(bytes, "IDAT", Bytes(40, 7));
  append_png_chunk(bytes, "IEND", {});
  return bytes;
}

// A baseline JPEG's structure: start, an APP0 segment, a scan whose data holds a stuffed 0xFF and
// a restart marker, then the end marker.
Bytes jpeg_file() {
  Bytes bytes;
  append(bytes, {0xff, 0xd8, 0xff, 0xe0, 0x00, 0x06, 'J', 'F', 'I', 'F'});
  append(bytes, {0xff, 0xda, 0x00, 0x04, 0x01, 0x02});        // start of scan
  append(bytes, {0x12, 0xff, 0x00, 0x34, 0xff, 0xd0, 0x56});  // entropy-coded data
  append(bytes, {0xff, 0xd9});
  return bytes;
}

// A GIF with a global colour table, one extension and one image; complete_at is where the first
// image's data ends (the trailer after it is not needed).
Bytes gif_file(std::size_t& complete_at) {
  Bytes bytes;
  const std::string header = "GIF89a";
  bytes.insert(bytes.end(), header.begin(), header.end());
  append(bytes, {2, 0, 2, 0, 0x80, 0, 0});  // 2 x 2, global table of 2 colours
  append(bytes, {0, 0, 0, 255, 255, 255});
  append(bytes, {0x21, 0xf9, 4, 0, 0, 0, 0, 0});        // graphic control extension
  append(bytes, {0x2c, 0, 0, 0, 0, 2, 0, 2, 0, 0, 2});  // descriptor, code size 2
  append(bytes, {3, 0x44, 0x01, 0x05, 0});              // one sub-block, terminator
  complete_at = bytes.size();
  append(bytes, {0x3b});
  return bytes;
}

Bytes bmp_file() {
  const uint32_t width = 3, height = 2, row_bytes = 12;  // 24-bit rows padded to 4 bytes
  Bytes bytes;
  append(bytes, {'B', 'M'});
  append_le32(bytes, 54 + row_bytes * height);
  append_le32(bytes, 0);
  append_le32(bytes, 54);
  append_le32(bytes, 40);
  append_le32(bytes, width);
  append_le32(bytes, height);
  append(bytes, {1, 0, 24, 0});
  append_le32(bytes, 0);  // uncompressed
  for (int i = 0; i < 5; ++i) append_le32(bytes, 0);
  bytes.resize(bytes.size() + row_bytes * height, 0x80);
  return bytes;
}

// Every prefix shorter than complete_at is Truncated; from complete_at on the file is Complete.
void expect_complete_only_from(const char* format, const Bytes& bytes, std::size_t complete_at) {
  for (std::size_t length = 0; length <= bytes.size(); ++length) {
    const Completeness expected =
        length < complete_at ? Completeness::Truncated : Completeness::Complete;
    EXPECT_EQ(encoded_image_completeness(format, std::span(bytes.data(), length)), expected)
        << format << " cut to " << length << " of " << bytes.size() << " bytes";
  }
}

TEST(ImageCompleteness, PngNeedsEveryChunkUpToTheWholeEndChunk) {
  const Bytes png = png_file();
  expect_complete_only_from("png", png, png.size());
}

TEST(ImageCompleteness, JpegNeedsTheEndMarkerAfterItsScans) {
  const Bytes jpeg = jpeg_file();
  expect_complete_only_from("jpeg", jpeg, jpeg.size());
  expect_complete_only_from("jpg", jpeg, jpeg.size());
}

TEST(ImageCompleteness, GifNeedsTheFirstImageData) {
  std::size_t complete_at = 0;
  const Bytes gif = gif_file(complete_at);
  expect_complete_only_from("gif", gif, complete_at);
}

TEST(ImageCompleteness, BmpNeedsThePixelArrayTheHeaderDescribes) {
  const Bytes bmp = bmp_file();
  expect_complete_only_from("bmp", bmp, bmp.size());
}

TEST(ImageCompleteness, LeavesOtherFormatsAndUnknownStructuresToTheDecoder) {
  const Bytes png = png_file();
  EXPECT_EQ(encoded_image_completeness("ppm", png), Completeness::Unknown);
  Bytes not_a_jpeg = jpeg_file();
  not_a_jpeg[2] = 0x00;  // no marker where one must be
  EXPECT_EQ(encoded_image_completeness("jpeg", not_a_jpeg), Completeness::Unknown);
  Bytes huge_chunk = png_file();
  huge_chunk[8] = 0xff;  // a chunk length beyond 2^31
  EXPECT_EQ(encoded_image_completeness("png", huge_chunk), Completeness::Unknown);
}

}  // namespace
}  // namespace tarvo
