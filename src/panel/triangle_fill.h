#pragma once
// Gouraud fill of one triangle into a 32-bit pixel buffer: the vertex colours are interpolated
// linearly over the triangle.
//
// Vertices sit on whole pixel positions. Colour channels are 16-bit; an 8-bit value v is passed as
// v x 255 (so 255 is 65025, 0xFE01), and a pixel's 8-bit channel is the high byte of the
// interpolated 16-bit value. White passed that way therefore shows as 254, and a channel of v > 0
// as v - 1: picks from the filled triangle read those values.
//
// Coverage: pixel (x, y) is filled when the point (x, y) lies inside the triangle or on its edges.
// The rule depends on the vertex positions alone, never on their colours, so two fills of the same
// geometry (a picture and its mask) cover exactly the same pixels. A pixel on a vertex takes that
// vertex's colour exactly; a pixel on an edge mixes only that edge's two vertices.

#include <cstdint>

namespace tarvo {

// Rows of `stride` pixels, row 0 at the top. Each pixel is 0xFFRRGGBB in host byte order: bytes
// blue, green, red, then 0xFF, the layout of an opaque 32-bit bitmap.
struct PixelBuffer32 {
  uint32_t* pixels = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  int32_t stride = 0;  // pixels from one row to the next
};

struct GradientVertex {
  int32_t x = 0, y = 0;
  uint16_t Red = 0, Green = 0, Blue = 0, Alpha = 0;  // Alpha is carried but not drawn
};

// Fills the triangle a, b, c (either winding) into target, clipped to the buffer. A triangle of
// zero area fills nothing.
void gradient_fill_triangle(PixelBuffer32 target, const GradientVertex& a, const GradientVertex& b,
                            const GradientVertex& c);

// Whether the fill of triangle a, b, c covers pixel (x, y); false for a triangle of zero area.
bool triangle_covers(const GradientVertex& a, const GradientVertex& b, const GradientVertex& c,
                     int32_t x, int32_t y);

}  // namespace tarvo
