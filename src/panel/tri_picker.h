#pragma once
// The arithmetic of the colour picker: the triangle's corners and colours, the hue strip, the hue
// pick and the HSV globals. The windows draw and read pixels; everything they compute comes from
// here. Hues are whole degrees 0..360; saturation and value are scaled to 0..255; colours handed
// to controls are packed 0x00BBGGRR.

#include <cstdint>

#include "core/brush_settings.h"
#include "panel/triangle_fill.h"

namespace tarvo {

struct Rgb8 {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb8&) const = default;
};

// A colour as a control takes it: red in the low byte, 0x00BBGGRR.
inline uint32_t pack_colour(Rgb8 c) {
  return uint32_t{c.r} | uint32_t{c.g} << 8 | uint32_t{c.b} << 16;
}
inline Rgb8 unpack_colour(uint32_t packed) {
  return Rgb8{static_cast<uint8_t>(packed & 0xFF), static_cast<uint8_t>((packed >> 8) & 0xFF),
              static_cast<uint8_t>((packed >> 16) & 0xFF)};
}

// The 16-bit gradient channel of an 8-bit value v: v x 255.
inline uint16_t gradient_channel(uint8_t v) {
  return static_cast<uint16_t>(v * 255);
}

// The fully saturated, full-value colour of a hue: round(255 x HSV_To_RGB(hue, 1, 1)).
Rgb8 pure_hue(int32_t ColorHue);

// The colour triangle of a W x H box: A (0, 0) white, B (0, H) black, C (W, round(H / 2)) the pure
// colour of the hue. The left edge is vertical and the tip points right.
struct TriangleCorners {
  GradientVertex a, b, c;
};
TriangleCorners picture_triangle(int32_t W, int32_t H, int32_t ColorHue);
// The same geometry with every corner white: the mask that tells a pick on the triangle from one
// beside it.
TriangleCorners mask_triangle(int32_t W, int32_t H);
void fill_triangle(PixelBuffer32 target, const TriangleCorners& corners);

// Derives ColorHue (unless PickFromTriangle is non-zero), ColorSat and ColorVal from ColorR,
// ColorG and ColorB. A grey takes hue 0.
void GetHSV(BrushSettings& brush, int32_t PickFromTriangle);

// The swatch colour: the paint colour rounded to whole components, packed 0x00BBGGRR.
uint32_t swatch_colour(const BrushSettings& brush);

// The hue strip of a box W pixels wide: column x shows hue x / W x 360 at full saturation and
// value; the marker is centred on column round(ColorHue / 360 x W) and is kHueMarkerHalfWidth
// columns wide on either side.
constexpr int32_t kHueMarkerHalfWidth = 2;
Rgb8 hue_strip_colour(int32_t x, int32_t W);
int32_t hue_marker_x(int32_t ColorHue, int32_t W);

// The hue under strip position X (pixels, any value while the pointer is captured): round(X / W x
// 360) held within 0..360.
int32_t strip_hue(float X, int32_t W);

// The colour a hue pick writes to the Red, Green and Blue sliders, each 0..255 and not rounded:
// the hue with the current saturation and value.
struct SliderColour {
  double red = 0, green = 0, blue = 0;
};
SliderColour hue_pick_colour(int32_t ColorHue, int32_t ColorSat, int32_t ColorVal);

}  // namespace tarvo
