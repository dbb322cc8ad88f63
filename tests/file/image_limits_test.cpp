#include "file/image_limits.h"

#include <gtest/gtest.h>

namespace tarvo {
namespace {

TEST(ImageLimits, SidesAreLimitedEvenWithPlentyOfMemory) {
  const ImageLimits limits = image_limits_for_memory(uint64_t{1} << 40);
  EXPECT_EQ(limits.max_pixels, kMaxImageSide * kMaxImageSide);
  EXPECT_EQ(image_size_refusal(16384, 16384, limits), "");
  EXPECT_EQ(image_size_refusal(16385, 1, limits), "16385 x 1 pixels is larger than 16384 x 16384");
  EXPECT_NE(image_size_refusal(1, 100000, limits), "");
}

TEST(ImageLimits, PixelsAreLimitedByMemoryAtNineteenBytesEach) {
  const ImageLimits limits = image_limits_for_memory(19 * 1000);
  EXPECT_EQ(limits.max_pixels, 1000);
  EXPECT_EQ(image_size_refusal(100, 10, limits), "");
  EXPECT_NE(image_size_refusal(1001, 1, limits).find("more than this machine's memory"),
            std::string::npos);
}

TEST(ImageLimits, EmptySizesAreRefused) {
  const ImageLimits limits;
  EXPECT_NE(image_size_refusal(0, 10, limits), "");
  EXPECT_NE(image_size_refusal(10, -1, limits), "");
}

}  // namespace
}  // namespace tarvo
