#pragma once
// Image files: the largest image the program agrees to open, and the check of a size against it.
//
// An image costs the program about kBytesPerImagePixel bytes a pixel while it is open:
//   7   the seven image-size planes (RBuffer, GBuffer, BBuffer, three previews, FXbuffer),
//   3*4 four three-byte copies of the image: the host's own image and three whole-image undo
//       records (Get image and Clear each push one),
// so 7 + 3 * 4 = 19 bytes. An image is accepted when both sides are at most kMaxImageSide and the
// pixel count is at most the machine's physical memory divided by that figure.

#include <cstdint>
#include <string>

namespace tarvo {

inline constexpr int64_t kMaxImageSide = 16384;
inline constexpr int64_t kBytesPerImagePixel = 7 + 3 * 4;

struct ImageLimits {
  int64_t max_side = kMaxImageSide;
  int64_t max_pixels = kMaxImageSide * kMaxImageSide;
};

// The limits for a machine with physical_bytes of memory: never more pixels than
// kMaxImageSide squared, nor than physical_bytes / kBytesPerImagePixel.
ImageLimits image_limits_for_memory(uint64_t physical_bytes);

// Why an image of width x height pixels cannot be opened, as a phrase for an error message
// ("100000 x 100000 pixels is larger than 16384 x 16384"), or an empty string when it can.
// Sizes of zero or less are refused too.
std::string image_size_refusal(int64_t width, int64_t height, const ImageLimits& limits);

}  // namespace tarvo
