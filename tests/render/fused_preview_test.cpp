// The fused preview pass of the brush walk against the plain one (every sub-segment box composited
// and redrawn in turn): strokes played through the pointer handlers into two programs, one per
// pass, must leave identical coverage and previews after every event and identical committed
// planes at the end. Also the box-minus-others compositing it is built on.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "canvas/image_history.h"
#include "render/brush_walk.h"
#include "render/segment_renderer.h"
#include "render_fixture.h"
#include "stroke/stroke_capture.h"

namespace tarvo {
namespace {

constexpr int32_t kWidth = 180, kHeight = 150;
constexpr int16_t kLeft = 1;

bool same_plane(const Plane& a, const Plane& b) {
  return a.size() == b.size() && std::equal(a.data(), a.data() + a.size(), b.data());
}

void paint_background(Program& p) {
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      p.canvas.RBuffer(x, y) = static_cast<uint8_t>(255 - x);
      p.canvas.GBuffer(x, y) = static_cast<uint8_t>(90 + y);
      p.canvas.BBuffer(x, y) = static_cast<uint8_t>((x * 7 + y * 3) & 255);
    }
  copy_to_previews(p.canvas);
}

void make_paper(PaperTexture& paper) {
  paper.PaperWidth = 20;
  paper.PaperHeight = 14;
  paper.PaperBuffer = Plane(20, 14);
  for (int y = 0; y < 14; ++y)
    for (int x = 0; x < 20; ++x)
      paper.PaperBuffer(x, y) = static_cast<uint8_t>((x * 37 + y * 91) & 255);
}

// One pointer event of a stroke: client position and, with the tablet, the pen's pressure.
struct Event {
  enum Kind { Down, Move, Up } kind;
  float x, y, pressure;
};

// A curvy stroke from (x0, y0) that speeds up (so the walk takes from one to ten samples an event)
// and leaves the image on the right, with pressure rising and falling (and overshooting 1 in
// places, which the curve through the points can exceed too).
std::vector<Event> curvy_stroke(float x0, float y0, int points) {
  std::vector<Event> events;
  float x = x0, y = y0;
  for (int i = 0; i < points; ++i) {
    const float pressure = 0.05f + 1.05f * std::sin(3.14159f * i / (points - 1));
    events.push_back({i == 0 ? Event::Down : Event::Move, x, y, pressure});
    const float step = 0.3f + 0.9f * i;
    x += step * std::cos(0.21f * i);
    y += step * std::sin(0.37f * i) * 0.8f;
  }
  Event last = events.back();
  last.kind = Event::Up;
  events.push_back(last);
  return events;
}

// Two programs with identical settings, one per pass.
struct PassPair {
  Program fused, plain;
  explicit PassPair(const std::function<void(Program&)>& setup) {
    for (Program* p : {&fused, &plain}) {
      testing::prepare_program(*p, kWidth, kHeight);
      paint_background(*p);
      setup(*p);
    }
  }

  static void send(Program& p, PreviewPass pass, const Event& e) {
    p.brush.preview_pass = pass;
    p.tablet.CurrentPressure = p.tablet.TabletOn ? e.pressure : 1.0f;
    p.tablet.TabletX = e.x;
    p.tablet.TabletY = e.y;
    float x = e.x, y = e.y;
    if (e.kind == Event::Down) Form_MouseDown(p, kLeft, 0, x, y);
    if (e.kind == Event::Move) Form_MouseMove(p, kLeft, 0, x, y);
    if (e.kind == Event::Up) Form_MouseUp(p, kLeft, 0, x, y);
  }

  // Plays the stroke into both; reports the first event after which the planes differ. Before
  // each event, between(program, event index) may change anything in both programs.
  void play(const std::vector<Event>& events, const std::string& name,
            const std::function<void(Program&, std::size_t)>& between = {}) {
    for (std::size_t i = 0; i < events.size(); ++i) {
      if (between) {
        between(fused, i);
        between(plain, i);
      }
      send(fused, PreviewPass::Fused, events[i]);
      send(plain, PreviewPass::PerSegment, events[i]);
      const CanvasBuffers &a = fused.canvas, &b = plain.canvas;
      ASSERT_TRUE(same_plane(a.FXbuffer, b.FXbuffer)) << name << ": coverage, event " << i;
      ASSERT_TRUE(same_plane(a.RPreview, b.RPreview) && same_plane(a.GPreview, b.GPreview) &&
                  same_plane(a.BPreview, b.BPreview))
          << name << ": previews, event " << i;
      ASSERT_EQ(fused.stroke.LastX, plain.stroke.LastX) << name << ", event " << i;
      ASSERT_EQ(fused.stroke.DirtyRight, plain.stroke.DirtyRight) << name << ", event " << i;
    }
    EXPECT_EQ(testing::committed_hash(fused.canvas), testing::committed_hash(plain.canvas)) << name;
  }
};

struct Setting {
  std::string name;
  std::function<void(Program&)> setup;
};

std::vector<Setting> settings() {
  auto with_tablet = [](Program& p) {
    p.tablet.TabletOn = true;
    p.tablet.PenInProximity = true;
  };
  return {{"mouse, size 32", [](Program& p) { p.brush.BrushSize = 32; }},
          {"pen, size 8",
           [&](Program& p) {
             with_tablet(p);
             p.brush.BrushSize = 8;
           }},
          {"pen, size 20, multiply, rim curve, paper",
           [&](Program& p) {
             with_tablet(p);
             p.brush.BrushSize = 20;
             p.brush.BlendMode = 3;
             p.brush.BrushCurve = 1;
             p.brush.PaperGrain = 140;
             p.brush.ColorR = 200;
             p.brush.ColorG = 30;
             p.brush.ColorB = 90;
             make_paper(p.paper);
           }},
          {"pen, size 14, emboss, hardening curve, half opacity",
           [&](Program& p) {
             with_tablet(p);
             p.brush.BrushSize = 14;
             p.brush.Emboss = 1;
             p.brush.BrushCurve = 2;
             p.brush.Opacity = 128;
             p.brush.StepPercent = 40;
           }},
          {"pen, size 26, emboss on paper, mode 9, turned over",
           [&](Program& p) {
             with_tablet(p);
             p.brush.BrushSize = 26;
             p.brush.Emboss = 1;
             p.brush.BlendMode = 9;
             p.brush.PaperGrain = 255;
             p.tablet.PenAltitude = -1.0f;
             make_paper(p.paper);
           }},
          {"mouse, size 3, zoom 2", [](Program& p) {
             p.brush.BrushSize = 3;
             p.display.view.Zoom = 2.0f;
           }}};
}

TEST(FusedPreview, MatchesEverySubSegmentCompositedInTurn) {
  for (const Setting& s : settings()) {
    PassPair pair(s.setup);
    pair.play(curvy_stroke(30, 40, 24), s.name + ", first stroke");
    // A second stroke over the first, starting at the image's top-left corner, so boxes clip.
    pair.play(curvy_stroke(1, 2, 18), s.name + ", second stroke");
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// The fused pass composites only what the dabs raised while nothing else changes; whatever else
// changes in the middle of a stroke must bring it back to compositing its boxes in full.
TEST(FusedPreview, StaysExactWhenSomethingElseChangesMidStroke) {
  const auto pen = [](Program& p) {
    p.tablet.TabletOn = true;
    p.tablet.PenInProximity = true;
    p.brush.BrushSize = 12;
  };
  const std::vector<std::pair<std::string, std::function<void(Program&, std::size_t)>>> changes = {
      {"colour and opacity",
       [](Program& p, std::size_t i) {
         if (i == 9) {
           p.brush.ColorR = 20;
           p.brush.Opacity = 90;
         }
       }},
      {"relief on, then off",
       [](Program& p, std::size_t i) {
         if (i == 6) p.brush.Emboss = 1;
         if (i == 12) p.brush.Emboss = 0;
       }},
      {"another paper",
       [](Program& p, std::size_t i) {
         if (i == 3) p.brush.PaperGrain = 200;
         if (i == 3 || i == 11) make_paper(p.paper);
       }},
      {"pen turned over",
       [](Program& p, std::size_t i) { p.tablet.PenAltitude = i >= 8 ? -1 : 1; }},
      {"undo", [](Program& p, std::size_t i) {
         if (i == 10) Undo(p);
       }}};
  for (const auto& [name, change] : changes) {
    PassPair pair(pen);
    pair.play(curvy_stroke(30, 40, 20), name + ", first stroke");
    pair.play(curvy_stroke(25, 35, 20), name + ", second stroke", change);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

// The previews filled with a value no composite with nonzero strength gives here, to see which
// pixels were written.
constexpr uint8_t kUntouched = 7;

TEST(CompositeBoxExcept, WritesExactlyTheBoxLessTheOthers) {
  Program ref, cut;
  for (Program* p : {&ref, &cut}) {
    testing::prepare_program(*p, 60, 50);
    p->brush.BrushSize = 4;
    p->brush.Emboss = 1;  // the relief reads neighbours outside a span: spans must not change it
    for (std::size_t i = 0; i < p->canvas.FXbuffer.size(); ++i)
      p->canvas.FXbuffer.data()[i] = static_cast<uint8_t>((i * 53) % 251);
  }
  const PixelBox box = segment_pixel_box(ref.canvas, 4, 10, 8, 40, 30);
  ASSERT_EQ(box, (PixelBox{6, 44, 4, 34}));
  const std::vector<PixelBox> others = {{0, 12, 0, 20},   {20, 25, 10, 12}, {22, 30, 11, 40},
                                        {40, 59, 30, 49}, {44, 44, 4, 4},   {30, 20, 5, 9}};
  ref.canvas.RPreview.fill(kUntouched);  // where the strength is 0 both keep it
  cut.canvas.RPreview.fill(kUntouched);
  composite_box(ref.canvas, {ref.paper, ref.brush, ref.tables, 0, kPreviewFlag}, 10, 8, 40, 30);
  composite_box_except(cut.canvas, {cut.paper, cut.brush, cut.tables, 0, kPreviewFlag}, box,
                       others);
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 60; ++x) {
      bool in_other = false;
      for (const PixelBox& o : others)
        in_other |= x >= o.x_begin && x <= o.x_end && y >= o.y_begin && y <= o.y_end;
      const bool in_box = x >= box.x_begin && x <= box.x_end && y >= box.y_begin && y <= box.y_end;
      const uint8_t want = in_box && !in_other ? ref.canvas.RPreview(x, y) : kUntouched;
      ASSERT_EQ(cut.canvas.RPreview(x, y), want) << x << ", " << y;
    }
}

TEST(CompositeBoxExcept, RejectsWhatItCannotDo) {
  Program p;
  testing::prepare_program(p, 20, 20);
  p.canvas.FXbuffer.fill(255);
  p.canvas.RPreview.fill(kUntouched);
  EXPECT_TRUE(segment_pixel_box(p.canvas, 2, NAN, 1, 3, 4).empty());
  EXPECT_EQ(segment_pixel_box(p.canvas, 2, -9, 1, 30, 4), (PixelBox{0, 19, 0, 6}));
  const PixelBox outside{15, 25, 0, 3};
  composite_box_except(p.canvas, {p.paper, p.brush, p.tables, 0, kPreviewFlag}, outside, {});
  const std::vector<PixelBox> too_many(kMaxPixelBoxes, PixelBox{0, 0, 0, 0});
  composite_box_except(p.canvas, {p.paper, p.brush, p.tables, 0, kPreviewFlag}, {2, 5, 2, 5},
                       too_many);
  composite_box_except(p.canvas, {p.paper, p.brush, p.tables, 0, 0}, {2, 5, 2, 5}, {});
  for (std::size_t i = 0; i < p.canvas.RPreview.size(); ++i)
    ASSERT_EQ(p.canvas.RPreview.data()[i], kUntouched);
}

}  // namespace
}  // namespace tarvo
