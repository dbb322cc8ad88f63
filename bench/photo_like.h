#pragma once
// A photograph's worth of detail for the benchmarks that write whole images: smooth gradients
// under a little noise, which compresses about as a photograph or a painting does.

#include <cstdint>
#include <random>

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

}  // namespace tarvo::bench
