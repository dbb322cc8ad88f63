#include "canvas/view_navigation.h"

#include <gtest/gtest.h>

#include "canvas/canvas_buffers.h"
#include "stroke/stroke_capture.h"
#include "support/fake_canvas_window.h"

namespace tarvo {
namespace {

using testing::FakeCanvasWindow;

struct View {
  Program p;
  FakeCanvasWindow window;
  View(int32_t w, int32_t h, int32_t cw, int32_t ch) : window(cw, ch) {
    allocate_planes(p.canvas, w, h);
    allocate_stroke_points(p.stroke);
    p.display.window = &window;
    p.display.AppTitle = "T";
    window.visible = true;
    CreateDisplaySurface(p.display, p.size());
  }
  ViewState& view() { return p.display.view; }
  void drag(int16_t button, float x0, float x1) {
    float x = x0, y = 10;
    Form_MouseDown(p, button, 3, x, y);
    x = x1;
    Form_MouseMove(p, button, 3, x, y);
    Form_MouseUp(p, button, 3, x, y);
  }
};

TEST(Fit, CentresTheImageAtTheSmallerRatio) {
  View v(1000, 500, 800, 600);
  fit_to_window(v.p);
  EXPECT_FLOAT_EQ(v.view().Zoom, 0.8f);
  EXPECT_EQ(v.view().PanX, 0);
  EXPECT_EQ(v.view().PanY, 100);
  EXPECT_EQ(v.window.caption, "T zoom = 80");
}

TEST(Fit, ClampsToAQuarterAndToSix) {
  View tiny_client(1000, 1000, 100, 2000);
  fit_to_window(tiny_client.p);
  EXPECT_FLOAT_EQ(tiny_client.view().Zoom, 0.25f);
  View huge_client(10, 10, 1000, 1000);
  fit_to_window(huge_client.p);
  EXPECT_FLOAT_EQ(huge_client.view().Zoom, 6.0f);
}

TEST(KeyZoom, StepsAQuarterAndNeverReachesZero) {
  View v(100, 100, 100, 100);
  v.view().Zoom = 0.3f;
  Form_KeyUp(v.p, key_code::kMinus, modifier::kCtrl);
  EXPECT_NEAR(v.view().Zoom, 0.05f, 1e-6);
  Form_KeyUp(v.p, key_code::kMinus, modifier::kCtrl);
  EXPECT_NEAR(v.view().Zoom, 0.05f, 1e-6);
  Form_KeyUp(v.p, key_code::kPlus, modifier::kCtrl);
  EXPECT_NEAR(v.view().Zoom, 0.3f, 1e-6);
}

TEST(KeyZoom, NeedsExactlyCtrlAndKeepsThePan) {
  View v(100, 100, 100, 100);
  v.view().PanX = 7;
  Form_KeyUp(v.p, key_code::kMinus, modifier::kCtrl | modifier::kShift);
  Form_KeyUp(v.p, key_code::kPlus, 0);
  EXPECT_FLOAT_EQ(v.view().Zoom, 1.0f);
  Form_KeyUp(v.p, key_code::kPlus, modifier::kCtrl);
  EXPECT_FLOAT_EQ(v.view().Zoom, 1.25f);
  EXPECT_EQ(v.view().PanX, 7);
}

TEST(Keys, CommaHoldsPickModeWithTheArrowPointer) {
  View v(10, 10, 10, 10);
  Form_KeyDown(v.p, key_code::kComma, 0);
  EXPECT_TRUE(v.view().PickMode);
  EXPECT_EQ(v.window.pointer, PointerShape::Arrow);
  Form_KeyUp(v.p, key_code::kComma, 0);
  EXPECT_FALSE(v.view().PickMode);
  EXPECT_EQ(v.window.pointer, PointerShape::Crosshair);
}

TEST(DragZoom, BelowAQuarterJumpsToOneFifthAndCentreStays) {
  View v(400, 200, 400, 200);
  v.drag(2, 300, 150);  // -0.75 from 1.0: 0.25 exactly stays
  EXPECT_FLOAT_EQ(v.view().Zoom, 0.25f);
  v.view().Zoom = 1.0f;
  v.view().PanX = v.view().PanY = 0;
  v.drag(2, 300, 149);
  EXPECT_FLOAT_EQ(v.view().Zoom, 0.2f);
  EXPECT_EQ(v.view().PanX, 160);  // R(0 - (0.2 - 1) * 400 / 2)
  EXPECT_EQ(v.view().PanY, 80);
  v.drag(2, 0, 5000);
  EXPECT_FLOAT_EQ(v.view().Zoom, 6.0f);
}

TEST(DragPan, FollowsThePointerAndBothButtonsOnlyRedraw) {
  View v(100, 100, 100, 100);
  float x = 10, y = 10;
  Form_MouseDown(v.p, 1, 3, x, y);
  x = 25.5f;
  y = 4;
  Form_MouseMove(v.p, 1, 3, x, y);
  EXPECT_EQ(v.view().PanX, 16);  // R(15.5) is the even 16
  EXPECT_EQ(v.view().PanY, -6);
  x = 90;
  Form_MouseMove(v.p, 3, 3, x, y);
  EXPECT_EQ(v.view().PanX, 16);
  EXPECT_FLOAT_EQ(v.view().Zoom, 1.0f);
}

// Halves go to the even neighbour, down as often as up: neither floor, nor halves away from zero,
// nor halves up give these.
TEST(DragPan, TiesRoundDownToTheEvenNeighbourToo) {
  View v(100, 100, 100, 100);
  float x = 10, y = 10;
  Form_MouseDown(v.p, 1, 3, x, y);
  x = 24.5f;  // R(14.5) = 14
  y = 3.5f;   // R(-6.5) = -6
  Form_MouseMove(v.p, 1, 3, x, y);
  EXPECT_EQ(v.view().PanX, 14);
  EXPECT_EQ(v.view().PanY, -6);
  View fit(100, 100, 101, 100);
  fit_to_window(fit.p);  // zoom 1; PanX = R(50.5 - 50) = 0
  EXPECT_EQ(fit.view().PanX, 0);
}

TEST(ActualSize, ResetsTheViewAndSizesOnlyANormalWindow) {
  View v(120, 80, 50, 50);
  v.view().Zoom = 3.0f;
  v.view().PanX = -40;
  v.window.state = WindowState::Maximized;
  actual_size(v.p);
  EXPECT_FLOAT_EQ(v.view().Zoom, 1.0f);
  EXPECT_EQ(v.view().PanX, 0);
  EXPECT_EQ(v.window.client_width(), 50);
  v.window.state = WindowState::Normal;
  actual_size(v.p);
  EXPECT_EQ(v.window.client_width(), 120);
  EXPECT_EQ(v.window.client_height(), 80);
}

}  // namespace
}  // namespace tarvo
