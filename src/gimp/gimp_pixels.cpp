// GEGL comes before any Qt header: its GLib headers must not see Qt's keyword macros.
#include "gimp/gimp_pixels.h"

#include <cstring>

#include "core/host.h"

namespace tarvo {

PixelPatcher::PixelPatcher(const Babl* native, int32_t width, bool opaque) : native_(native) {
  bytes_per_pixel_ = babl_format_get_bytes_per_pixel(native);
  const bool alpha = babl_format_has_alpha(native);
  has_alpha_ = alpha;
  opaque_ = alpha && opaque;
  if (native == babl_format_with_space(alpha ? "R'G'B'A u8" : "R'G'B' u8", native)) return;
  direct_ = false;
  channels_ = alpha ? 4 : 3;
  const Babl* floats = babl_format_with_space(alpha ? "R'G'B'A float" : "R'G'B' float", native);
  to_float_ = babl_fish(native, floats);
  from_float_ = babl_fish(floats, native);
  floats_.resize(static_cast<std::size_t>(width) * channels_);
  repacked_.resize(static_cast<std::size_t>(width) * bytes_per_pixel_);
}

void PixelPatcher::patch(uint8_t* row, int32_t width, const std::vector<int32_t>& columns,
                         const uint8_t* rgb, const uint8_t* alpha) {
  if (columns.empty()) return;
  const bool with_alpha = alpha != nullptr && has_alpha_;
  if (direct_) {
    for (int32_t x : columns) {
      uint8_t* pixel = row + static_cast<std::size_t>(x) * bytes_per_pixel_;
      std::memcpy(pixel, rgb + 3 * x, 3);
      if (with_alpha) {
        pixel[3] = alpha[x];
      } else if (opaque_) {
        pixel[3] = 255;
      }
    }
    return;
  }
  babl_process(to_float_, row, floats_.data(), width);
  for (int32_t x : columns) {
    float* pixel = floats_.data() + static_cast<std::size_t>(x) * channels_;
    pixel[0] = rgb[3 * x] / 255.0f;
    pixel[1] = rgb[3 * x + 1] / 255.0f;
    pixel[2] = rgb[3 * x + 2] / 255.0f;
    if (with_alpha) {
      pixel[3] = alpha[x] / 255.0f;
    } else if (opaque_) {
      pixel[3] = 1.0f;
    }
  }
  babl_process(from_float_, floats_.data(), repacked_.data(), width);
  for (int32_t x : columns) {
    const std::size_t at = static_cast<std::size_t>(x) * bytes_per_pixel_;
    std::memcpy(row + at, repacked_.data() + at, bytes_per_pixel_);
  }
}

void interleave_rgb(const uint8_t* red, const uint8_t* green, const uint8_t* blue, int32_t width,
                    uint8_t* rgb) {
  for (int32_t x = 0; x < width; ++x) {
    rgb[3 * x] = red[x];
    rgb[3 * x + 1] = green[x];
    rgb[3 * x + 2] = blue[x];
  }
}

int32_t count_differing_pixels(const uint8_t* a, const uint8_t* b, int32_t width,
                               const uint8_t* alpha_a, const uint8_t* alpha_b) {
  const bool alpha = alpha_a != nullptr && alpha_b != nullptr;
  if (std::memcmp(a, b, static_cast<std::size_t>(width) * 3) == 0 &&
      (!alpha || std::memcmp(alpha_a, alpha_b, static_cast<std::size_t>(width)) == 0)) {
    return 0;
  }
  int32_t count = 0;
  for (int32_t x = 0; x < width; ++x) {
    count += ((a[3 * x] ^ b[3 * x]) | (a[3 * x + 1] ^ b[3 * x + 1]) |
              (a[3 * x + 2] ^ b[3 * x + 2]) | (alpha ? alpha_a[x] ^ alpha_b[x] : 0)) != 0;
  }
  return count;
}

void composite_over_white(const uint8_t* rgba, int32_t width, uint8_t* rgb, uint8_t* own,
                          uint8_t* alpha) {
  for (int32_t x = 0; x < width; ++x) {
    const uint8_t a = rgba[4 * x + 3];
    for (int c = 0; c < 3; ++c) rgb[3 * x + c] = over_white(rgba[4 * x + c], a);
  }
  if (own == nullptr) return;
  for (int32_t x = 0; x < width; ++x) {
    std::memcpy(own + 3 * x, rgba + 4 * x, 3);
    alpha[x] = rgba[4 * x + 3];
  }
}

const Babl* fetch_format(const Babl* native, bool alpha) {
  return babl_format_with_space(alpha ? "R'G'B'A u8" : "R'G'B' u8", native);
}

void read_rgb(GeglBuffer* buffer, const GeglRectangle& area, const Babl* native, bool alpha,
              uint8_t* rgb, std::size_t stride, uint8_t* own, uint8_t* alpha_out,
              std::size_t alpha_stride) {
  if (!alpha) {
    gegl_buffer_get(buffer, &area, 1.0, fetch_format(native, false), rgb, static_cast<gint>(stride),
                    GEGL_ABYSS_NONE);
    return;
  }
  const std::size_t rgba_stride = static_cast<std::size_t>(area.width) * 4;
  std::vector<uint8_t> rgba(rgba_stride * area.height);
  gegl_buffer_get(buffer, &area, 1.0, fetch_format(native, true), rgba.data(),
                  static_cast<gint>(rgba_stride), GEGL_ABYSS_NONE);
  for (int32_t row = 0; row < area.height; ++row) {
    composite_over_white(rgba.data() + rgba_stride * row, area.width, rgb + stride * row,
                         own ? own + stride * row : nullptr,
                         own ? alpha_out + alpha_stride * row : nullptr);
  }
}

}  // namespace tarvo
