// The brush engine's hot loops beside a baseline measured in the same run.
//
// Commit: composite_box over a box of full coverage into the committed planes, reported with
// "x_memcpy", its time divided by the time of memcpy-ing the bytes it must touch. A commit reads
// the coverage and the three committed planes and writes the three committed planes in place; it
// leaves the previews alone, since the stroke's last preview composite already gave them the same
// pixels. The paper rows (a texture of 129 x 129 bytes) and the coverage rows above and below that
// the relief reads stay in the cache. So the memcpy copies, for every row of the box, the three
// committed rows into the previews and the coverage row into a scratch row that stays in the
// cache: four bytes read and three written per pixel, as the composite does. Since it writes other
// rows than it reads, the memcpy also pays for fetching the three destination rows into the cache,
// which the in-place composite does not, so its time errs on the long side by up to that share.
// The whole-image commits, mode 0 and mode 3 with paper and relief on, go to the summary table
// (goal: within 3 x memcpy), and beside them the same commits on a layer with alpha, which reads
// and writes the layer's own colours and alpha besides (its alpha a ramp from transparent to
// opaque, so that every kind of pixel is painted), against the same memcpy.
//
// Dab line: AALine along a 1000-pixel horizontal line at the default spacing, in dabs and line
// pixels per second.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/program.h"
#include "render/brush_tables.h"
#include "render/dab.h"
#include "render/dab_line.h"
#include "render/segment_renderer.h"
#include "summary.h"

namespace tarvo {
namespace {

const BrushTables& bench_tables() {
  static const BrushTables tables = make_brush_tables();
  return tables;
}

struct CommitScene {
  CanvasBuffers canvas;
  PaperTexture paper;
  BrushSettings brush;
  std::vector<uint8_t> scratch;

  CommitScene(int32_t size, int32_t mode, bool with_paper, bool relief, bool alpha) {
    allocate_planes(canvas, size, size);
    for (Plane* p : {&canvas.RBuffer, &canvas.GBuffer, &canvas.BBuffer}) {
      for (std::size_t i = 0; i < p->size(); ++i) p->data()[i] = static_cast<uint8_t>(i * 7);
    }
    if (alpha) {
      canvas.layer = LayerPlanes{canvas.RBuffer.copy(), canvas.GBuffer.copy(),
                                 canvas.BBuffer.copy(), Plane(size + 1, size + 1)};
      for (std::size_t i = 0; i < canvas.layer.alpha.size(); ++i) {
        canvas.layer.alpha.data()[i] = static_cast<uint8_t>(i % 1021 < 768 ? i % 1021 / 3 : 255);
      }
    }
    copy_to_previews(canvas);
    for (std::size_t i = 0; i < canvas.FXbuffer.size(); ++i) {
      canvas.FXbuffer.data()[i] = static_cast<uint8_t>(128 + (i & 127));
    }
    brush.BlendMode = mode;
    brush.ColorR = 200.0f;
    brush.ColorG = 120.0f;
    brush.ColorB = 40.0f;
    brush.BrushSize = 0.0f;
    brush.Emboss = relief ? 1 : 0;
    if (with_paper) {
      paper.PaperWidth = paper.PaperHeight = 128;
      paper.PaperBuffer = Plane(129, 129);
      for (std::size_t i = 0; i < paper.PaperBuffer.size(); ++i) {
        paper.PaperBuffer.data()[i] = static_cast<uint8_t>((i * 2654435761u) >> 26);
      }
      brush.PaperGrain = 60;
    }
    scratch.resize(static_cast<std::size_t>(size));
  }

  void commit(int32_t box) {
    composite_box(canvas, {paper, brush, bench_tables(), 0.0f, kCommitFlag}, 0.0f, 0.0f,
                  static_cast<float>(box - 1), static_cast<float>(box - 1));
  }

  void copy_rows(int32_t box) {
    for (int32_t y = 0; y < box; ++y) {
      std::memcpy(canvas.RPreview.row(y), canvas.RBuffer.row(y), box);
      std::memcpy(canvas.GPreview.row(y), canvas.GBuffer.row(y), box);
      std::memcpy(canvas.BPreview.row(y), canvas.BBuffer.row(y), box);
      std::memcpy(scratch.data(), canvas.FXbuffer.row(y), box);
    }
    benchmark::ClobberMemory();
  }
};

template <class F>
double seconds_per_call(F&& f, int repeats) {
  double best = 1e30;
  for (int r = 0; r < 3; ++r) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < repeats; ++i) f();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count() / repeats);
  }
  return best;
}

// Args: box size, mode, paper (0/1), relief (0/1), a layer with alpha (0/1).
void BM_Commit(benchmark::State& state) {
  const auto box = static_cast<int32_t>(state.range(0));
  const bool alpha = state.range(4) != 0;
  CommitScene scene(box, static_cast<int32_t>(state.range(1)), state.range(2) != 0,
                    state.range(3) != 0, alpha);
  const int repeats = box > 1000 ? 3 : 2000;
  const double memcpy_seconds = seconds_per_call([&] { scene.copy_rows(box); }, repeats);
  double composite_seconds = 0.0;
  int64_t calls = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    scene.commit(box);
    benchmark::ClobberMemory();
    composite_seconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ++calls;
  }
  const double pixels = static_cast<double>(box) * box;
  state.counters["pixels/s"] = benchmark::Counter(pixels * calls, benchmark::Counter::kIsRate);
  state.counters["memcpy_ms"] = memcpy_seconds * 1e3;
  state.counters["x_memcpy"] = composite_seconds / calls / memcpy_seconds;
  if (box == 4096 && state.range(2) != 0 && state.range(3) != 0) {
    const std::string workload = "commit 4096 x 4096 box, mode " + std::to_string(state.range(1)) +
                                 ", paper + relief" + (alpha ? ", layer with alpha" : "");
    bench::record_summary_row(workload, composite_seconds / calls * 1e3, memcpy_seconds * 1e3, "ms",
                              alpha ? "beside opaque" : "within 3x");
  }
}
// A fixed number of commits a run, so that every run records its summary row once.
BENCHMARK(BM_Commit)
    ->ArgNames({"box", "mode", "paper", "relief", "alpha"})
    ->Args({65, 0, 0, 0, 0})
    ->Args({65, 3, 0, 0, 0})
    ->Args({65, 3, 1, 1, 0})
    ->Args({65, 0, 0, 0, 1})
    ->Args({65, 3, 1, 1, 1})
    ->Iterations(20000)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK(BM_Commit)
    ->ArgNames({"box", "mode", "paper", "relief", "alpha"})
    ->Args({4096, 0, 0, 0, 0})
    ->Args({4096, 3, 0, 0, 0})
    ->Args({4096, 0, 1, 0, 0})
    ->Args({4096, 0, 1, 1, 0})
    ->Args({4096, 3, 1, 1, 0})
    ->Args({4096, 0, 1, 1, 1})
    ->Args({4096, 3, 1, 1, 1})
    ->Iterations(8)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// Arg: dab width (the start and end width of the line).
void BM_AALine(benchmark::State& state) {
  const auto width = static_cast<float>(state.range(0));
  CanvasBuffers canvas;
  allocate_planes(canvas, 1100, 100);
  BrushSettings brush;  // default spacing: 15 percent of the width
  DabLineState dabs;
  int64_t dab_count = 0, lines = 0;
  uint8_t* raster = canvas.FXbuffer.data();
  for (auto _ : state) {
    walk_dab_line(DabSegment{50.0f, 50.3f, 1050.0f, 50.3f, width, width}, brush.StepPercent, dabs,
                  [&](float cx, float cy, float w) {
                    AAcpen(raster, cx, cy, w, 255.0f, brush.PenPress / 255.0f, 1100, 100);
                    ++dab_count;
                  });
    benchmark::ClobberMemory();
    ++lines;
  }
  state.counters["dabs/s"] =
      benchmark::Counter(static_cast<double>(dab_count), benchmark::Counter::kIsRate);
  state.counters["pixels/s"] = benchmark::Counter(1000.0 * lines, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AALine)->ArgName("width")->Arg(1)->Arg(8)->Arg(32)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tarvo
