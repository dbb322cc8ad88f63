#pragma once
// A photograph's worth of detail for the benchmarks that write whole images: smooth gradients
// under a little noise, which compresses about as a photograph or a painting does.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "file/png_encoder.h"
#include "file/qt_image_file.h"

namespace tarvo::bench {

inline HostImage photo_like(int32_t width, int32_t height, unsigned seed) {
  HostImage image = white_image(width, height);
  std::minstd_rand noise(seed);
  Plane* planes[] = {&image.red, &image.green, &image.blue};
  for (int c = 0; c < 3; ++c) {
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* row = planes[c]->row(y);
      for (int32_t x = 0; x < width; ++x) {
        const int smooth = (x * (3 + c) / 64 + y * (5 - c) / 48) & 255;
        row[x] = static_cast<uint8_t>(smooth + static_cast<int>(noise() % 9) - 4);
      }
    }
  }
  return image;
}

// Writes the planes (without their spare column and row) as an 8-bit RGB PNG at zlib level 1, as
// a camera or a quick export writes a large picture; exits when it cannot.
inline void write_photo_png(const Plane& red, const Plane& green, const Plane& blue, int32_t width,
                            int32_t height, const std::string& path, RowHelper* helper = nullptr) {
  PngEncodeOptions options;
  options.level = 1;
  const std::vector<uint8_t> bytes = encode_png(
      PngHeader{width, height, 8, 2},
      [&](int32_t y, uint8_t* out) {
        for (int32_t x = 0; x < width; ++x, out += 3) {
          out[0] = red(x, y);
          out[1] = green(x, y);
          out[2] = blue(x, y);
        }
      },
      options, helper);
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  std::fclose(out);
}

}  // namespace tarvo::bench
