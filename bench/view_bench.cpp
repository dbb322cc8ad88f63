// View navigation on a 4096 x 4096 image in a 1920 x 1080 client: one drag-pan move (each redraws
// the visible area) beside a memcpy of the client's bytes, and a zoom change (surface re-creation
// plus the full redraw) with the surface's memory.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "app/program.h"
#include "canvas/view_navigation.h"
#include "stroke/stroke_capture.h"

namespace tarvo {
namespace {

class ClientImage : public CanvasWindow {
 public:
  ClientImage() : pixels_(std::size_t{1920} * 1080) {}
  int32_t client_width() const override { return 1920; }
  int32_t client_height() const override { return 1080; }
  bool is_visible() const override { return true; }
  WindowState window_state() const override { return WindowState::Normal; }
  void set_caption(const std::string&) override {}
  void fill_box(int32_t x1, int32_t y1, int32_t x2, int32_t y2) override {
    const int32_t l = std::max(0, std::min(x1, x2)), r = std::min(1919, std::max(x1, x2));
    const int32_t t = std::max(0, std::min(y1, y2)), b = std::min(1079, std::max(y1, y2));
    for (int32_t y = t; y <= b && l <= r; ++y) std::fill_n(&pixels_[std::size_t(y) * 1920 + l], r - l + 1, 0xC0C0C0u);
  }
  void copy_from_surface(const DisplaySurface& s, int32_t sx, int32_t sy, int32_t dx, int32_t dy,
                         int32_t w, int32_t h) override {
    if (dx < 0) { sx -= dx; w += dx; dx = 0; }
    if (dy < 0) { sy -= dy; h += dy; dy = 0; }
    w = std::min(w, 1920 - dx);
    h = std::min(h, 1080 - dy);
    for (int32_t j = 0; j < h; ++j)
      std::memcpy(&pixels_[std::size_t(dy + j) * 1920 + dx], s.row(sy + j) + sx, std::size_t(w) * 4);
  }
  void set_pointer(PointerShape) override {}
  void resize_client(int32_t, int32_t) override {}
  void show_window() override {}
  bool ask_yes_no(const std::string&) override { return false; }

 private:
  std::vector<uint32_t> pixels_;
};

struct BigCanvas {
  Program p;
  ClientImage window;
  BigCanvas() {
    allocate_planes(p.canvas, 4096, 4096);
    for (Plane* plane : {&p.canvas.RBuffer, &p.canvas.GBuffer, &p.canvas.BBuffer})
      for (std::size_t i = 0; i < plane->size(); ++i) plane->data()[i] = static_cast<uint8_t>(i * 13);
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
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count());
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
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  Form_MouseUp(c.p, 1, modifier::kNavigate, x, y);
  state.counters["x_memcpy"] = seconds / static_cast<double>(state.iterations()) / memcpy_client_seconds();
}
BENCHMARK(BM_DragPanMove)->Unit(benchmark::kMillisecond);

// Zoom in hundredths.
void BM_ZoomChange(benchmark::State& state) {
  BigCanvas& c = canvas();
  c.p.display.view = ViewState{};
  c.p.display.view.Zoom = static_cast<float>(state.range(0)) / 100.0f;
  for (auto _ : state) {
    CreateDisplaySurface(c.p.display, c.p.size());
    displaybuffers(c.p.display, c.p.size(), c.p.canvas.RBuffer, c.p.canvas.GBuffer, c.p.canvas.BBuffer);
  }
  const DisplaySurface& s = c.p.display.surface;
  state.counters["surface_MB"] = static_cast<double>(s.width()) * s.height() * 4 / 1e6;
}
BENCHMARK(BM_ZoomChange)->Arg(100)->Arg(300)->Arg(600)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvo
