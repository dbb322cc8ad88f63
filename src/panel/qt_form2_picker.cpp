// The colour picker of the tools panel: the swatch, the hue strip, the colour triangle and its
// mask. The picks never write the colour themselves; they write the Red, Green and Blue sliders,
// whose Change handlers adopt the colour and call back here.

#include <QPainter>
#include <algorithm>

#include "appearance/qt_draw_pattern.h"
#include "panel/qt_form2.h"
#include "panel/qt_hprop.h"
#include "panel/qt_kv_button.h"
#include "panel/qt_picture_box.h"
#include "panel/tri_picker.h"

namespace tarvo {

namespace {

constexpr uint32_t kWhite = 0xFFFFFFFF;

uint32_t opaque_pixel(Rgb8 c) {
  return 0xFF000000u | uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b;
}

// Fills columns x0..x1 (inclusive, clipped) over the whole height of the surface.
void fill_columns(PixelBuffer32 px, int32_t x0, int32_t x1, uint32_t colour) {
  x0 = std::max(x0, 0);
  x1 = std::min(x1, px.width - 1);
  for (int32_t y = 0; y < px.height; ++y) {
    uint32_t* row = px.pixels + static_cast<int64_t>(y) * px.stride;
    for (int32_t x = x0; x <= x1; ++x) row[x] = colour;
  }
}

// Holds PickFromTriangle at 255 while a triangle pick writes the sliders.
class PickGuard {
 public:
  explicit PickGuard(int32_t& flag) : flag_(flag) { flag_ = 255; }
  ~PickGuard() { flag_ = 0; }
  PickGuard(const PickGuard&) = delete;
  PickGuard& operator=(const PickGuard&) = delete;

 private:
  int32_t& flag_;
};

}  // namespace

void Form2::SetColor() {
  kv_button* swatch = button(5);
  swatch->set_backcolor(swatch_colour(program_.brush));
  swatch->Refresh();
}

void Form2::Picture1_Paint() {
  const PixelBuffer32 px = hue_strip_->pixels();
  for (int32_t x = 0; x < px.width; ++x) {
    fill_columns(px, x, x, opaque_pixel(hue_strip_colour(x, px.width)));
  }
  const int32_t m = hue_marker_x(program_.brush.ColorHue, px.width);
  fill_columns(px, m - kHueMarkerHalfWidth, m + kHueMarkerHalfWidth, kWhite);
  hue_strip_->update();
}

// Only a drag picks: there is no press handler, so a click without movement picks nothing.
void Form2::Picture1_MouseMove(int16_t Button, int16_t, float X, float) {
  if (Button <= 0) return;
  BrushSettings& brush = program_.brush;
  brush.ColorHue = strip_hue(X, hue_strip_->ScaleWidth());
  const SliderColour c = hue_pick_colour(brush.ColorHue, brush.ColorSat, brush.ColorVal);
  slider(2)->set_value(c.red);
  slider(3)->set_value(c.green);
  slider(4)->set_value(c.blue);
  Picture1_Paint();
  hue_strip_->repaint();
  draw_triangle();
}

void Form2::draw_triangle() {
  fill_triangle(picker_->pixels(), picture_triangle(picker_->ScaleWidth(), picker_->ScaleHeight(),
                                                    program_.brush.ColorHue));
  picker_->update();
}

void Form2::draw_mask() {
  mask_->Cls();
  fill_triangle(mask_->pixels(), mask_triangle(picker_->ScaleWidth(), picker_->ScaleHeight()));
}

// The wallpaper behind the triangle continues the panel's own pattern.
void Form2::Picker_Paint() {
  picker_->Cls();
  if (picker_->isVisible()) {
    QPainter painter(&picker_->surface());
    Draw_Pattern(painter, wallpaper(), picker_->geometry());
  }
  draw_triangle();
}

// The mask tells a pick on the triangle from one beside it, whatever the wallpaper shows there.
// While the three sliders are written the hue stays the one the triangle was drawn for, so that
// greys, black and white keep it.
void Form2::Picker_MouseMove(int16_t Button, int16_t, float X, float Y) {
  if (Button == 0) return;
  if (mask_->Point(X, Y) <= 0) return;
  const uint32_t c = static_cast<uint32_t>(picker_->Point(X, Y));
  {
    PickGuard guard(pick_from_triangle_);
    slider(2)->set_value(c & 0xFF);
    slider(3)->set_value((c >> 8) & 0xFF);
    slider(4)->set_value((c >> 16) & 0xFF);
  }
  draw_triangle();
}

}  // namespace tarvo
