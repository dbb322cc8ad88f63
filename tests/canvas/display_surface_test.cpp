#include "canvas/display_surface.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "canvas/canvas_buffers.h"
#include "canvas/surface_rows.h"
#include "core/runtime_error.h"
#include "support/fake_canvas_window.h"

namespace tarvo {
namespace {

using testing::FakeCanvasWindow;

struct Scene {
  CanvasBuffers canvas;
  FakeCanvasWindow window;
  CanvasDisplay display;

  Scene(int32_t w, int32_t h, int32_t cw, int32_t ch) : window(cw, ch) {
    allocate_planes(canvas, w, h);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        canvas.RBuffer(x, y) = static_cast<uint8_t>(x);
        canvas.GBuffer(x, y) = static_cast<uint8_t>(y);
        canvas.BBuffer(x, y) = 77;
      }
    display.window = &window;
    display.AppTitle = "Title";
  }
  ImageSize size() const { return {canvas.BufferWidth, canvas.BufferHeight}; }
  void create() { CreateDisplaySurface(display, size()); }
  void redraw() { displaybuffers(display, size(), canvas.RBuffer, canvas.GBuffer, canvas.BBuffer); }
  static uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r << 16 | g << 8 | b; }
};

TEST(DisplaySurface, HeaderPadsTheScaledWidthToAMultipleOfFour) {
  Scene s(10, 10, 50, 50);
  s.create();
  EXPECT_EQ(s.display.surface.DibInfo.biSize, 40);
  EXPECT_EQ(s.display.surface.DibInfo.biWidth, 12);
  EXPECT_EQ(s.display.surface.DibInfo.biHeight, -10);
  EXPECT_EQ(s.display.surface.DibInfo.biPlanes, 1);
  EXPECT_EQ(s.display.surface.DibInfo.biBitCount, 32);
  s.display.view.Zoom = 1.5f;
  s.create();
  EXPECT_EQ(scaled_width(s.size(), 1.5f), 15);
  EXPECT_EQ(s.display.surface.DibInfo.biWidth, 16);
  EXPECT_EQ(s.display.surface.DibInfo.biHeight, -15);
}

TEST(DisplaySurface, CaptionShowsTheZoomOnlyWhenASurfaceIsReplacedInAVisibleWindow) {
  Scene s(10, 10, 50, 50);
  s.window.visible = true;
  s.create();
  EXPECT_EQ(s.window.caption, "");  // the first surface leaves the caption alone
  s.display.view.Zoom = 0.2f;
  s.create();
  EXPECT_EQ(s.window.caption, "Title zoom = 20");
  s.display.view.Zoom = 1.25f;
  s.create();
  EXPECT_EQ(s.window.caption, "Title zoom = 125");
  s.window.visible = false;
  s.display.view.Zoom = 2.0f;
  s.create();
  EXPECT_EQ(s.window.caption, "Title zoom = 125");
}

// A window that only reports a size: enough for the surface to size itself.
class SizedWindow : public testing::FakeCanvasWindow {
 public:
  SizedWindow(int32_t w, int32_t h) : FakeCanvasWindow(1, 1), w_(w), h_(h) {}
  int32_t client_width() const override { return w_; }
  int32_t client_height() const override { return h_; }
  void copy_from_surface(const DisplaySurface&, int32_t sx, int32_t sy, int32_t dx, int32_t dy,
                         int32_t w, int32_t h) override {
    copies.push_back({sx, sy, dx, dy, w, h});
  }

 private:
  int32_t w_, h_;
};

TEST(DisplaySurface, MemoryIsBoundedByTheClientAreaNotByTheZoom) {
  const ImageSize size{4096, 4096};
  Plane r(4097, 4097), g(4097, 4097), b(4097, 4097);
  for (float zoom : {6.0f, 40.0f, 1.0e6f}) {
    SizedWindow window(1920, 1080);
    CanvasDisplay display;
    display.window = &window;
    display.view.Zoom = zoom;
    display.view.PanX = -5000;
    display.view.PanY = -3000;
    CreateDisplaySurface(display, size);
    EXPECT_LE(display.surface.width(), 1920 + 8) << zoom;
    EXPECT_LE(display.surface.height(), 1080 + 4) << zoom;
    displaybuffers(display, size, r, g, b);
    // Far beyond any real zoom, the clamp's rounding to whole image pixels leaves nothing to show.
    if (zoom > 1000.0f) continue;
    ASSERT_EQ(window.copies.size(), 1u);
    const testing::CopiedRect& c = window.copies[0];
    EXPECT_LE(c.dst_x, 0);
    EXPECT_GE(c.dst_x + c.width, 1920);
    EXPECT_GE(c.dst_y + c.height, 1080);
    EXPECT_LE(c.src_x + c.width, display.surface.width());
  }
}

TEST(DisplaySurface, ASurfaceTooLargeToHoldRaises31001) {
  SizedWindow window(200000, 200000);
  CanvasDisplay display;
  display.window = &window;
  try {
    CreateDisplaySurface(display, ImageSize{100000, 100000});
    FAIL() << "expected error 31001";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 31001);
  }
}

TEST(Blit, AZoomedPannedImageShowsTheSamePixelsAsTheWholeScaledImageWould) {
  Scene s(64, 64, 50, 40);
  s.display.view.Zoom = 3.0f;
  s.display.view.PanX = -70;
  s.display.view.PanY = -31;
  s.create();
  s.redraw();
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 50; ++x) {
      const int32_t ix = (x + 70) / 3, iy = (y + 31) / 3;
      ASSERT_EQ(s.window.pixel(x, y), Scene::rgb(ix, iy, 77)) << x << "," << y;
    }
}

// After a pan that is not a multiple of the zoom, the client's edge columns and rows hold only part
// of a zoomed image pixel; a blit of the whole image must still draw them, in both ways of writing
// the window (copy from the surface, or rows written straight into the retained image).
TEST(Blit, EveryClientPixelShowsTheImagePixelUnderItAtHighZoomAfterAPan) {
  for (const bool retains : {false, true}) {
    for (const float zoom : {4.0f, 6.0f, 7.5f}) {
      Scene s(256, 256, 400, 300);
      s.window.retains_pixels = retains;
      s.display.view.Zoom = zoom;
      s.display.view.PanX = -10;
      s.display.view.PanY = -10;
      s.create();
      BlitPlanes(s.display, s.size(), s.canvas.RBuffer, s.canvas.GBuffer, s.canvas.BBuffer, 0, 0,
                 255, 255);
      int stale = 0;
      for (int32_t y = 0; y < 300; ++y)
        for (int32_t x = 0; x < 400; ++x) {
          const auto ix = static_cast<uint32_t>(std::floor((x + 10) / zoom));
          const auto iy = static_cast<uint32_t>(std::floor((y + 10) / zoom));
          if (s.window.pixel(x, y) != Scene::rgb(ix, iy, 77)) ++stale;
        }
      EXPECT_EQ(stale, 0) << "zoom " << zoom << (retains ? ", retained" : ", copied");
    }
  }
}

TEST(Blit, WholeImageShowsTheLastColumnAndRowAndMarginsAreGrey) {
  Scene s(10, 8, 14, 11);
  s.create();
  s.redraw();
  EXPECT_EQ(s.window.pixel(0, 0), Scene::rgb(0, 0, 77));
  EXPECT_EQ(s.window.pixel(9, 7), Scene::rgb(9, 7, 77));
  EXPECT_EQ(s.window.pixel(10, 3), FakeCanvasWindow::kBackground);
  EXPECT_EQ(s.window.pixel(13, 10), FakeCanvasWindow::kBackground);
  EXPECT_EQ(s.window.pixel(3, 8), FakeCanvasWindow::kBackground);
}

TEST(Blit, PannedAndZoomedPixelsLandAtFloorOfScaledPosition) {
  Scene s(10, 10, 40, 40);
  s.display.view.Zoom = 2.0f;
  s.display.view.PanX = 5;
  s.display.view.PanY = 3;
  s.create();
  s.redraw();
  EXPECT_EQ(s.window.pixel(5, 3), Scene::rgb(0, 0, 77));
  EXPECT_EQ(s.window.pixel(5 + 2 * 4 + 1, 3 + 2 * 6 + 1), Scene::rgb(4, 6, 77));
  EXPECT_EQ(s.window.pixel(4, 3), FakeCanvasWindow::kBackground);
  EXPECT_EQ(s.window.pixel(25, 22), FakeCanvasWindow::kBackground);
}

TEST(Blit, ZoomedOutSurfaceTakesNearestSamples) {
  Scene s(12, 12, 20, 20);
  s.display.view.Zoom = 0.5f;
  s.create();
  s.redraw();
  EXPECT_EQ(s.window.pixel(3, 2), Scene::rgb(6, 4, 77));
  EXPECT_EQ(s.window.pixel(6, 6), FakeCanvasWindow::kBackground);
}

TEST(Blit, ImageScrolledOffTheLeftBlitsNothingAndMarginsFillTheClient) {
  Scene s(10, 10, 20, 20);
  s.display.view.PanX = -10;
  s.create();
  s.redraw();
  // The clamp keeps one column beyond the client edge, which lands off-screen at x = -1.
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 20; ++x) ASSERT_EQ(s.window.pixel(x, y), FakeCanvasWindow::kBackground);
}

TEST(Blit, ARectangleIsClippedToTheImageAndTheVisibleArea) {
  Scene s(100, 100, 30, 20);
  s.create();
  BlitPlanes(s.display, s.size(), s.canvas.RBuffer, s.canvas.GBuffer, s.canvas.BBuffer, -5, -5, 500,
             500);
  ASSERT_EQ(s.window.copies.size(), 1u);
  // Clamped to (client + 1 - pan) / zoom, rounded up: 31 columns and 21 rows of the image.
  EXPECT_EQ(s.window.copies[0].width, 31);
  EXPECT_EQ(s.window.copies[0].height, 21);
  s.window.copies.clear();
  BlitPlanes(s.display, s.size(), s.canvas.RBuffer, s.canvas.GBuffer, s.canvas.BBuffer, 60, 60, 70,
             70);
  EXPECT_TRUE(s.window.copies.empty());
  s.display.view.Zoom = 0.0f;
  BlitPlanes(s.display, s.size(), s.canvas.RBuffer, s.canvas.GBuffer, s.canvas.BBuffer, 0, 0, 5, 5);
  EXPECT_TRUE(s.window.copies.empty());
}

TEST(Blit, OnlyTheRequestedRectangleOfTheSurfaceChanges) {
  Scene s(16, 16, 16, 16);
  s.create();
  s.redraw();
  s.canvas.RBuffer.fill(200);
  BlitPlanes(s.display, s.size(), s.canvas.RBuffer, s.canvas.GBuffer, s.canvas.BBuffer, 2, 3, 4, 5);
  EXPECT_EQ(s.window.pixel(2, 3) >> 16, 200u);
  EXPECT_EQ(s.window.pixel(4, 5) >> 16, 200u);
  EXPECT_EQ(s.window.pixel(5, 5) >> 16, 5u);
  EXPECT_EQ(s.window.pixel(2, 6) >> 16, 2u);
}

}  // namespace
}  // namespace tarvo

namespace tarvo {
namespace {

// The blit against a plain reading of its contract: every client pixel a blit copies shows the
// image pixel (floor(u / Zoom), floor(v / Zoom)) of its scaled pixel (u, v) = client - pan, and
// nothing outside the copied rectangles changes. The client areas are large enough for a
// whole-image blit to share its rows between two threads, and the widths are odd so that row
// tails do not fall on a multiple of the vector width.
struct Reference {
  Scene& s;
  uint32_t at(int32_t u, int32_t v) const {
    const double zoom = s.display.view.Zoom;
    const int32_t x =
        std::clamp(static_cast<int32_t>(std::floor(u / zoom)), 0, s.canvas.BufferWidth - 1);
    const int32_t y =
        std::clamp(static_cast<int32_t>(std::floor(v / zoom)), 0, s.canvas.BufferHeight - 1);
    return Scene::rgb(s.canvas.RBuffer(x, y), s.canvas.GBuffer(x, y), s.canvas.BBuffer(x, y));
  }
  // Counts the copied client pixels that differ from the reference (reporting the first).
  int mismatches(const testing::CopiedRect& c) const {
    int bad = 0;
    const ViewState& view = s.display.view;
    for (int32_t y = std::max(0, c.dst_y);
         y < std::min(s.window.client_height(), c.dst_y + c.height); ++y)
      for (int32_t x = std::max(0, c.dst_x);
           x < std::min(s.window.client_width(), c.dst_x + c.width); ++x) {
        const uint32_t want = at(x - view.PanX, y - view.PanY);
        if (s.window.pixel(x, y) != want && bad++ == 0)
          ADD_FAILURE() << "client (" << x << ", " << y << ") zoom " << view.Zoom << " pan "
                        << view.PanX << "," << view.PanY << ": " << std::hex << s.window.pixel(x, y)
                        << " not " << want;
      }
    return bad;
  }
};

void paint_noise(Scene& s, uint32_t seed) {
  for (int32_t y = 0; y <= s.canvas.BufferHeight; ++y)
    for (int32_t x = 0; x <= s.canvas.BufferWidth; ++x) {
      seed = seed * 1664525u + 1013904223u;
      s.canvas.RBuffer(x, y) = static_cast<uint8_t>(seed >> 24);
      s.canvas.GBuffer(x, y) = static_cast<uint8_t>(seed >> 16);
      s.canvas.BBuffer(x, y) = static_cast<uint8_t>(seed >> 8);
    }
}

// Runs the body with the processor's fastest kernels and again with the plain ones, each with a
// window that takes copies from the surface and with one whose client image the blit writes
// directly; body(retains_pixels) sets up its window accordingly.
template <class Body>
void with_each_blit_path(Body body) {
  for (bool plain : {false, true})
    for (bool direct : {false, true}) {
      SCOPED_TRACE(std::string(plain ? "plain kernels" : "fastest kernels") +
                   (direct ? ", direct client writes" : ", copies from the surface"));
      use_plain_surface_kernels(plain);
      body(direct);
    }
  use_plain_surface_kernels(false);
}

TEST(BlitReference, WholeImageAtEveryKindOfZoomAndPanShowsTheNearestSamples) {
  with_each_blit_path([](bool direct) {
    Scene s(1031, 719, 773, 541);
    s.window.retains_pixels = direct;
    paint_noise(s, 7);
    const float zooms[] = {0.25f, 0.3f, 0.5f, 0.75f, 1.0f, 1.25f, 1.5f, 2.5f, 3.0f, 7.3f};
    const int32_t pans[][2] = {{0, 0}, {-137, -61}, {13, 5}, {-2900, -2100}};
    for (float zoom : zooms)
      for (const auto& pan : pans) {
        s.display.view.Zoom = zoom;
        s.display.view.PanX = pan[0];
        s.display.view.PanY = pan[1];
        s.create();
        s.window.copies.clear();
        BlitPlanes(s.display, s.size(), s.canvas.RBuffer, s.canvas.GBuffer, s.canvas.BBuffer, 0, 0,
                   s.canvas.BufferWidth - 1, s.canvas.BufferHeight - 1);
        for (const testing::CopiedRect& c : s.window.copies)
          ASSERT_EQ(Reference{s}.mismatches(c), 0);
      }
  });
}

TEST(BlitReference, ARectangleRepaintsOnlyWhatItCopiesAndMatchesTheNewPlanes) {
  with_each_blit_path([](bool direct) {
    Scene s(901, 655, 811, 603);
    s.window.retains_pixels = direct;
    for (float zoom : {0.4f, 1.0f, 2.0f, 2.75f}) {
      s.display.view.Zoom = zoom;
      s.display.view.PanX = -23;
      s.display.view.PanY = -9;
      s.create();
      paint_noise(s, 11);
      s.redraw();
      const std::vector<uint32_t> before = [&] {
        std::vector<uint32_t> p;
        for (int32_t y = 0; y < 603; ++y)
          for (int32_t x = 0; x < 811; ++x) p.push_back(s.window.pixel(x, y));
        return p;
      }();
      paint_noise(s, 12);
      s.window.copies.clear();
      // Odd corners, and a rectangle large enough to be shared between threads.
      BlitPlanes(s.display, s.size(), s.canvas.RBuffer, s.canvas.GBuffer, s.canvas.BBuffer, 37, 3,
                 37 + 700 / zoom, 3 + 500 / zoom);
      ASSERT_EQ(s.window.copies.size(), 1u);
      const testing::CopiedRect& c = s.window.copies[0];
      ASSERT_EQ(Reference{s}.mismatches(c), 0) << zoom;
      int outside_changed = 0;
      for (int32_t y = 0; y < 603; ++y)
        for (int32_t x = 0; x < 811; ++x) {
          const bool inside =
              x >= c.dst_x && x < c.dst_x + c.width && y >= c.dst_y && y < c.dst_y + c.height;
          if (!inside && s.window.pixel(x, y) != before[static_cast<std::size_t>(y) * 811 + x])
            ++outside_changed;
        }
      EXPECT_EQ(outside_changed, 0) << zoom;
    }
  });
}

}  // namespace
}  // namespace tarvo
