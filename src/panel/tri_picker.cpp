#include "panel/tri_picker.h"

#include <algorithm>

#include "panel/hsv.h"
#include "render/render_math.h"

namespace tarvo {

namespace {

uint8_t to_byte(double fraction_times_255) {
  return static_cast<uint8_t>(std::clamp(round_half_even(fraction_times_255), 0, 255));
}

GradientVertex corner(int32_t x, int32_t y, Rgb8 c) {
  return GradientVertex{x, y, gradient_channel(c.r), gradient_channel(c.g), gradient_channel(c.b),
                        0};
}

}  // namespace

Rgb8 pure_hue(int32_t ColorHue) {
  float r = 0, g = 0, b = 0;
  HSV_To_RGB(r, g, b, static_cast<float>(ColorHue), 1.0f, 1.0f);
  return Rgb8{to_byte(r * 255.0f), to_byte(g * 255.0f), to_byte(b * 255.0f)};
}

TriangleCorners picture_triangle(int32_t W, int32_t H, int32_t ColorHue) {
  const int32_t tip_y = round_half_even(H / 2.0);
  return TriangleCorners{corner(0, 0, Rgb8{255, 255, 255}), corner(0, H, Rgb8{0, 0, 0}),
                         corner(W, tip_y, pure_hue(ColorHue))};
}

TriangleCorners mask_triangle(int32_t W, int32_t H) {
  const Rgb8 white{255, 255, 255};
  const int32_t tip_y = round_half_even(H / 2.0);
  return TriangleCorners{corner(0, 0, white), corner(0, H, white), corner(W, tip_y, white)};
}

void fill_triangle(PixelBuffer32 target, const TriangleCorners& corners) {
  gradient_fill_triangle(target, corners.a, corners.b, corners.c);
}

void GetHSV(BrushSettings& brush, int32_t PickFromTriangle) {
  float h = 0, s = 0, v = 0;
  RGB_To_HSV(brush.ColorR / 255.0f, brush.ColorG / 255.0f, brush.ColorB / 255.0f, h, s, v);
  if (PickFromTriangle == 0) brush.ColorHue = round_half_even(h);
  brush.ColorSat = round_half_even(s * 255.0f);
  brush.ColorVal = round_half_even(v * 255.0f);
}

uint32_t swatch_colour(const BrushSettings& brush) {
  return pack_colour(Rgb8{to_byte(brush.ColorR), to_byte(brush.ColorG), to_byte(brush.ColorB)});
}

Rgb8 hue_strip_colour(int32_t x, int32_t W) {
  float r = 0, g = 0, b = 0;
  HSV_To_RGB(r, g, b, static_cast<float>(x) / static_cast<float>(W) * 360.0f, 1.0f, 1.0f);
  return Rgb8{to_byte(r * 255.0f), to_byte(g * 255.0f), to_byte(b * 255.0f)};
}

int32_t hue_marker_x(int32_t ColorHue, int32_t W) {
  return round_half_even(ColorHue / 360.0 * W);
}

int32_t strip_hue(float X, int32_t W) {
  return std::clamp(round_half_even(static_cast<double>(X) / W * 360.0), 0, 360);
}

SliderColour hue_pick_colour(int32_t ColorHue, int32_t ColorSat, int32_t ColorVal) {
  float r = 0, g = 0, b = 0;
  HSV_To_RGB(r, g, b, static_cast<float>(ColorHue), ColorSat / 255.0f, ColorVal / 255.0f);
  return SliderColour{r * 255.0f, g * 255.0f, b * 255.0f};
}

}  // namespace tarvo
