// View navigation on a 4096 x 4096 image in a 1920 x 1080 client: one drag-pan move (each redraws
// the visible area) beside a memcpy of the client's bytes, and a zoom change (surface re-creation
// plus the full redraw) with the surface's memory. Beside them, what showing an image with a colour
// profile (Adobe RGB) adds to a redraw of the whole client: its conversion to sRGB.

#include <benchmark/benchmark.h>

#include <QColorSpace>
#include <chrono>
#include <cstring>
#include <vector>

#include "canvas/canvas_buffers.h"
#include "canvas/qt_display_colour.h"
#include "canvas/view_navigation.h"
#include "core/program.h"
#include "retained_window.h"
#include "row_helper.h"
#include "stroke/stroke_capture.h"

namespace tarvo {
namespace {

class ClientImage : public bench::RetainedWindow {
 public:
  ClientImage() : RetainedWindow(1920, 1080) {}
};

struct BigCanvas {
  Program p;
  ClientImage window;
  BigCanvas() {
    lend_row_helper(p, bench::row_helper());
    allocate_planes(p.canvas, 4096, 4096);
    for (Plane* plane : {&p.canvas.RBuffer, &p.canvas.GBuffer, &p.canvas.BBuffer})
      for (std::size_t i = 0; i < plane->size(); ++i)
        plane->data()[i] = static_cast<uint8_t>(i * 13);
    allocate_stroke_points(p.stroke);
    p.display.window = &window;
    CreateDisplaySurface(p.display, p.size());
  }
};

BigCanvas& canvas() {
  static BigCanvas c;
  return c;
}

double memcpy_client_seconds() {
  std::vector<uint32_t> from(std::size_t{1920} * 1080, 1), to(from.size());
  double best = 1e9;
  for (int i = 0; i < 7; ++i) {
    const auto t = std::chrono::steady_clock::now();
    std::memcpy(to.data(), from.data(), from.size() * 4);
    benchmark::ClobberMemory();
    best =
        std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count());
  }
  return best;
}

void BM_DragPanMove(benchmark::State& state) {
  BigCanvas& c = canvas();
  c.p.display.view = ViewState{};
  CreateDisplaySurface(c.p.display, c.p.size());
  float x = 1000, y = 500;
  Form_MouseDown(c.p, 1, modifier::kNavigate, x, y);
  int step = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    x = 1000.0f - static_cast<float>(step % 800);
    y = 500.0f - static_cast<float>(step % 400);
    Form_MouseMove(c.p, 1, modifier::kNavigate, x, y);
    ++step;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  Form_MouseUp(c.p, 1, modifier::kNavigate, x, y);
  state.counters["x_memcpy"] =
      seconds / static_cast<double>(state.iterations()) / memcpy_client_seconds();
}
BENCHMARK(BM_DragPanMove)->Unit(benchmark::kMillisecond);

// Zoom in hundredths.
void BM_ZoomChange(benchmark::State& state) {
  BigCanvas& c = canvas();
  c.p.display.view = ViewState{};
  c.p.display.view.Zoom = static_cast<float>(state.range(0)) / 100.0f;
  for (auto _ : state) {
    CreateDisplaySurface(c.p.display, c.p.size());
    displaybuffers(c.p.display, c.p.size(), c.p.canvas.RBuffer, c.p.canvas.GBuffer,
                   c.p.canvas.BBuffer);
  }
  const DisplaySurface& s = c.p.display.surface;
  state.counters["surface_MB"] = static_cast<double>(s.width()) * s.height() * 4 / 1e6;
}
BENCHMARK(BM_ZoomChange)->Arg(100)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);

}  // namespace
// The conversion of a whole 1920 x 1080 client from Adobe RGB to sRGB, as a redraw of an image
// with that profile adds it; an image in sRGB adds nothing.
void BM_DisplayColourClient(benchmark::State& state) {
  const auto colour = DisplayColour::from_profile(QColorSpace(QColorSpace::AdobeRgb).iccProfile());
  std::vector<uint32_t> client(std::size_t{1920} * 1080);
  for (std::size_t i = 0; i < client.size(); ++i) {
    client[i] = 0xFF000000u | static_cast<uint32_t>(i * 2654435761u >> 8);
  }
  std::vector<uint32_t> shown(client.size());
  for (auto _ : state) {
    std::memcpy(shown.data(), client.data(), client.size() * sizeof(uint32_t));
    colour->convert(shown.data(), static_cast<int32_t>(shown.size()));
    benchmark::DoNotOptimize(shown.data());
  }
}
BENCHMARK(BM_DisplayColourClient)->Unit(benchmark::kMillisecond);

}  // namespace tarvo
