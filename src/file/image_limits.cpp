#include "file/image_limits.h"

namespace tarvo {

ImageLimits image_limits_for_memory(uint64_t physical_bytes) {
  ImageLimits limits;
  const uint64_t affordable = physical_bytes / static_cast<uint64_t>(kBytesPerImagePixel);
  if (affordable < static_cast<uint64_t>(limits.max_pixels)) {
    limits.max_pixels = static_cast<int64_t>(affordable);
  }
  return limits;
}

std::string image_size_refusal(int64_t width, int64_t height, const ImageLimits& limits) {
  const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (width <= 0 || height <= 0) return size + " is not an image size";
  if (width > limits.max_side || height > limits.max_side) {
    return size + " is larger than " + std::to_string(limits.max_side) + " x " +
           std::to_string(limits.max_side);
  }
  // Both sides are at most max_side here, so the product cannot overflow.
  if (width * height > limits.max_pixels) {
    return size + " is more than this machine's memory can hold (at most " +
           std::to_string(limits.max_pixels) + " pixels)";
  }
  return {};
}

}  // namespace tarvo
