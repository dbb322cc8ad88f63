// Peak resident memory of the program holding a 4096 x 4096 image: after 129 whole-image undo
// records, and after zooming in to 6. Each figure comes from a child process of its own
// (child_process.h), so that it is the program's alone, untouched by the other benchmarks.
//
// The child builds the program as start-up leaves it, without a host: the seven planes, the
// committed and preview ones holding a picture of gradients; the tables, the built-in paper grain
// and the stroke list; the undo stack with the program's defaults (MaxUndo 128 and a byte budget of
// a quarter of physical memory); a 1920 x 1080 canvas window at zoom 1 with the image drawn. As at
// start-up, the display surface is made before the window is attached, for a client of
// kFirstSurfaceClient pixels square, and later surfaces never shrink below it. Then:
//   undo: Clear 129 times. Each pushes a whole-image record (3 x 4096 x 4096 bytes), clears the
//     image and redraws it; the stack keeps what its budget allows and drops the oldest beyond it.
//   zoom: Ctrl+Plus until the zoom is 6, each step re-creating the surface and redrawing.
//
// Figures in MB (10^6 bytes). Baseline: the image's own three colour planes, 3 x 4097 x 4097 bytes
// with the spare column and row; the goal is a bounded peak. Counters: peak_MB, start_peak_MB (the
// peak of a child that only builds the program) and the workload's state at its end: the records
// held, their bytes and the budget, or the zoom and the surface's bytes.

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

#include "canvas/canvas_buffers.h"
#include "canvas/image_history.h"
#include "canvas/view_navigation.h"
#include "child_process.h"
#include "core/program.h"
#include "program_at_start.h"
#include "retained_window.h"
#include "stroke/stroke_capture.h"
#include "summary.h"

namespace tarvo {
namespace {

using bench::ChildFigures;

constexpr int32_t kImageSide = 4096;
constexpr double kMB = 1e6;
constexpr int kWholeImageRecords = 129;
constexpr float kTargetZoom = 6.0f;

double image_planes_mb() {
  const double plane = static_cast<double>(kImageSide + 1) * (kImageSide + 1);
  return 3.0 * plane / kMB;
}

// Committed planes of smooth gradients, as a photograph is mostly smooth.
void paint_gradients(CanvasBuffers& c) {
  for (int32_t y = 0; y < c.BufferHeight; ++y) {
    uint8_t* r = c.RBuffer.row(y);
    uint8_t* g = c.GBuffer.row(y);
    uint8_t* b = c.BBuffer.row(y);
    for (int32_t x = 0; x < c.BufferWidth; ++x) {
      r[x] = static_cast<uint8_t>(x >> 4);
      g[x] = static_cast<uint8_t>(y >> 4);
      b[x] = static_cast<uint8_t>((x + y) >> 5);
    }
  }
}

// The program as start-up leaves it, with its canvas window. The window is declared first, so
// that it outlives the program that points at it.
struct LoadedProgram {
  bench::RetainedWindow window{1920, 1080};
  Program p;

  LoadedProgram() {
    bench::ready_program(p, kImageSide);
    paint_gradients(p.canvas);
    copy_to_previews(p.canvas);
    CreateDisplaySurface(p.display, p.size());
    p.display.window = &window;
    allocate_stroke_points(p.stroke);
    displaybuffers(p.display, p.size(), p.canvas.RBuffer, p.canvas.GBuffer, p.canvas.BBuffer);
  }
};

void start_only(ChildFigures&) {
  LoadedProgram loaded;
}

void whole_image_records(ChildFigures& figures) {
  LoadedProgram loaded;
  for (int i = 0; i < kWholeImageRecords; ++i) Clear(loaded.p);
  figures["records_held"] = static_cast<double>(loaded.p.undo.records.size());
  figures["records_MB"] = static_cast<double>(loaded.p.undo.bytes_held) / kMB;
  figures["budget_MB"] = static_cast<double>(loaded.p.undo.byte_budget) / kMB;
}

void zoom_in(ChildFigures& figures) {
  LoadedProgram loaded;
  Program& p = loaded.p;
  while (p.display.view.Zoom < kTargetZoom) Form_KeyUp(p, key_code::kPlus, modifier::kCtrl);
  const DisplaySurface& s = p.display.surface;
  figures["zoom"] = p.display.view.Zoom;
  figures["surface_MB"] = static_cast<double>(s.width()) * s.height() * 4 / kMB;
}

[[maybe_unused]] const bool kRegistered =
    bench::register_child_workload("start", start_only) &&
    bench::register_child_workload("undo", whole_image_records) &&
    bench::register_child_workload("zoom", zoom_in);

double peak_mb(const ChildFigures& figures) {
  return figures.at("peak_kB") * 1024.0 / kMB;
}

// The peak of a child that only builds the program, measured once a process; NaN when it failed.
double start_peak_mb() {
  static const double peak = [] {
    const bench::ChildResult start = bench::run_in_child("start");
    return start.error.empty() ? peak_mb(start.figures) : std::nan("");
  }();
  return peak;
}

void BM_PeakMemory(benchmark::State& state, const char* workload, const char* row) {
  bench::ChildResult result;
  for (auto _ : state) result = bench::run_in_child(workload);
  if (!result.error.empty()) {
    state.SkipWithError(result.error.c_str());
    return;
  }
  const double peak = peak_mb(result.figures);
  for (const auto& [name, value] : result.figures) {
    if (name != "peak_kB") state.counters[name] = value;
  }
  state.counters["peak_MB"] = peak;
  state.counters["start_peak_MB"] = start_peak_mb();
  bench::record_summary_row(row, peak, image_planes_mb(), "MB", "bounded");
}
BENCHMARK_CAPTURE(BM_PeakMemory, undo_129_records, "undo",
                  "peak memory, 4096 image, 129 whole-image undo records (vs its planes)")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PeakMemory, zoom_6, "zoom",
                  "peak memory, 4096 image after a zoom to 6 (vs its planes)")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvo
