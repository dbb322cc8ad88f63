#pragma once
// Splitting rows of interleaved 8-bit pixels, as image decoders produce them, into one byte plane
// per channel.

#include <cstdint>

namespace tarvo {

// How the channels of one pixel lie in a decoded row.
enum class PixelLayout {
  kWordArgb,  // one native-endian 32-bit word per pixel, 0xAARRGGBB (alpha ignored without a plane)
  kBytesRgb,  // three bytes per pixel: red, green, blue
  kBytesRgba,  // four bytes per pixel: red, green, blue, alpha
  kGrey,       // one byte per pixel, the same level in red, green and blue
};

// Where one row's channels go: width bytes each. alpha is null when the alpha is not kept; the
// layouts without alpha (kBytesRgb, kGrey) leave it alone.
struct PlaneRow {
  uint8_t* red;
  uint8_t* green;
  uint8_t* blue;
  uint8_t* alpha;
};

// The grey level of a colour as paper and luminance read it: 0.299 R + 0.587 G + 0.114 B, rounded.
inline uint8_t grey_level(uint8_t red, uint8_t green, uint8_t blue) {
  return static_cast<uint8_t>((299 * red + 587 * green + 114 * blue + 500) / 1000);
}

// Splits width pixels of the given layout starting at pixels (aligned to 4 bytes for kWordArgb)
// into the row's planes.
void split_pixel_row(PixelLayout layout, const uint8_t* pixels, int32_t width, const PlaneRow& out);

}  // namespace tarvo
