#include "render/brush_walk.h"

#include <gtest/gtest.h>

#include "render_fixture.h"
#include "stroke/catmull_rom.h"

namespace tarvo {
namespace {

TEST(WalkSamples, StepFollowsTheDistanceToTheNewestPoint) {
  EXPECT_EQ(walk_step(0.0f), 1.0f);
  EXPECT_EQ(walk_step(0.5f), 2.0f);
  EXPECT_EQ(walk_step(4.0f), 0.25f);
  EXPECT_EQ(walk_step(10.0f), 0.1f);
  EXPECT_EQ(walk_step(10.5f), 0.1f);
}

TEST(WalkSamples, CountsAreCappedAtTen) {
  EXPECT_EQ(walk_sample_count(0.0f), 2);  // t = 0 and 1
  EXPECT_EQ(walk_sample_count(0.5f), 1);  // t = 0 only
  EXPECT_EQ(walk_sample_count(1.0f), 2);
  EXPECT_EQ(walk_sample_count(4.0f), 5);    // 0, 0.25, 0.5, 0.75, 1
  EXPECT_EQ(walk_sample_count(10.0f), 10);  // the float sum passes 1 after about 0.9
  EXPECT_EQ(walk_sample_count(10.5f), 10);
  EXPECT_EQ(walk_sample_count(500.0f), 10);
}

// A program whose stroke has rows 0..n stored along y = 12 at x = 10, 14, 18, ...
struct WalkFixture {
  Program program;
  WalkFixture() {
    testing::prepare_program(program, 64, 32);
    program.brush.BrushSize = 3.0f;
    program.brush.ColorR = 0.0f;
    StrokeState& s = program.stroke;
    for (int i = 0; i < 6; ++i) s.StrokePoints[i] = {10.0f + 4.0f * i, 12.0f, 1.0f};
    s.LastX = 10.0f;
    s.LastY = 12.0f;
    s.LastPressure = 1.0f;
    s.DirtyLeft = 7.0f;
    s.DirtyRight = 13.0f;
    s.DirtyTop = 9.0f;
    s.DirtyBottom = 15.0f;
  }
  void draw(int32_t n) {
    program.stroke.PointIndex = n;
    const StrokePoint& p = program.stroke.StrokePoints[n];
    DrawBrush(program, p.x, p.y);
  }
};

TEST(DrawBrush, NothingBeforeTheFourthPoint) {
  WalkFixture f;
  for (int32_t n = 0; n < 3; ++n) f.draw(n);
  EXPECT_EQ(testing::fnv1a(f.program.canvas.FXbuffer.data(), f.program.canvas.FXbuffer.size()),
            testing::fnv1a(Plane(64, 32).data(), 64 * 32));
  EXPECT_EQ(f.program.stroke.LastX, 10.0f);
  EXPECT_EQ(f.program.stroke.DirtyRight, 13.0f);
}

TEST(DrawBrush, SamplesThePieceBeforeTheNewestPoint) {
  WalkFixture f;
  f.draw(3);  // newest point x = 22, 12 pixels from LastX: ten samples, t = 0 .. about 0.9
  float t = 0.0f;
  for (int i = 0; i < 9; ++i) t += 0.1f;
  const StrokeState& s = f.program.stroke;
  EXPECT_EQ(s.LastX, t_Catmull(t, 10.0f, 14.0f, 18.0f, 22.0f));
  EXPECT_NEAR(s.LastX, 17.6f, 1e-4);
  EXPECT_EQ(s.LastY, 12.0f);
  EXPECT_EQ(s.LastPressure, 1.0f);
  EXPECT_EQ(s.DirtyRight, s.LastX + 3.0f);
  EXPECT_EQ(s.DirtyLeft, 7.0f);  // grows only
  EXPECT_EQ(s.DirtyTop, 9.0f);
}

TEST(DrawBrush, PaintsThePreviewOnlyAlongTheStraightJoinAndThePiece) {
  WalkFixture f;
  f.draw(3);
  const CanvasBuffers& c = f.program.canvas;
  EXPECT_EQ(c.FXbuffer(12, 12), 255);  // the join from point 0 to point 1
  EXPECT_EQ(c.RPreview(12, 12), 0);
  EXPECT_EQ(c.RBuffer(12, 12), 255);  // nothing committed yet
  EXPECT_EQ(c.FXbuffer(24, 12), 0);   // beyond the last sample
  EXPECT_EQ(c.RPreview(40, 12), 255);
}

}  // namespace
}  // namespace tarvo
