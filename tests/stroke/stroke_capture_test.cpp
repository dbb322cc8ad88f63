#include "stroke/stroke_capture.h"

#include <gtest/gtest.h>

#include "canvas/image_history.h"
#include "canvas/view_navigation.h"
#include "render/render_fixture.h"

namespace tarvo {
namespace {

class FakePanel : public ToolsPanel {
 public:
  void set_colour_sliders(uint8_t r, uint8_t g, uint8_t b) override { picks.push_back({r, g, b}); }
  void redraw_triangle() override { ++triangle_redraws; }
  void show_panel() override {}
  void unload_panel() override {}
  std::vector<std::array<uint8_t, 3>> picks;
  int triangle_redraws = 0;
};

struct Canvas {
  Program p;
  FakePanel panel;
  Canvas() {
    testing::prepare_program(p, 64, 48);
    p.panel = &panel;
  }
  void down(int16_t b, int16_t s, float x, float y) { Form_MouseDown(p, b, s, x, y); }
  void move(int16_t b, int16_t s, float x, float y) { Form_MouseMove(p, b, s, x, y); }
  void up(int16_t b, int16_t s, float x, float y) { Form_MouseUp(p, b, s, x, y); }
  // A horizontal stroke from (10, 20) with `moves` moves of 4 pixels.
  void stroke(int16_t shift, int moves) {
    down(1, shift, 10, 20);
    for (int i = 1; i <= moves; ++i) move(1, shift, 10.0f + 4 * i, 20);
    up(1, shift, 10.0f + 4 * moves, 20);
  }
  uint64_t image() const { return testing::committed_hash(p.canvas); }
};

TEST(StrokeCapture, PressWithButtonZeroOnlyResetsThePressureOfAnAttachedTablet) {
  Canvas c;
  c.p.tablet.TabletOn = true;
  c.p.tablet.CurrentPressure = 0.3f;
  c.down(0, 0, 5, 5);
  EXPECT_FLOAT_EQ(c.p.tablet.CurrentPressure, 1.0f);
  EXPECT_FALSE(c.p.stroke.MouseIsDown);
}

TEST(StrokeCapture, MovesWithoutAPressStoreNothing) {
  Canvas c;
  const uint64_t before = c.image();
  for (int i = 0; i < 10; ++i) c.move(1, 0, 5.0f + i, 5);
  EXPECT_EQ(c.p.stroke.PointIndex, 0);
  EXPECT_EQ(c.image(), before);
}

TEST(StrokeCapture, OnlyExactlyShiftCtrlNavigatesSoShiftCtrlAltPaints) {
  Canvas paints;
  const uint64_t white = paints.image();
  paints.stroke(7, 6);
  EXPECT_NE(paints.image(), white);
  EXPECT_EQ(paints.p.undo.records.size(), 1u);

  Canvas pans;
  pans.stroke(3, 6);
  EXPECT_EQ(pans.image(), white);
  EXPECT_TRUE(pans.p.undo.empty());
  EXPECT_EQ(pans.p.display.view.PanX, 24);  // the last move was 24 pixels right of the press
}

TEST(StrokeCapture, ThreePointsDrawNothingAndTwoMovesAreTheMinimumForPaint) {
  Canvas one_move;
  const uint64_t white = one_move.image();
  one_move.stroke(0, 1);  // rows 0..2
  EXPECT_EQ(one_move.p.stroke.PointIndex, 2);
  EXPECT_EQ(one_move.image(), white);
  EXPECT_EQ(one_move.p.undo.records.size(), 1u);  // the commit still runs

  Canvas two_moves;
  two_moves.stroke(0, 2);
  EXPECT_NE(two_moves.image(), white);
}

TEST(StrokeCapture, ReleaseCommitsThroughUndoAndClearsTheCoverage) {
  Canvas c;
  const uint64_t white = c.image();
  c.stroke(0, 8);
  const uint64_t painted = c.image();
  EXPECT_NE(painted, white);
  for (std::size_t i = 0; i < c.p.canvas.FXbuffer.size(); ++i)
    ASSERT_EQ(c.p.canvas.FXbuffer.data()[i], 0);
  Form_KeyPress(c.p, 'u');
  EXPECT_EQ(c.image(), white);
  Form_KeyPress(c.p, 'U');  // upper case does not undo
  EXPECT_EQ(c.image(), white);
}

TEST(StrokeCapture, PointListWrapsToRowZeroAfterRow10000) {
  Canvas c;
  c.down(1, 0, 10, 10);
  for (int i = 1; i <= 10000; ++i) c.move(1, 0, 10.0f + (i % 7), 10);
  EXPECT_EQ(c.p.stroke.PointIndex, 10000);
  c.move(1, 0, 30, 30);
  EXPECT_EQ(c.p.stroke.PointIndex, 0);
  EXPECT_FLOAT_EQ(c.p.stroke.StrokePoints[0].x, 30.0f);
  const float last_x = c.p.stroke.LastX;
  c.move(1, 0, 31, 30);
  c.move(1, 0, 32, 30);
  EXPECT_FLOAT_EQ(c.p.stroke.LastX, last_x);  // rows 0..2 draw nothing
  c.move(1, 0, 33, 30);
  // Row 3 draws the piece from row 1 (x 31) towards row 2 (x 32), ending on the sample near t =
  // 0.9.
  EXPECT_NEAR(c.p.stroke.LastX, 31.9f, 0.01f);
  EXPECT_EQ(c.p.stroke.PointIndex, 3);
  c.up(1, 0, 33, 30);
}

TEST(StrokeCapture, ModeIsFixedAtThePress) {
  Canvas c;
  const uint64_t white = c.image();
  c.down(1, 3, 10, 10);  // a navigation drag...
  c.move(1, 0, 20, 10);  // ...whose modifiers are let go
  c.up(1, 0, 20, 10);
  EXPECT_EQ(c.image(), white);  // commits nothing
  EXPECT_TRUE(c.p.undo.empty());
  EXPECT_EQ(c.p.display.view.PanX, 10);
}

TEST(StrokeCapture, AReleaseWithoutAPressIsIgnored) {
  Canvas c;
  c.stroke(0, 6);
  const uint64_t painted = c.image();
  c.up(1, 0, 40, 40);
  EXPECT_EQ(c.image(), painted);
  EXPECT_EQ(c.p.undo.records.size(), 1u);
}

TEST(ColourPick, PicksTheCommittedColourWithRoundingAndBounds) {
  Canvas c;
  c.p.canvas.RBuffer(3, 2) = 10;
  c.p.canvas.GBuffer(3, 2) = 20;
  c.p.canvas.BBuffer(3, 2) = 0;
  c.p.canvas.RPreview(3, 2) = 99;  // the preview is never read
  c.p.display.view.PickMode = true;
  c.down(1, 0, 3.4f, 1.6f);  // rounds to (3, 2)
  ASSERT_EQ(c.panel.picks.size(), 1u);
  EXPECT_EQ(c.panel.picks[0], (std::array<uint8_t, 3>{10, 20, 0}));
  EXPECT_EQ(c.panel.triangle_redraws, 1);
  c.move(0, 0, 3, 2);  // no button: no pick
  c.move(1, 0, 3, 2);
  c.up(1, 0, 3, 2);  // the release picks without a button test
  EXPECT_EQ(c.panel.picks.size(), 3u);

  for (auto [x, y] : {std::pair{-0.6f, 5.0f}, {63.5f, 5.0f}, {5.0f, -0.1f}, {5.0f, 47.5f}}) {
    c.down(1, 0, x, y);
    c.up(1, 0, x, y);
  }
  EXPECT_EQ(c.panel.picks.size(), 3u);
  c.down(1, 0, 63.4f, 47.4f);  // the last pixel
  EXPECT_EQ(c.panel.picks.size(), 4u);
}

TEST(StrokeCapture, ThePenPositionAndPressureReplaceTheMouseNearTheTablet) {
  Canvas c;
  c.p.tablet.TabletOn = true;
  c.p.tablet.PenInProximity = true;
  c.p.tablet.TabletX = 12.25f;
  c.p.tablet.TabletY = 7.75f;
  c.p.tablet.CurrentPressure = 0.5f;
  float x = 40, y = 40;
  Form_MouseDown(c.p, 1, 0, x, y);
  EXPECT_FLOAT_EQ(x, 12.25f);
  EXPECT_FLOAT_EQ(c.p.stroke.StrokePoints[0].x, 12.25f);
  EXPECT_FLOAT_EQ(c.p.stroke.StrokePoints[0].y, 7.75f);
  EXPECT_FLOAT_EQ(c.p.stroke.StrokePoints[0].pressure, 0.5f);
}

}  // namespace
}  // namespace tarvo

namespace tarvo {
namespace {

// After a committed stroke on a white image: no coverage is left anywhere, and undo gives back
// white in every pixel of plane.
void expect_no_coverage_and_undo_to_white(Program& p, const Plane& plane) {
  for (std::size_t i = 0; i < p.canvas.FXbuffer.size(); ++i)
    ASSERT_EQ(p.canvas.FXbuffer.data()[i], 0) << i;
  Form_KeyPress(p, 'u');
  for (int32_t y = 0; y < p.canvas.BufferHeight; ++y)
    for (int32_t x = 0; x < p.canvas.BufferWidth; ++x) ASSERT_EQ(plane(x, y), 255) << x << "," << y;
}

TEST(StrokeCapture, AnOvershootingPressureLeavesNoCoverageBehindTheCommit) {
  Program p;
  testing::prepare_program(p, 200, 120);
  p.brush.BrushSize = 32;
  p.tablet.TabletOn = p.tablet.PenInProximity = true;
  const float pressures[] = {0.5f, 1.0f, 1.0f, 0.5f, 1.0f, 1.0f, 0.5f, 1.0f};
  for (int i = 0; i < 8; ++i) {
    p.tablet.TabletX = 40.0f + 15 * i;
    p.tablet.TabletY = 60;
    p.tablet.CurrentPressure = pressures[i];
    float x = 0, y = 0;
    if (i == 0)
      Form_MouseDown(p, 1, 0, x, y);
    else if (i < 7)
      Form_MouseMove(p, 1, 0, x, y);
    else
      Form_MouseUp(p, 1, 0, x, y);
  }
  expect_no_coverage_and_undo_to_white(p, p.canvas.RBuffer);
}

TEST(StrokeCapture, ABrushShrunkMidStrokeStillCommitsAndClearsEveryDab) {
  Program p;
  testing::prepare_program(p, 120, 80);
  p.brush.BrushSize = 20;
  float x = 30, y = 40;
  Form_MouseDown(p, 1, 0, x, y);
  for (int i = 1; i <= 6; ++i) {
    x = 30.0f + 8 * i;
    Form_MouseMove(p, 1, 0, x, y);
  }
  p.brush.BrushSize = 1;  // as a script may do between two moves
  x = 90;
  Form_MouseMove(p, 1, 0, x, y);
  Form_MouseUp(p, 1, 0, x, y);
  expect_no_coverage_and_undo_to_white(p, p.canvas.GBuffer);
}

// A stroke whose opacity changes on the way commits other colours than its previews showed; an Undo
// of a later stroke elsewhere must still leave no such preview pixel behind for the next stroke.
TEST(StrokeCapture, UndoLeavesThePreviewsEqualToTheCommittedPlanesEverywhere) {
  Canvas c;
  const auto differing = [&c] {
    int n = 0;
    const CanvasBuffers& b = c.p.canvas;
    for (int32_t y = 0; y < b.BufferHeight; ++y)
      for (int32_t x = 0; x < b.BufferWidth; ++x)
        n += b.RPreview(x, y) != b.RBuffer(x, y) || b.GPreview(x, y) != b.GBuffer(x, y) ||
             b.BPreview(x, y) != b.BBuffer(x, y);
    return n;
  };
  c.p.brush.Opacity = 40;
  c.down(1, 0, 8, 40);
  for (int i = 1; i <= 8; ++i) {
    if (i == 5) c.p.brush.Opacity = 255;
    c.move(1, 0, 8.0f + 5 * i, 40);
  }
  c.up(1, 0, 48, 40);
  ASSERT_GT(differing(), 0);  // the first half was previewed at 40 and committed at 255
  c.stroke(0, 6);
  Undo(c.p);
  EXPECT_EQ(differing(), 0);
}

}  // namespace
}  // namespace tarvo
