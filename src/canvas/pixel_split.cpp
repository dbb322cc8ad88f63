#include "canvas/pixel_split.h"

#include <cstring>

namespace tarvo {

namespace {

// The loops work on restrict-qualified local pointers: a byte store may alias anything, so without
// them the compiler reloads the pointers and checks for overlap at every pixel instead of
// vectorising. Colour channels are split in one pass over the row, the rarer alpha in a second.

void split_words(const uint32_t* __restrict pixels, int32_t width, const PlaneRow& out) {
  uint8_t* __restrict red = out.red;
  uint8_t* __restrict green = out.green;
  uint8_t* __restrict blue = out.blue;
  for (int32_t x = 0; x < width; ++x) {
    const uint32_t pixel = pixels[x];
    red[x] = static_cast<uint8_t>(pixel >> 16);
    green[x] = static_cast<uint8_t>(pixel >> 8);
    blue[x] = static_cast<uint8_t>(pixel);
  }
  uint8_t* __restrict alpha = out.alpha;
  if (alpha == nullptr) return;
  for (int32_t x = 0; x < width; ++x) alpha[x] = static_cast<uint8_t>(pixels[x] >> 24);
}

void split_channel(const uint8_t* __restrict pixels, int32_t width, int32_t step,
                   uint8_t* __restrict out) {
  for (int32_t x = 0; x < width; ++x) out[x] = pixels[x * step];
}

void split_bytes(const uint8_t* pixels, int32_t width, int32_t step, const PlaneRow& out) {
  split_channel(pixels, width, step, out.red);
  split_channel(pixels + 1, width, step, out.green);
  split_channel(pixels + 2, width, step, out.blue);
  if (out.alpha != nullptr) split_channel(pixels + 3, width, step, out.alpha);
}

}  // namespace

void split_pixel_row(PixelLayout layout, const uint8_t* pixels, int32_t width,
                     const PlaneRow& out) {
  if (width <= 0) return;
  const PlaneRow colour_only{out.red, out.green, out.blue, nullptr};
  switch (layout) {
    case PixelLayout::kWordArgb:
      split_words(reinterpret_cast<const uint32_t*>(pixels), width, out);
      return;
    case PixelLayout::kBytesRgb:
      split_bytes(pixels, width, 3, colour_only);
      return;
    case PixelLayout::kBytesRgba:
      split_bytes(pixels, width, 4, out);
      return;
    case PixelLayout::kGrey:
      std::memcpy(out.red, pixels, static_cast<std::size_t>(width));
      std::memcpy(out.green, pixels, static_cast<std::size_t>(width));
      std::memcpy(out.blue, pixels, static_cast<std::size_t>(width));
      return;
  }
}

}  // namespace tarvo
