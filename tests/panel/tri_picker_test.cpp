// The picker's arithmetic: the triangle's corners, GetHSV and its hue protection, the hue strip and
// the hue pick, the swatch colour, and the slider's value rules.

#include "panel/tri_picker.h"

#include <gtest/gtest.h>

#include "panel/slider_range.h"

namespace tarvo {
namespace {

TEST(PictureTriangle, CornersForTheBoxAndTheHue) {
  const TriangleCorners t = picture_triangle(81, 81, 120);
  EXPECT_EQ(t.a.x, 0);
  EXPECT_EQ(t.a.y, 0);
  EXPECT_EQ(t.b.x, 0);
  EXPECT_EQ(t.b.y, 81);
  EXPECT_EQ(t.c.x, 81);
  EXPECT_EQ(t.c.y, 40);  // 81 / 2 = 40.5 rounds to even
  EXPECT_EQ(picture_triangle(81, 83, 0).c.y, 42);
  EXPECT_EQ(t.a.Red, 65025);
  EXPECT_EQ(t.a.Blue, 65025);
  EXPECT_EQ(t.b.Green, 0);
  EXPECT_EQ(t.c.Red, 0);
  EXPECT_EQ(t.c.Green, 65025);
  EXPECT_EQ(t.c.Alpha, 0);
}

TEST(PictureTriangle, TheMaskHasTheSameGeometryAllWhite) {
  const TriangleCorners p = picture_triangle(81, 81, 200), m = mask_triangle(81, 81);
  for (const auto& [pv, mv] : {std::pair{p.a, m.a}, std::pair{p.b, m.b}, std::pair{p.c, m.c}}) {
    EXPECT_EQ(pv.x, mv.x);
    EXPECT_EQ(pv.y, mv.y);
    EXPECT_EQ(mv.Red, 65025);
    EXPECT_EQ(mv.Green, 65025);
    EXPECT_EQ(mv.Blue, 65025);
  }
}

TEST(PureHue, FullColoursAroundTheCircle) {
  EXPECT_EQ(pure_hue(0), (Rgb8{255, 0, 0}));
  EXPECT_EQ(pure_hue(30), (Rgb8{255, 128, 0}));  // 127.5 rounds to even
  EXPECT_EQ(pure_hue(60), (Rgb8{255, 255, 0}));
  EXPECT_EQ(pure_hue(240), (Rgb8{0, 0, 255}));
  EXPECT_EQ(pure_hue(360), (Rgb8{255, 0, 0}));
}

TEST(GetHSV, DerivesHueSaturationAndValue) {
  BrushSettings b;
  b.ColorR = 255, b.ColorG = 128, b.ColorB = 0;
  GetHSV(b, 0);
  EXPECT_EQ(b.ColorHue, 30);  // 30.1 degrees
  EXPECT_EQ(b.ColorSat, 255);
  EXPECT_EQ(b.ColorVal, 255);
  b.ColorR = 64, b.ColorG = 32, b.ColorB = 32;
  GetHSV(b, 0);
  EXPECT_EQ(b.ColorHue, 0);
  EXPECT_EQ(b.ColorSat, 128);  // 0.5 x 255 = 127.5, to even
  EXPECT_EQ(b.ColorVal, 64);
}

TEST(GetHSV, ATrianglePickKeepsTheHueEvenForGreys) {
  BrushSettings b;
  b.ColorHue = 200;
  b.ColorR = b.ColorG = b.ColorB = 90;
  GetHSV(b, 255);
  EXPECT_EQ(b.ColorHue, 200);
  EXPECT_EQ(b.ColorSat, 0);
  EXPECT_EQ(b.ColorVal, 90);
  GetHSV(b, 0);
  EXPECT_EQ(b.ColorHue, 0);  // a grey reports hue 0
}

TEST(HuePick, StripPositionsAreHeldWithin0And360) {
  EXPECT_EQ(strip_hue(-15.0f, 81), 0);
  EXPECT_EQ(strip_hue(0.0f, 81), 0);
  EXPECT_EQ(strip_hue(40.5f, 81), 180);
  EXPECT_EQ(strip_hue(81.0f, 81), 360);
  EXPECT_EQ(strip_hue(500.0f, 81), 360);
}

TEST(HuePick, KeepsSaturationAndValueAndLeavesRoundingToTheSliders) {
  const SliderColour grey = hue_pick_colour(200, 0, 128);
  EXPECT_DOUBLE_EQ(grey.red, 128.0);
  EXPECT_DOUBLE_EQ(grey.green, 128.0);
  EXPECT_DOUBLE_EQ(grey.blue, 128.0);
  const SliderColour orange = hue_pick_colour(30, 255, 255);
  EXPECT_DOUBLE_EQ(orange.red, 255.0);
  EXPECT_DOUBLE_EQ(orange.green, 127.5);
  EXPECT_DOUBLE_EQ(orange.blue, 0.0);
}

TEST(SliderValue, CodeValuesRoundHalvesToEvenAndAreNotClamped) {
  EXPECT_EQ(slider_value_from_code(127.5), 128);
  EXPECT_EQ(slider_value_from_code(126.5), 126);
  EXPECT_EQ(slider_value_from_code(-0.5), 0);
  EXPECT_EQ(slider_value_from_code(0.0), 0);  // below a minimum of 1, kept
  EXPECT_EQ(slider_value_from_code(1e9), 32767);
  EXPECT_EQ(slider_value_from_code(-1e9), -32768);
}

TEST(SliderValue, PositionsMapOntoTheRange) {
  const SliderRange size{1, 32};
  EXPECT_EQ(size.value_at(0.0), 1);
  EXPECT_EQ(size.value_at(1.0), 32);
  EXPECT_EQ(size.value_at(-3.0), 1);
  EXPECT_EQ(size.value_at(0.5), 16);  // 16.5 to even
  EXPECT_DOUBLE_EQ(size.fraction(1), 0.0);
  EXPECT_DOUBLE_EQ(size.fraction(0), 0.0);  // below the range: at the left end
  EXPECT_DOUBLE_EQ(size.fraction(40), 1.0);
  EXPECT_EQ(size.clamp(0), 1);
  EXPECT_EQ(SliderRange{}.page(), 10);
  EXPECT_EQ(size.page(), 3);
}

}  // namespace
}  // namespace tarvo
