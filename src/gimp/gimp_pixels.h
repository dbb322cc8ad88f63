#pragma once
// The GIMP host's pixels: the canvas's 8-bit RGB rows against a layer's pixels in GEGL's formats,
// its own (any precision, with or without alpha) or 8-bit RGB(A) in its colour space.

#include <gegl.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvo {

// Writes the painted colour into pixels of the drawable's own format. Formats that are 8-bit
// gamma-encoded RGB(A) in the image's space take the bytes as they are; every other format goes
// through floats, where only the colour channels are replaced. Given the painted alpha (a layer
// with alpha painted as coverage), a painted pixel takes it with its colour; otherwise a painted
// pixel becomes opaque when opaque is set, and else keeps its exact alpha.
class PixelPatcher {
 public:
  PixelPatcher(const Babl* native, int32_t width, bool opaque);
  int bytes_per_pixel() const { return bytes_per_pixel_; }
  // Whether a patched pixel keeps nothing of what was there (8-bit RGB without alpha), so that a
  // strip whose every pixel was painted need not be read first.
  bool replaces_whole_pixels() const { return direct_ && bytes_per_pixel_ == 3; }

  // Replaces the colour of the listed pixels of one row (columns counted from the row's start).
  // rgb holds the row's new colours, three bytes a pixel; alpha, when given, the row's new alpha,
  // a byte a pixel.
  void patch(uint8_t* row, int32_t width, const std::vector<int32_t>& columns, const uint8_t* rgb,
             const uint8_t* alpha = nullptr);

 private:
  const Babl* native_;
  int bytes_per_pixel_ = 0;
  bool direct_ = true;
  bool opaque_ = false;
  bool has_alpha_ = false;
  int channels_ = 3;
  const Babl* to_float_ = nullptr;
  const Babl* from_float_ = nullptr;
  std::vector<float> floats_;
  std::vector<uint8_t> repacked_;
};

// Interleaves width pixels of three planes' rows into rgb, three bytes a pixel.
void interleave_rgb(const uint8_t* red, const uint8_t* green, const uint8_t* blue, int32_t width,
                    uint8_t* rgb);

inline bool same_pixel(const uint8_t* a, const uint8_t* b) {
  return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

// How many of width pixels (three bytes each) differ between a and b; given alpha rows (a byte a
// pixel), a pixel whose alpha differs counts too.
int32_t count_differing_pixels(const uint8_t* a, const uint8_t* b, int32_t width,
                               const uint8_t* alpha_a = nullptr, const uint8_t* alpha_b = nullptr);

// The canvas shows a pixel with alpha as it looks over white paper: rgba holds width pixels of
// 8-bit gamma-encoded R, G, B and alpha, rgb receives three bytes a pixel. When own is given, it
// receives the pixels' own colours (three bytes a pixel) and alpha their alpha (a byte a pixel).
void composite_over_white(const uint8_t* rgba, int32_t width, uint8_t* rgb, uint8_t* own = nullptr,
                          uint8_t* alpha = nullptr);

// The format a fetch reads: 8-bit gamma-encoded RGB in the drawable's own colour space, with alpha
// when the drawable has it.
const Babl* fetch_format(const Babl* native, bool alpha);

// Reads a rectangle of the buffer into rgb (three bytes a pixel, stride bytes a row), composited
// over white when the layer has alpha; then, when own is given, the pixels' own colours into own
// (with rgb's layout) and their alpha into alpha_out (a byte a pixel, alpha_stride bytes a row).
void read_rgb(GeglBuffer* buffer, const GeglRectangle& area, const Babl* native, bool alpha,
              uint8_t* rgb, std::size_t stride, uint8_t* own = nullptr,
              uint8_t* alpha_out = nullptr, std::size_t alpha_stride = 0);

}  // namespace tarvo
