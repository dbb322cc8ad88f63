// Canvas bulk work beside a memcpy of the same bytes, measured in the same run: the whole-image
// blit into a 1920 x 1080 client, the whole-image undo record and its restore, and the blend table.

#include <benchmark/benchmark.h>

#include "retained_window.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "canvas/display_surface.h"
#include "canvas/undo_stack.h"
#include "render/brush_tables.h"

namespace tarvo {
namespace {

using bench::RetainedWindow;

CanvasBuffers& big_image() {
  static CanvasBuffers canvas = [] {
    CanvasBuffers c;
    allocate_planes(c, 4096, 4096);
    for (int32_t y = 0; y < 4096; ++y)
      for (int32_t x = 0; x < 4096; ++x) {
        c.RBuffer(x, y) = static_cast<uint8_t>(x * 7 + y);
        c.GBuffer(x, y) = static_cast<uint8_t>(x ^ y);
        c.BBuffer(x, y) = static_cast<uint8_t>(y * 3);
      }
    return c;
  }();
  return canvas;
}

// Seconds one memcpy of this many bytes takes here and now: the best of a few runs.
double memcpy_seconds(std::size_t bytes) {
  std::vector<uint8_t> from(bytes, 1), to(bytes, 0);
  double best = 1e9;
  for (int run = 0; run < 7; ++run) {
    const auto start = std::chrono::steady_clock::now();
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

// Reports the mean time per iteration as a multiple of a memcpy of `bytes` measured just now.
void report_against_memcpy(benchmark::State& state, double seconds, std::size_t bytes) {
  const double per_iteration = seconds / static_cast<double>(state.iterations());
  state.counters["x_memcpy"] = per_iteration / memcpy_seconds(bytes);
}

void memcpy_bytes(benchmark::State& state, std::size_t bytes) {
  std::vector<uint8_t> from(bytes, 1), to(bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

// Zoom in hundredths, so that the argument reads as a percentage.
void BM_BlitPlanesWholeImage(benchmark::State& state) {
  CanvasBuffers& c = big_image();
  RetainedWindow window(1920, 1080);
  CanvasDisplay display;
  display.window = &window;
  display.view.Zoom = static_cast<float>(state.range(0)) / 100.0f;
  const ImageSize size{c.BufferWidth, c.BufferHeight};
  CreateDisplaySurface(display, size);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    BlitPlanes(display, size, c.RBuffer, c.GBuffer, c.BBuffer, 0, 0, 4095, 4095);
    benchmark::ClobberMemory();
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  // The baseline: the client's bytes, or at zoom 0.25 the 1024 x 1024 scaled image it shows.
  const std::size_t shown = display.view.Zoom < 0.5f ? std::size_t{1024} * 1024 : std::size_t{1920} * 1080;
  report_against_memcpy(state, seconds, shown * 4);
}
BENCHMARK(BM_BlitPlanesWholeImage)->Arg(25)->Arg(100)->Arg(250)->Unit(benchmark::kMillisecond);

// The bytes the blit must write: the client at zoom 1 and 2.5, the 1024 x 1024 scaled image at 0.25
// (whose source reads are 3 x 4096 x 4096 sampled bytes, bounded by the cache lines they touch).
void BM_MemcpyClientBytes(benchmark::State& state) {
  memcpy_bytes(state, std::size_t{1920} * 1080 * 4);
}
BENCHMARK(BM_MemcpyClientBytes)->Unit(benchmark::kMillisecond);

void BM_MemcpyQuarterZoomSurface(benchmark::State& state) {
  memcpy_bytes(state, std::size_t{1024} * 1024 * 4);
}
BENCHMARK(BM_MemcpyQuarterZoomSurface)->Unit(benchmark::kMillisecond);

void BM_PushUndoAndUndoWholeImage(benchmark::State& state) {
  CanvasBuffers& c = big_image();
  UndoStack stack;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    PushUndo(stack, c, 0, 0, 4095, 4095);
    restore_newest(stack, c);
    benchmark::ClobberMemory();
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  report_against_memcpy(state, seconds, std::size_t{4096} * 4096 * 3);
}
BENCHMARK(BM_PushUndoAndUndoWholeImage)->Unit(benchmark::kMillisecond);

// A push copies three planes out and the undo copies them back; the previews are refreshed too.
void BM_MemcpyThreePlanesTwice(benchmark::State& state) {
  memcpy_bytes(state, std::size_t{4096} * 4096 * 3 * 2);
}
BENCHMARK(BM_MemcpyThreePlanesTwice)->Unit(benchmark::kMillisecond);

void BM_BuildBlendTable(benchmark::State& state) {
  BrushTables tables;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    BuildBlendTable(tables);
    benchmark::DoNotOptimize(tables.blend.data());
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  report_against_memcpy(state, seconds, 655360);
}
BENCHMARK(BM_BuildBlendTable)->Unit(benchmark::kMillisecond);

void BM_MemcpyBlendTableBytes(benchmark::State& state) { memcpy_bytes(state, 655360); }
BENCHMARK(BM_MemcpyBlendTableBytes)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvo
