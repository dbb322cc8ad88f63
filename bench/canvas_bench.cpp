// Canvas bulk work beside a memcpy of the same bytes, measured in the same run: the whole-image
// blit into a 1920 x 1080 client, the whole-image undo record and its restore, and the blend table.
// The blit and the undo run a fixed number of iterations and put their figures in the summary
// table; their "x_memcpy" counter is the same ratio.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "canvas/display_surface.h"
#include "canvas/undo_stack.h"
#include "render/brush_tables.h"
#include "retained_window.h"
#include "row_helper.h"
#include "summary.h"

namespace tarvo {
namespace {

using bench::RetainedWindow;

CanvasBuffers& big_image() {
  static CanvasBuffers canvas = [] {
    CanvasBuffers c;
    c.helper = &bench::row_helper();
    allocate_planes(c, 4096, 4096);
    for (int32_t y = 0; y < 4096; ++y)
      for (int32_t x = 0; x < 4096; ++x) {
        c.RBuffer(x, y) = static_cast<uint8_t>(x * 7 + y);
        c.GBuffer(x, y) = static_cast<uint8_t>(x ^ y);
        c.BBuffer(x, y) = static_cast<uint8_t>(y * 3);
      }
    copy_to_previews(c);  // as when an image arrives
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
    best = std::min(
        best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

// Reports the mean time per iteration as a multiple of a memcpy of `bytes` measured just now.
void report_against_memcpy(benchmark::State& state, double seconds, std::size_t bytes) {
  const double per_iteration = seconds / static_cast<double>(state.iterations());
  state.counters["x_memcpy"] = per_iteration / memcpy_seconds(bytes);
}

// As report_against_memcpy, and records the mean time and the memcpy's as a summary row, in ms.
void record_against_memcpy(benchmark::State& state, double seconds, std::size_t bytes,
                           const std::string& workload, const std::string& goal) {
  const double per_iteration = seconds / static_cast<double>(state.iterations());
  const double baseline = memcpy_seconds(bytes);
  state.counters["x_memcpy"] = per_iteration / baseline;
  bench::record_summary_row(workload, per_iteration * 1e3, baseline * 1e3, "ms", goal);
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

constexpr std::size_t kClientBytes = std::size_t{1920} * 1080 * 4;
// A filtered quarter-size view reads every pixel of the three planes once.
constexpr std::size_t kQuarterZoomSourceBytes = std::size_t{4096} * 4096 * 3;
constexpr int64_t kBlitsPerRun = 100;

// The summary row of a blit at a zoom in percent, with the bytes its memcpy moves; none for a zoom
// the table does not hold.
struct BlitRow {
  std::string workload, goal;
  std::size_t baseline_bytes;
};
std::optional<BlitRow> blit_row(int64_t percent) {
  const std::string name = "BlitPlanes 4096 image into 1920 x 1080, zoom ";
  switch (percent) {
    case 25:
      return BlitRow{name + "0.25 (vs source bytes)", "within 3x", kQuarterZoomSourceBytes};
    case 100:
      return BlitRow{name + "1", "within 2x", kClientBytes};
    case 300:
      return BlitRow{name + "3", "within 2x", kClientBytes};
    default:
      return std::nullopt;
  }
}

// Zoom in hundredths, so that the argument reads as a percentage. The baseline is a memcpy of the
// client's bytes, which the blit writes into the surface and copies on to the window; at zoom 0.25
// the scaled image is only 1024 x 1024, and the baseline is the source bytes a filtered downscale
// reads instead.
void BM_BlitPlanesWholeImage(benchmark::State& state) {
  CanvasBuffers& c = big_image();
  RetainedWindow window(1920, 1080);
  CanvasDisplay display;
  display.surface.scratch.helper = &bench::row_helper();
  display.window = &window;
  display.view.Zoom = static_cast<float>(state.range(0)) / 100.0f;
  const ImageSize size{c.BufferWidth, c.BufferHeight};
  CreateDisplaySurface(display, size);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    BlitPlanes(display, size, c.RBuffer, c.GBuffer, c.BBuffer, 0, 0, 4095, 4095);
    benchmark::ClobberMemory();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (const std::optional<BlitRow> row = blit_row(state.range(0))) {
    record_against_memcpy(state, seconds, row->baseline_bytes, row->workload, row->goal);
  } else {
    report_against_memcpy(state, seconds, kClientBytes);
  }
}
BENCHMARK(BM_BlitPlanesWholeImage)
    ->Arg(25)
    ->Arg(100)
    ->Arg(250)
    ->Arg(300)
    ->Iterations(kBlitsPerRun)
    ->Unit(benchmark::kMillisecond);

// The bytes of the blit's baselines: the client at zoom 1, 2.5 and 3, the three source planes at
// 0.25.
void BM_MemcpyClientBytes(benchmark::State& state) {
  memcpy_bytes(state, kClientBytes);
}
BENCHMARK(BM_MemcpyClientBytes)->Unit(benchmark::kMillisecond);

void BM_MemcpyQuarterZoomSource(benchmark::State& state) {
  memcpy_bytes(state, kQuarterZoomSourceBytes);
}
BENCHMARK(BM_MemcpyQuarterZoomSource)->Unit(benchmark::kMillisecond);

// The push copies three planes out; the undo hands them back to the committed planes and copies
// them on into the previews. Baseline: a memcpy of the three planes, on memory it has touched
// before, so the figure is the steady state too: the first push, whose record is fresh memory
// that the kernel must first provide, is timed on its own (first_push_ms) and left out. The stack
// has the program's default budget.
void BM_PushUndoAndUndoWholeImage(benchmark::State& state) {
  CanvasBuffers& c = big_image();
  UndoStack stack;
  stack.byte_budget = default_undo_budget();
  const auto first = std::chrono::steady_clock::now();
  PushUndo(stack, c, 0, 0, 4095, 4095);
  state.counters["first_push_ms"] =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - first).count();
  restore_newest(stack, c);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    PushUndo(stack, c, 0, 0, 4095, 4095);
    restore_newest(stack, c);
    benchmark::ClobberMemory();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  record_against_memcpy(state, seconds, std::size_t{4096} * 4096 * 3,
                        "PushUndo + Undo, whole 4096 x 4096 image", "within 2x");
}
BENCHMARK(BM_PushUndoAndUndoWholeImage)->Iterations(20)->Unit(benchmark::kMillisecond);

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
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  report_against_memcpy(state, seconds, 655360);
}
BENCHMARK(BM_BuildBlendTable)->Unit(benchmark::kMillisecond);

void BM_MemcpyBlendTableBytes(benchmark::State& state) {
  memcpy_bytes(state, 655360);
}
BENCHMARK(BM_MemcpyBlendTableBytes)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvo
