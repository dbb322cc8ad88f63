// The compositing loop against a direct, pixel-by-pixel transcription of the rules, on random
// planes: every mode, curve, paper and relief combination and both plane sets, with rows longer
// than one processing chunk and a paper whose size divides nothing.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <utility>

#include "render/blend_modes.h"
#include "render/segment_renderer.h"
#include "render_fixture.h"

namespace tarvo {
namespace {

using testing::built_tables;

constexpr int32_t kWidth = 300, kHeight = 9;

uint8_t reference_blend(int32_t mode, int32_t p, int32_t i) {
  return mode == 0 ? static_cast<uint8_t>(p) : built_tables().BlendTable(p, i, mode - 1);
}

int32_t reduced(const CanvasBuffers& c, const PaperTexture& paper, int32_t grain, int32_t x,
                int32_t y) {
  int32_t m = c.FXbuffer(x, y);
  if (grain >= 1) {
    m -= (paper.PaperBuffer(x % paper.PaperWidth, y % paper.PaperHeight) * grain) / 255;
    if (m < 0) m = 0;
  }
  return m;
}

// One pixel exactly as the rules read; flags as composite_box takes them.
void reference_pixel(CanvasBuffers& c, const PaperTexture& paper, const BrushSettings& b,
                     int32_t flags, int32_t x, int32_t y) {
  int32_t m = reduced(c, paper, b.PaperGrain, x, y);
  if (b.BrushCurve >= 1) m = built_tables().CoverageCurves(m, b.BrushCurve - 1);
  const int32_t a = static_cast<int32_t>(std::nearbyint(m * static_cast<double>(b.Opacity))) / 255;
  if (a <= 0) return;
  const int32_t paint[3] = {static_cast<int32_t>(std::nearbyint(b.ColorR)),
                            static_cast<int32_t>(std::nearbyint(b.ColorG)),
                            static_cast<int32_t>(std::nearbyint(b.ColorB))};
  Plane* image[3] = {&c.RBuffer, &c.GBuffer, &c.BBuffer};
  Plane* preview[3] = {&c.RPreview, &c.GPreview, &c.BPreview};
  int32_t out[3];
  for (int ch = 0; ch < 3; ++ch) {
    const int32_t i = (*image[ch])(x, y);
    out[ch] = (a * reference_blend(b.BlendMode, paint[ch], i) + (255 - a) * i) / 255;
  }
  if (b.Emboss >= 1 && x >= 2 && x < c.BufferWidth - 2 && y >= 2 && y < c.BufferHeight - 2) {
    const int32_t d = reduced(c, paper, b.PaperGrain, x + 1, y + 1) -
                      reduced(c, paper, b.PaperGrain, x - 1, y - 1);
    for (int32_t& o : out) o = std::min(255, std::max(0, o + d));
  }
  int32_t own[3] = {out[0], out[1], out[2]};
  const int32_t was = c.layer.empty() ? 255 : c.layer.alpha(x, y);
  const int32_t grown = was + (a * (255 - was) + 127) / 255;
  Plane* layer[3] = {&c.layer.red, &c.layer.green, &c.layer.blue};
  // Over a pixel with alpha below 255: its own colour, laid over, and what that shows over white.
  for (int ch = 0; ch < 3 && was != 255; ++ch) {
    const int32_t colour = (*layer[ch])(x, y);
    const int32_t v = was == 0 ? paint[ch] : reference_blend(b.BlendMode, paint[ch], colour);
    const float laid = static_cast<float>(255 * a * v + (255 - a) * was * colour) /
                       static_cast<float>(255 * grown);
    own[ch] = std::min(255, static_cast<int32_t>(laid + 0.5f));
    if (b.Emboss >= 1 && x >= 2 && x < c.BufferWidth - 2 && y >= 2 && y < c.BufferHeight - 2) {
      own[ch] = std::min(255, std::max(0, own[ch] + reduced(c, paper, b.PaperGrain, x + 1, y + 1) -
                                              reduced(c, paper, b.PaperGrain, x - 1, y - 1)));
    }
    out[ch] = (own[ch] * grown + 255 * (255 - grown) + 127) / 255;
  }
  for (int ch = 0; ch < 3; ++ch) {
    if (flags & kPreviewFlag) (*preview[ch])(x, y) = static_cast<uint8_t>(out[ch]);
    if (flags & kCommitFlag) (*image[ch])(x, y) = static_cast<uint8_t>(out[ch]);
    if ((flags & kCommitFlag) && !c.layer.empty())
      (*layer[ch])(x, y) = static_cast<uint8_t>(own[ch]);
  }
  if ((flags & kCommitFlag) && !c.layer.empty()) c.layer.alpha(x, y) = static_cast<uint8_t>(grown);
}

struct RandomScene {
  CanvasBuffers canvas;
  PaperTexture paper;
  RandomScene(uint32_t seed, int32_t paper_width, int32_t paper_height) {
    std::mt19937 random(seed);
    allocate_planes(canvas, kWidth, kHeight);
    for (Plane* p : {&canvas.RBuffer, &canvas.GBuffer, &canvas.BBuffer, &canvas.RPreview,
                     &canvas.GPreview, &canvas.BPreview, &canvas.FXbuffer}) {
      for (std::size_t i = 0; i < p->size(); ++i) p->data()[i] = static_cast<uint8_t>(random());
    }
    for (int32_t x = 40; x < 90; ++x) canvas.FXbuffer(x, 4) = 0;  // a run of untouched pixels
    // Runs of untouched pixels that split a row's span, or nearly do: as long as the split needs,
    // one shorter, two separated by one touched pixel, one up to the box's end.
    for (int32_t x = 100; x < 132; ++x) canvas.FXbuffer(x, 5) = 0;
    for (int32_t x = 201; x < 232; ++x) canvas.FXbuffer(x, 5) = 0;
    for (int32_t x = 7; x < 200; ++x) canvas.FXbuffer(x, 6) = x == 46 ? 200 : 0;
    for (int32_t x = 250; x < kWidth; ++x) canvas.FXbuffer(x, 3) = 0;
    paper.PaperWidth = paper_width;
    paper.PaperHeight = paper_height;
    paper.PaperBuffer = Plane(paper_width + 1, paper_height + 1);
    for (std::size_t i = 0; i < paper.PaperBuffer.size(); ++i)
      paper.PaperBuffer.data()[i] = static_cast<uint8_t>(random());
  }
};

void expect_same_planes(const CanvasBuffers& a, const CanvasBuffers& b, const std::string& what) {
  EXPECT_EQ(testing::committed_hash(a), testing::committed_hash(b)) << what;
  const auto previews = [](const CanvasBuffers& c) {
    uint64_t h = testing::fnv1a(c.BPreview.data(), c.BPreview.size());
    h = testing::fnv1a(c.GPreview.data(), c.GPreview.size(), h);
    return testing::fnv1a(c.RPreview.data(), c.RPreview.size(), h);
  };
  EXPECT_EQ(previews(a), previews(b)) << what;
}

// A paper tile far smaller than the box is looked up once per tile byte, a larger one per pixel.
TEST(CompositeReference, EveryModeCurvePaperAndReliefMatchesThePixelRules) {
  uint32_t seed = 1;
  for (const auto& [paper_width, paper_height] : {std::pair{37, 5}, std::pair{251, 9}}) {
    for (int32_t mode = 0; mode <= 10; ++mode) {
      for (int32_t variant = 0; variant < 6; ++variant) {
        BrushSettings b;
        b.BlendMode = mode;
        b.BrushCurve = variant % 3;
        b.PaperGrain = variant >= 3 ? 150 : 0;
        b.Emboss = (variant + mode) % 2;
        b.Opacity = variant == 4 ? 127.5f : 230.0f;
        b.ColorR = 12.0f;
        b.ColorG = 128.0f;
        b.ColorB = 251.0f;
        b.BrushSize = 1.5f;
        const int32_t flags = 1 + (variant + mode) % 3;
        RandomScene fast(seed, paper_width, paper_height), slow(seed, paper_width, paper_height);
        ++seed;
        composite_box(fast.canvas, {fast.paper, b, built_tables(), 0.0f, flags}, 3.0f, 2.0f, 296.0f,
                      6.0f);
        for (int32_t y = 0; y <= 7; ++y)
          for (int32_t x = 1; x <= 297; ++x)
            reference_pixel(slow.canvas, slow.paper, b, flags, x, y);
        expect_same_planes(fast.canvas, slow.canvas,
                           "mode " + std::to_string(mode) + " variant " + std::to_string(variant) +
                               " paper " + std::to_string(paper_width));
      }
    }
  }
}

// A layer with alpha, its alpha often 0 or 255 and random otherwise, its own colours random (the
// kernels never assume that the colour planes show them over white).
TEST(CompositeReference, OverALayerWithAlphaEveryModeMatchesThePixelRules) {
  uint32_t seed = 500;
  for (int32_t mode = 0; mode <= 10; ++mode) {
    for (int32_t variant = 0; variant < 4; ++variant) {
      BrushSettings b;
      b.BlendMode = mode;
      b.BrushCurve = variant % 3;
      b.PaperGrain = variant >= 2 ? 150 : 0;
      b.Emboss = (variant + mode) % 2;
      b.Opacity = 230.0f;
      b.ColorR = 12.0f;
      b.ColorG = 128.0f;
      b.ColorB = 251.0f;
      b.BrushSize = 1.5f;
      const int32_t flags = 1 + (variant + mode) % 3;
      RandomScene fast(seed, 37, 5), slow(seed, 37, 5);
      std::mt19937 random(seed++);
      for (RandomScene* scene : {&fast, &slow}) {
        LayerPlanes& layer = scene->canvas.layer;
        layer = LayerPlanes{Plane(kWidth + 1, kHeight + 1), Plane(kWidth + 1, kHeight + 1),
                            Plane(kWidth + 1, kHeight + 1), Plane(kWidth + 1, kHeight + 1)};
      }
      for (std::size_t i = 0; i < fast.canvas.layer.alpha.size(); ++i) {
        const uint32_t r = random();
        const uint8_t alpha = r % 3 == 0 ? 0 : r % 3 == 1 ? 255 : static_cast<uint8_t>(r >> 8);
        for (RandomScene* scene : {&fast, &slow}) {
          LayerPlanes& layer = scene->canvas.layer;
          layer.alpha.data()[i] = alpha;
          layer.red.data()[i] = static_cast<uint8_t>(r >> 4);
          layer.green.data()[i] = static_cast<uint8_t>(r >> 12);
          layer.blue.data()[i] = static_cast<uint8_t>(r >> 20);
        }
      }
      composite_box(fast.canvas, {fast.paper, b, built_tables(), 0.0f, flags}, 3.0f, 2.0f, 296.0f,
                    6.0f);
      for (int32_t y = 0; y <= 7; ++y)
        for (int32_t x = 1; x <= 297; ++x) reference_pixel(slow.canvas, slow.paper, b, flags, x, y);
      const std::string what =
          "mode " + std::to_string(mode) + " variant " + std::to_string(variant);
      expect_same_planes(fast.canvas, slow.canvas, what);
      const LayerPlanes &f = fast.canvas.layer, &s = slow.canvas.layer;
      for (const auto& [ours, rules] : {std::pair{&f.red, &s.red}, std::pair{&f.blue, &s.blue},
                                        std::pair{&f.alpha, &s.alpha}}) {
        EXPECT_EQ(testing::fnv1a(ours->data(), ours->size()),
                  testing::fnv1a(rules->data(), rules->size()))
            << what;
      }
    }
  }
}

template <class Mode>
void expect_mode_matches_table() {
  for (int32_t p = 0; p < 256; ++p)
    for (int32_t i = 0; i < 256; ++i)
      ASSERT_EQ(Mode::apply(static_cast<uint16_t>(p), static_cast<uint16_t>(i)),
                built_tables().BlendTable(p, i, Mode::kCode - 1))
          << "mode " << Mode::kCode << " p " << p << " i " << i;
}

TEST(BlendModes, ArithmeticModesEqualTheirTablesForEveryPair) {
  expect_mode_matches_table<blend::Add>();
  expect_mode_matches_table<blend::Subtract>();
  expect_mode_matches_table<blend::Multiply>();
  expect_mode_matches_table<blend::Screen>();
  expect_mode_matches_table<blend::Greater>();
  expect_mode_matches_table<blend::Less>();
  expect_mode_matches_table<blend::And>();
  expect_mode_matches_table<blend::Or>();
  expect_mode_matches_table<blend::Xor>();
}

}  // namespace
}  // namespace tarvo
