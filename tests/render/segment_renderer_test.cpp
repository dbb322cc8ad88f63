#include "render/segment_renderer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/host.h"
#include "render/dab.h"
#include "render_fixture.h"
#include "support/fake_canvas_window.h"

namespace tarvo {
namespace {

using testing::built_tables;
using testing::committed_hash;
using testing::fill_image;
using testing::fnv1a;
using testing::make_canvas;

// One colour image of 12 x 12 pixels with uniform coverage, and a brush of the given colour and
// mode at full opacity, no paper, no curve, no relief.
struct Scene {
  CanvasBuffers canvas;
  PaperTexture paper;
  BrushSettings brush;
  float PenAltitude = 0.0f;

  Scene(uint8_t image, uint8_t coverage, float paint, int32_t mode)
      : canvas(make_canvas(12, 12, image, image, image)) {
    canvas.FXbuffer.fill(coverage);
    brush.ColorR = brush.ColorG = brush.ColorB = paint;
    brush.BlendMode = mode;
    brush.BrushSize = 2.0f;
  }
  // Composites the whole image into the committed planes.
  void commit_all() { composite(kCommitFlag, 0, 0, 11, 11); }
  void composite(int32_t flags, float x1, float y1, float x2, float y2) {
    composite_box(canvas, {paper, brush, built_tables(), PenAltitude, flags}, x1, y1, x2, y2);
  }
  uint8_t red(int x, int y) const { return canvas.RBuffer(x, y); }
};

uint8_t committed_after(uint8_t image, uint8_t coverage, float paint, int32_t mode) {
  Scene s(image, coverage, paint, mode);
  s.commit_all();
  return s.red(5, 5);
}

TEST(SegmentRendererBlend, ZeroCoverageChangesNothingInAnyModeOrCurve) {
  for (int32_t mode = 0; mode <= 10; ++mode) {
    for (int32_t curve = 0; curve <= 2; ++curve) {
      Scene s(77, 0, 200.0f, mode);
      s.brush.BrushCurve = curve;
      s.composite(kPreviewFlag | kCommitFlag, 0, 0, 11, 11);
      EXPECT_EQ(s.red(5, 5), 77) << "mode " << mode << " curve " << curve;
      EXPECT_EQ(s.canvas.RPreview(5, 5), 77) << "mode " << mode << " curve " << curve;
    }
  }
}

TEST(SegmentRendererBlend, FullCoverageDefaultGivesExactlyThePaint) {
  Scene s(10, 255, 0.0f, 0);
  s.brush.ColorR = 201.0f;
  s.brush.ColorG = 0.0f;
  s.brush.ColorB = 99.5f;  // rounds to the even 100
  s.commit_all();
  EXPECT_EQ(s.canvas.RBuffer(3, 4), 201);
  EXPECT_EQ(s.canvas.GBuffer(3, 4), 0);
  EXPECT_EQ(s.canvas.BBuffer(3, 4), 100);
}

TEST(SegmentRendererBlend, TableModesAtFullStrength) {
  EXPECT_EQ(committed_after(200, 255, 50.0f, 2), 150);   // Subtract: image minus paint
  EXPECT_EQ(committed_after(200, 255, 100.0f, 4), 128);  // Divide: 127.5 to even
  EXPECT_EQ(committed_after(0, 255, 100.0f, 4), 255);    // Divide over black
  EXPECT_EQ(committed_after(128, 255, 128.0f, 5), 192);  // Screen
  EXPECT_EQ(committed_after(100, 255, 50.0f, 3), 19);    // Multiply: 5000 div 255
}

TEST(SegmentRendererBlend, TurnedOverPenPaintsWhiteInEveryMode) {
  for (int32_t mode = 0; mode <= 10; ++mode) {
    Scene pen(90, 200, 30.0f, mode);
    pen.PenAltitude = -1.0f;
    pen.commit_all();
    Scene white(90, 200, 255.0f, mode);
    white.commit_all();
    EXPECT_EQ(pen.red(5, 5), white.red(5, 5)) << "mode " << mode;
  }
  EXPECT_EQ(committed_after(90, 255, 255.0f, 0), 255);
}

TEST(SegmentRendererPaper, ZeroSizedPaperCountsAsNone) {
  Scene s(0, 255, 255.0f, 0);
  s.paper.PaperBuffer = Plane(4, 4);
  s.paper.PaperBuffer.fill(255);
  s.brush.PaperGrain = 255;
  s.paper.PaperWidth = 0;
  s.commit_all();
  EXPECT_EQ(s.red(5, 5), 255);
}

// Coverage rising by 10 per column on a mid-grey image with mid-grey paint: every pixel with
// coverage keeps 128 before relief, and the relief adds u - l = 20.
Scene relief_scene(int32_t size) {
  Scene s(128, 0, 128.0f, 0);
  s.canvas = make_canvas(size, size, 128, 128, 128);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) s.canvas.FXbuffer(x, y) = static_cast<uint8_t>(10 * x + 1);
  s.brush.Emboss = 1;
  return s;
}

TEST(SegmentRendererRelief, ShadesTheSlopeExceptNearTheBorder) {
  Scene s = relief_scene(12);
  s.commit_all();
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 12; ++x) {
      const bool inside = x >= 2 && x < 10 && y >= 2 && y < 10;
      EXPECT_EQ(s.red(x, y), inside ? 148 : 128) << x << "," << y;
    }
  }
}

TEST(SegmentRendererRelief, UniformCoverageAddsNothing) {
  Scene s(50, 255, 100.0f, 0);
  s.brush.Emboss = 3;
  s.commit_all();
  EXPECT_EQ(s.red(5, 5), 100);
}

// A layer with alpha: own colour c and alpha a everywhere, shown over white in the colour planes.
void give_layer(Scene& s, uint8_t c, uint8_t a) {
  CanvasBuffers& canvas = s.canvas;
  const int32_t columns = canvas.RBuffer.columns(), rows = canvas.RBuffer.rows();
  canvas.layer = LayerPlanes{Plane(columns, rows), Plane(columns, rows), Plane(columns, rows),
                             Plane(columns, rows)};
  for (Plane* p : {&canvas.layer.red, &canvas.layer.green, &canvas.layer.blue}) p->fill(c);
  canvas.layer.alpha.fill(a);
  fill_image(canvas, over_white(c, a), over_white(c, a), over_white(c, a));
}

TEST(SegmentRendererAlpha, OverFullTransparencyEveryModeLaysThePaintColourWithTheCoverage) {
  for (int32_t mode = 0; mode <= 10; ++mode) {
    Scene s(0, 100, 0.0f, mode);
    give_layer(s, 7, 0);
    s.brush.ColorR = 200.0f;
    s.brush.ColorG = 40.0f;
    s.brush.ColorB = 10.0f;
    s.composite(kPreviewFlag, 0, 0, 11, 11);
    EXPECT_EQ(s.canvas.layer.alpha(5, 5), 0) << "the preview writes what shows alone";
    s.commit_all();
    const LayerPlanes& layer = s.canvas.layer;
    EXPECT_EQ(layer.alpha(5, 5), 100) << "mode " << mode;
    EXPECT_EQ(layer.red(5, 5), 200) << "mode " << mode;
    EXPECT_EQ(layer.green(5, 5), 40) << "mode " << mode;
    EXPECT_EQ(layer.blue(5, 5), 10) << "mode " << mode;
    // The canvas shows that layer over white, exactly: no white is mixed into the paint.
    EXPECT_EQ(s.canvas.RBuffer(5, 5), over_white(200, 100)) << "mode " << mode;
    EXPECT_EQ(s.canvas.RPreview(5, 5), over_white(200, 100)) << "mode " << mode;
    EXPECT_EQ(s.canvas.BBuffer(5, 5), over_white(10, 100)) << "mode " << mode;
  }
}

TEST(SegmentRendererAlpha, PaintIsLaidOverAHalfTransparentPixel) {
  // Default: white of strength 128 over black of alpha 100.
  Scene s(0, 128, 255.0f, 0);
  give_layer(s, 0, 100);
  s.commit_all();
  const int alpha = 100 + (128 * 155 + 127) / 255;  // a0 + s (1 - a0)
  EXPECT_EQ(s.canvas.layer.alpha(5, 5), alpha);
  EXPECT_EQ(s.canvas.layer.red(5, 5), std::lround(128.0 * 255.0 / alpha));  // over: the black
  EXPECT_EQ(s.red(5, 5), over_white(s.canvas.layer.red(5, 5), static_cast<uint8_t>(alpha)));

  // Multiply at full strength combines the paint with the pixel's own colour, not with its look
  // over white (which would give 200 x 177 / 255 = 138).
  Scene multiply(0, 255, 200.0f, 3);
  give_layer(multiply, 100, 128);
  multiply.commit_all();
  EXPECT_EQ(multiply.canvas.layer.alpha(5, 5), 255);
  EXPECT_EQ(multiply.canvas.layer.red(5, 5), 200 * 100 / 255);
  EXPECT_EQ(multiply.red(5, 5), 200 * 100 / 255);
}

TEST(SegmentRendererAlpha, OpaquePixelsGetTheBytesOfAnImageWithoutAlpha) {
  for (int32_t mode = 0; mode <= 10; ++mode) {
    Scene plain(0, 0, 180.0f, mode), layered(0, 0, 180.0f, mode);
    for (Scene* s : {&plain, &layered}) {
      for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x) {
          s->canvas.RBuffer(x, y) = static_cast<uint8_t>(21 * x + 3 * y);
          s->canvas.GBuffer(x, y) = static_cast<uint8_t>(255 - 17 * y);
          s->canvas.BBuffer(x, y) = static_cast<uint8_t>(x * y);
          s->canvas.FXbuffer(x, y) = static_cast<uint8_t>(23 * x + 5 * y);
        }
      copy_to_previews(s->canvas);
      s->brush.Emboss = 1;
      s->brush.Opacity = 200.0f;
    }
    layered.canvas.layer = LayerPlanes{layered.canvas.RBuffer.copy(), layered.canvas.GBuffer.copy(),
                                       layered.canvas.BBuffer.copy(), Plane(13, 13)};
    layered.canvas.layer.alpha.fill(255);
    plain.commit_all();
    layered.commit_all();
    EXPECT_EQ(committed_hash(plain.canvas), committed_hash(layered.canvas)) << "mode " << mode;
    const LayerPlanes& own = layered.canvas.layer;
    EXPECT_EQ(fnv1a(own.red.data(), own.red.size()),
              fnv1a(plain.canvas.RBuffer.data(), plain.canvas.RBuffer.size()));
    EXPECT_EQ(own.alpha(6, 6), 255);
  }
}

TEST(SegmentRendererBox, SinglePointCompositesTheBrushSquare) {
  Scene s(0, 255, 255.0f, 0);
  s.composite(kCommitFlag, 5.5f, 6.0f, 5.5f, 6.0f);  // x 3.5..7.5 -> 3..7, y 4..8
  for (int y = 0; y < 12; ++y)
    for (int x = 0; x < 12; ++x)
      EXPECT_EQ(s.red(x, y), (x >= 3 && x <= 7 && y >= 4 && y <= 8) ? 255 : 0) << x << "," << y;
}

TEST(SegmentRendererBox, CornerOrderDoesNotMatter) {
  Scene forward(0, 255, 255.0f, 0), backward(0, 255, 255.0f, 0);
  forward.composite(kCommitFlag, 1.25f, 2.5f, 8.75f, 6.0f);
  backward.composite(kCommitFlag, 8.75f, 6.0f, 1.25f, 2.5f);
  EXPECT_EQ(testing::committed_hash(forward.canvas), testing::committed_hash(backward.canvas));
  EXPECT_EQ(forward.red(10, 8), 255);
  EXPECT_EQ(forward.red(11, 8), 0);
}

TEST(SegmentRendererBox, OutsideOrInvalidBoxesWriteNothing) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  Scene s(30, 255, 255.0f, 0);
  const uint64_t before = testing::committed_hash(s.canvas);
  s.composite(kCommitFlag, -50, -50, -10, -10);
  s.composite(kCommitFlag, 20, 3, 40, 5);
  s.composite(kCommitFlag, nan, 3, 4, 5);
  s.composite(kCommitFlag, 3, 3, inf, 5);
  s.composite(0, 0, 0, 11, 11);
  s.brush.BrushSize = nan;
  s.composite(kCommitFlag, 3, 3, 4, 5);
  EXPECT_EQ(testing::committed_hash(s.canvas), before);
}

TEST(SegmentRendererBox, HugeBrushIsClippedToTheImage) {
  Scene s(0, 255, 255.0f, 0);
  s.brush.BrushSize = 3e38f;
  s.composite(kCommitFlag, 5, 5, 5, 5);
  EXPECT_EQ(s.red(0, 0), 255);
  EXPECT_EQ(s.red(11, 11), 255);
}

TEST(SegmentRendererFlags, EachBitWritesItsOwnPlanes) {
  Scene preview(0, 255, 255.0f, 0), commit(0, 255, 255.0f, 0), both(0, 255, 255.0f, 0);
  preview.composite(kPreviewFlag, 5, 5, 5, 5);
  commit.composite(kCommitFlag, 5, 5, 5, 5);
  both.composite(kPreviewFlag | kCommitFlag, 5, 5, 5, 5);
  EXPECT_EQ(preview.canvas.RPreview(5, 5), 255);
  EXPECT_EQ(preview.canvas.RBuffer(5, 5), 0);
  EXPECT_EQ(commit.canvas.RPreview(5, 5), 0);
  EXPECT_EQ(commit.canvas.RBuffer(5, 5), 255);
  EXPECT_EQ(both.canvas.RPreview(5, 5), 255);
  EXPECT_EQ(both.canvas.BBuffer(5, 5), 255);
}

TEST(SegmentRendererFlags, PreviewRecomputesFromTheCommittedImage) {
  Scene s(100, 128, 0.0f, 0);
  s.composite(kPreviewFlag, 5, 5, 5, 5);
  s.composite(kPreviewFlag, 5, 5, 6, 6);  // overlapping box: paint is not applied twice
  EXPECT_EQ(s.canvas.RPreview(5, 5), 49);
}

TEST(SegmentRendererSettings, OutOfRangeValuesAreMadeHarmless) {
  const uint8_t plain = committed_after(100, 128, 0.0f, 0);
  for (int32_t mode : {-1, 11, 1000, std::numeric_limits<int32_t>::min()}) {
    EXPECT_EQ(committed_after(100, 128, 0.0f, mode), plain) << "mode " << mode;
  }
  for (int32_t curve : {-3, 3, 99}) {
    Scene s(100, 128, 0.0f, 0);
    s.brush.BrushCurve = curve;
    s.commit_all();
    EXPECT_EQ(s.red(5, 5), plain) << "curve " << curve;
  }
  Scene loud(0, 255, 255.0f, 0);
  loud.brush.Opacity = 1e9f;
  loud.brush.PaperGrain = std::numeric_limits<int32_t>::max();
  loud.brush.ColorR = 1e9f;
  loud.commit_all();
  EXPECT_EQ(loud.red(5, 5), 255);
  for (float opacity : {-10.0f, std::numeric_limits<float>::quiet_NaN()}) {
    Scene quiet(7, 255, 255.0f, 0);
    quiet.brush.Opacity = opacity;
    quiet.commit_all();
    EXPECT_EQ(quiet.red(5, 5), 7);
  }
}

TEST(SegmentRendererSettings, UnbuiltBlendTableFallsBackToDefault) {
  Scene s(100, 255, 40.0f, 3);
  composite_box(s.canvas, {s.paper, s.brush, BrushTables{}, 0.0f, kCommitFlag}, 0, 0, 11, 11);
  EXPECT_EQ(s.red(5, 5), 40);
}

TEST(PreviewRedrawRect, GrowsTheBoxByOneOverZoomRoundingHalvesToEven) {
  EXPECT_EQ(preview_redraw_rect(10.5f, 20.25f, 5.0f, 30.0f, 2.0f, 1.0f),
            (RedrawRect{2, 17, 13, 33}));
  EXPECT_EQ(preview_redraw_rect(10.5f, 20.25f, 5.0f, 30.0f, 2.0f, 2.0f),
            (RedrawRect{2, 18, 12, 32}));
  EXPECT_EQ(preview_redraw_rect(10.5f, 20.25f, 5.0f, 30.0f, 2.0f, 4.0f),
            (RedrawRect{3, 18, 12, 32}));
  EXPECT_EQ(preview_redraw_rect(1, 1, 1, 1, 2.0f, 0.0f), std::nullopt);
  EXPECT_EQ(preview_redraw_rect(std::nanf(""), 1, 1, 1, 2.0f, 1.0f), std::nullopt);
}

struct WindowedProgram {
  Program program;
  testing::FakeCanvasWindow window{64, 64};
  WindowedProgram() {
    testing::prepare_program(program, 32, 32);
    CreateDisplaySurface(program.display, program.size());
    program.display.window = &window;
    program.brush.BrushSize = 2.0f;
    program.brush.ColorR = 255.0f;
    program.canvas.FXbuffer.fill(255);
    fill_image(program.canvas, 0, 0, 0);
  }
};

// A commit that visits only the held spans gives the planes a scan of the whole box gives: with
// paper and relief (which reads the neighbours' coverage), and with coverage left from an earlier
// clear that did not take in all of it.
TEST(SegmentRendererHeld, CommitOfHeldSpansMatchesTheWholeBox) {
  for (const bool relief : {false, true}) {
    CanvasBuffers canvas[2] = {make_canvas(64, 48, 200, 120, 40),
                               make_canvas(64, 48, 200, 120, 40)};
    PaperTexture paper;
    paper.PaperWidth = 5;
    paper.PaperHeight = 3;
    paper.PaperBuffer = Plane(6, 4);
    for (std::size_t i = 0; i < paper.PaperBuffer.size(); ++i)
      paper.PaperBuffer.data()[i] = static_cast<uint8_t>(i * 37);
    BrushSettings brush;
    brush.BrushSize = 6.0f;
    brush.PaperGrain = 90;
    brush.Emboss = relief ? 1 : 0;
    // The same dabs into both; the first canvas's record is kept.
    CoverageChanges held, unused;
    const auto paint = [](CanvasBuffers& c, CoverageChanges& record) {
      AAcpen(c.FXbuffer.data(), 50.3f, 9.7f, 4.6f, 255.0f, 1.0f, 64, 48, &record);
      ClearFXbuffer(c, 30, 0, 64, 11);  // the first dab's upper rows only
      const PixelRect r = normalise_rect(30, 0, 64, 11, 64, 48);
      record.cleared(r.left, r.top, r.right, r.bottom);
      AAcpen(c.FXbuffer.data(), 12.5f, 30.2f, 5.1f, 255.0f, 0.8f, 64, 48, &record);
      AAcpen(c.FXbuffer.data(), 20.0f, 33.9f, 3.3f, 255.0f, 1.0f, 64, 48, &record);
      AAcpen(c.FXbuffer.data(), 2.0f, 46.5f, 2.5f, 255.0f, 1.0f, 64, 48, &record);
    };
    paint(canvas[0], held);
    paint(canvas[1], unused);
    composite_box(canvas[0], {paper, brush, built_tables(), 0.0f, kCommitFlag}, 0, 0, 63, 47,
                  &held);
    composite_box(canvas[1], {paper, brush, built_tables(), 0.0f, kCommitFlag}, 0, 0, 63, 47);
    EXPECT_EQ(testing::committed_hash(canvas[0]), testing::committed_hash(canvas[1]))
        << "relief " << relief;
    EXPECT_NE(canvas[0].RBuffer(12, 30), 200) << "relief " << relief;
    EXPECT_NE(canvas[0].RBuffer(50, 13), 200) << "relief " << relief;  // left by the clear
  }
}

TEST(RenderSegment, PreviewRedrawsTheGrownBox) {
  WindowedProgram w;
  RenderSegment(w.program, kPreviewFlag | kCommitFlag, 10, 10, 10, 10);
  ASSERT_EQ(w.window.copies.size(), 1u);
  const testing::CopiedRect& c = w.window.copies[0];
  EXPECT_EQ(c.src_x, 7);  // floor(8) - 1
  EXPECT_EQ(c.src_y, 7);
  EXPECT_EQ(c.width, 7);  // 7..13 inclusive
  EXPECT_EQ(c.height, 7);
  EXPECT_EQ(w.window.pixel(8, 8), 0xFF0000u);
  EXPECT_EQ(w.program.canvas.RBuffer(8, 8), 255);
  EXPECT_EQ(testing::fnv1a(w.program.canvas.RPreview.data(), w.program.canvas.RPreview.size()),
            testing::fnv1a(w.program.canvas.RBuffer.data(), w.program.canvas.RBuffer.size()));
}

TEST(RenderSegment, CommitAloneAndOffImageBoxesShowNothing) {
  WindowedProgram w;
  RenderSegment(w.program, kCommitFlag, 10, 10, 10, 10);
  RenderSegment(w.program, kPreviewFlag, 100, 100, 120, 120);
  EXPECT_TRUE(w.window.copies.empty());
  EXPECT_EQ(w.program.canvas.RBuffer(10, 10), 255);
}

}  // namespace
}  // namespace tarvo
