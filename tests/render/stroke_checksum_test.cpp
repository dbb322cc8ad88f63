// Whole strokes played as the pointer handlers play them (press, moves, release, commit), checked
// against checksums of the committed image. The checksums were taken from images that were looked
// at; a change in any of them means the strokes now look different.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "render/brush_walk.h"
#include "render/segment_renderer.h"
#include "render_fixture.h"

namespace tarvo {
namespace {

constexpr int32_t kSize = 256;

struct Point {
  float x, y, pressure;
};

// A loop with a varying pressure: a lissajous-like curve sampled about every 3 pixels.
std::vector<Point> synthetic_stroke() {
  std::vector<Point> points;
  for (int i = 0; i <= 120; ++i) {
    const double t = i / 120.0;
    const double x = 128 + 95 * std::sin(2 * M_PI * t) + 0.37 * i;
    const double y = 128 + 80 * std::sin(4 * M_PI * t + 0.6);
    const double pressure = 0.25 + 0.75 * std::sin(M_PI * t);
    points.push_back({static_cast<float>(x), static_cast<float>(y), static_cast<float>(pressure)});
  }
  return points;
}

void store_point(StrokeState& s, const Point& p, float size) {
  s.PointIndex = s.PointIndex + 1 > kLastStrokeRow ? 0 : s.PointIndex + 1;
  s.StrokePoints[s.PointIndex] = {p.x, p.y, p.pressure};
  if (p.x + size > s.DirtyRight) s.DirtyRight = p.x + size;
  if (p.x - size < s.DirtyLeft) s.DirtyLeft = p.x - size;
  if (p.y + size > s.DirtyBottom) s.DirtyBottom = p.y + size;
  if (p.y - size < s.DirtyTop) s.DirtyTop = p.y - size;
}

// Press at the first point, one move per further point, release repeating the last point, then the
// commit and the clearing of the coverage.
void play_stroke(Program& program, const std::vector<Point>& points) {
  StrokeState& s = program.stroke;
  const float size = program.brush.BrushSize;
  const Point& first = points.front();
  s.PointIndex = 0;
  s.StrokePoints[0] = {first.x, first.y, first.pressure};
  s.LastX = first.x;
  s.LastY = first.y;
  s.LastPressure = first.pressure;
  s.DirtyLeft = first.x - size;
  s.DirtyTop = first.y - size;
  s.DirtyRight = first.x + size;
  s.DirtyBottom = first.y + size;
  for (std::size_t i = 1; i < points.size(); ++i) {
    store_point(s, points[i], size);
    if (s.PointIndex >= 3) DrawBrush(program, points[i].x, points[i].y);
  }
  store_point(s, points.back(), size);
  DrawBrush(program, points.back().x, points.back().y);
  s.DirtyLeft -= 0.5f;
  s.DirtyTop -= 0.5f;
  s.DirtyRight += 0.5f;
  s.DirtyBottom += 0.5f;
  RenderSegment(program, kCommitFlag, s.DirtyLeft, s.DirtyTop, s.DirtyRight, s.DirtyBottom);
  ClearFXbuffer(program.canvas, s.DirtyLeft, s.DirtyTop, s.DirtyRight, s.DirtyBottom);
}

// A deterministic paper: diagonal ridges with a little hash noise, 32 x 24, tiled.
void make_paper(PaperTexture& paper) {
  paper.PaperWidth = 32;
  paper.PaperHeight = 24;
  paper.PaperBuffer = Plane(33, 25);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 32; ++x) {
      const uint32_t noise = (static_cast<uint32_t>(x) * 2654435761u ^ y * 40503u) >> 27;
      paper.PaperBuffer(x, y) = static_cast<uint8_t>(((x + 2 * y) % 8) * 28 + noise);
    }
}

// With TARVO_WRITE_STROKE_IMAGES set, writes the committed image to /tmp/<name>.ppm for viewing.
void maybe_write_image(const CanvasBuffers& c, const std::string& name) {
  if (std::getenv("TARVO_WRITE_STROKE_IMAGES") == nullptr) return;
  const std::string path = "/tmp/" + name + ".ppm";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fprintf(f, "P6\n%d %d\n255\n", c.BufferWidth, c.BufferHeight);
  for (int y = 0; y < c.BufferHeight; ++y)
    for (int x = 0; x < c.BufferWidth; ++x) {
      const uint8_t rgb[3] = {c.RBuffer(x, y), c.GBuffer(x, y), c.BBuffer(x, y)};
      std::fwrite(rgb, 1, 3, f);
    }
  std::fclose(f);
}

struct StrokeRun {
  Program program;
  StrokeRun() {
    testing::prepare_program(program, kSize, kSize);
    for (int y = 0; y < kSize; ++y)  // a soft background gradient, so blend modes show
      for (int x = 0; x < kSize; ++x) {
        program.canvas.RBuffer(x, y) = static_cast<uint8_t>(255 - x / 4);
        program.canvas.GBuffer(x, y) = static_cast<uint8_t>(200 + y / 5);
        program.canvas.BBuffer(x, y) = static_cast<uint8_t>(160 + (x + y) / 8);
      }
    copy_to_previews(program.canvas);
  }
  uint64_t play(const std::string& name) {
    play_stroke(program, synthetic_stroke());
    maybe_write_image(program.canvas, name);
    return testing::committed_hash(program.canvas);
  }
  bool coverage_cleared() const {
    for (std::size_t i = 0; i < program.canvas.FXbuffer.size(); ++i)
      if (program.canvas.FXbuffer.data()[i] != 0) return false;
    return true;
  }
};

TEST(WholeStroke, DefaultModePen) {
  StrokeRun run;
  BrushSettings& b = run.program.brush;
  b.BrushSize = 9.0f;
  b.ColorR = 20.0f;
  b.ColorG = 40.0f;
  b.ColorB = 160.0f;
  EXPECT_EQ(run.play("tarvo_stroke_default"), 1804022206769238864u);
  EXPECT_TRUE(run.coverage_cleared());
}

TEST(WholeStroke, MultiplyWithRimCurveOnPaper) {
  StrokeRun run;
  make_paper(run.program.paper);
  BrushSettings& b = run.program.brush;
  b.BrushSize = 14.0f;
  b.BlendMode = 3;
  b.BrushCurve = 1;
  b.PaperGrain = 90;
  b.Opacity = 230.0f;
  b.ColorR = 200.0f;
  b.ColorG = 60.0f;
  b.ColorB = 30.0f;
  EXPECT_EQ(run.play("tarvo_stroke_multiply"), 3329596112799567793u);
  EXPECT_TRUE(run.coverage_cleared());
}

TEST(WholeStroke, EmbossedHardPen) {
  StrokeRun run;
  BrushSettings& b = run.program.brush;
  b.BrushSize = 12.0f;
  b.Emboss = 1;
  b.BrushCurve = 2;
  b.PenPress = 160.0f;
  b.StepPercent = 40.0f;
  b.ColorR = b.ColorG = b.ColorB = 128.0f;
  EXPECT_EQ(run.play("tarvo_stroke_emboss"), 9856713930986876857u);
  EXPECT_TRUE(run.coverage_cleared());
}

}  // namespace
}  // namespace tarvo
