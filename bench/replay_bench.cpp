// The recorded 30-second session (painting30sec.dat as pointer events) replayed through the canvas
// pointer handlers on a white 1024 x 1024 image, at brush sizes 2, 8 and 32. Each event is timed
// from its handler call to its return, including the copy of every redrawn rectangle into a
// retained client image as the canvas window makes it. Counters: mean_us and p99_us per event,
// and events_per_s, the events the handlers could take in a second at that pace. At size 32 the
// rate goes to the summary table beside a 1 kHz pen (1000 events a second): the program is to keep
// up with ten times that.
//
// Beside it, in the same run: "copy_floor_us", a memcpy of the bytes the display copies moved,
// spread over the events; and, with libmypaint, the same samples stroked with its default brush at
// the same radius, per event.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numeric>
#include <vector>

#include "canvas/canvas_buffers.h"
#include "canvas/display_surface.h"
#include "core/canvas_window.h"
#include "core/program.h"
#include "history/qt_history_log.h"
#include "recovery/qt_journal.h"
#include "render/brush_tables.h"
#include "retained_window.h"
#include "row_helper.h"
#include "script/event_script.h"
#include "script/session_converter.h"
#include "stroke/stroke_capture.h"
#include "summary.h"

#ifdef TARVO_HAVE_MYPAINT
#include <mypaint-brush.h>
#include <mypaint-fixed-tiled-surface.h>
#endif

namespace tarvo {
namespace {

constexpr int32_t kImageSize = 1024;
// The events a second of a pen sampled at 1 kHz: the pace the program must at least keep.
constexpr double kPenEventsPerSecond = 1000.0;
const char* const kSessionPath = TARVO_SHARED_DATA_DIR "/painting30sec.dat";

using bench::RetainedWindow;

// The program as the canvas sees it after start-up: a white image, the tables, the stroke list,
// the display surface at zoom 1 and a window of the image's size.
struct ReplayScene {
  Program program;
  RetainedWindow window{kImageSize, kImageSize};

  explicit ReplayScene(float brush_size) {
    Program& p = program;
    lend_row_helper(p, bench::row_helper());
    allocate_planes(p.canvas, kImageSize, kImageSize);
    clearbuffer(p.canvas);
    BuildCoverageCurves(p.tables);
    BuildBlendTable(p.tables);
    allocate_stroke_points(p.stroke);
    p.paper.PaperWidth = p.paper.PaperHeight = 64;
    p.paper.PaperBuffer = Plane(65, 65);
    p.paper.PaperBuffer.fill(128);
    p.undo.MaxUndo = 128;
    p.brush.BrushSize = brush_size;
    p.display.view.Zoom = 1.0f;
    CreateDisplaySurface(p.display, p.size());
    p.display.window = &window;
  }

  // Back to a white image with an empty undo stack, between runs of the session.
  void reset() {
    clearbuffer(program.canvas);
    program.undo.records.clear();
  }
};

// The pointer verbs of the converted session, straight to their handlers.
void dispatch(Program& program, const ScriptEvent& e) {
  float x = e.single_arg(2), y = e.single_arg(3);
  switch (e.verb) {
    case Verb::Form_MouseDown:
      Form_MouseDown(program, e.int16_arg(0), e.int16_arg(1), x, y);
      break;
    case Verb::Form_MouseMove:
      Form_MouseMove(program, e.int16_arg(0), e.int16_arg(1), x, y);
      break;
    case Verb::Form_MouseUp:
      Form_MouseUp(program, e.int16_arg(0), e.int16_arg(1), x, y);
      break;
    default:
      break;
  }
}

const std::vector<SessionSample>& session() {
  static const std::vector<SessionSample> samples = std::filesystem::exists(kSessionPath)
                                                        ? read_session_file(kSessionPath)
                                                        : std::vector<SessionSample>{};
  return samples;
}

double percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0.0;
  const auto rank = static_cast<std::size_t>(std::ceil(fraction * values.size())) - 1;
  std::nth_element(values.begin(), values.begin() + rank, values.end());
  return values[rank];
}

// The memcpy of total_bytes in rows of a 1024-pixel window, in seconds.
double copy_floor_seconds(std::size_t total_bytes) {
  std::vector<uint32_t> from(static_cast<std::size_t>(kImageSize) * kImageSize, 1);
  std::vector<uint32_t> to(from.size());
  const std::size_t whole = from.size() * 4;
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t done = 0; done < total_bytes; done += whole) {
    std::memcpy(to.data(), from.data(), std::min(whole, total_bytes - done));
    benchmark::DoNotOptimize(to.data());
  }
  benchmark::ClobberMemory();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A session journal in a folder of its own, removed afterwards; with history, the painting
// history's entry of the session too, as a painting session keeps both.
struct BenchJournal {
  std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                 ("tarvo-bench-journal-" + std::to_string(::getpid()));
  SessionJournal journal{QString::fromStdString((folder / "bench-journal.tvs").string())};
  std::unique_ptr<HistoryLog> history;

  explicit BenchJournal(bool with_history) {
    if (!with_history) return;
    setenv("XDG_DATA_HOME", folder.c_str(), 1);
    history = std::make_unique<HistoryLog>(HistoryStore(QStringLiteral("bench")),
                                           QStringLiteral("session"), HistorySettings{}, 0);
  }
  ~BenchJournal() {
    journal.remove_files();
    if (history) history->finish(false);
    std::filesystem::remove_all(folder);
  }
  // Starts the journal over the scene's planes and waits until that is on disk.
  void restart(const Program& program) {
    JournalStart start;
    const CanvasBuffers& c = program.canvas;
    start.planes = copy_planes(c.RBuffer, c.GBuffer, c.BBuffer);
    journal.restart(std::move(start));
    journal.flush();
    if (history) {
      HostImage planes = copy_planes(c.RBuffer, c.GBuffer, c.BBuffer);
      history->start(std::move(planes));
      history->flush();
    }
  }
  void record(const ScriptEvent& e) {
    journal.record(e.verb, {e.args[0], e.args[1], e.args[2], e.args[3]});
    if (history) history->record(e.verb, {e.args[0], e.args[1], e.args[2], e.args[3]});
    if (e.verb == Verb::Form_MouseUp) {
      journal.sync_soon();
      if (history) history->sync_soon();
    }
  }
};

// Events a second at size 32 with the journal off, for the journal's summary row.
double g_rate_at_32_without_journal = 0.0;

// Args: brush size, journal off (0) or on (1).
void BM_ReplaySession(benchmark::State& state) {
  if (session().empty()) {
    state.SkipWithError("shared test data missing: painting30sec.dat");
    return;
  }
  const std::vector<ScriptEvent> events = session_to_pointer_events(session());
  ReplayScene scene(static_cast<float>(state.range(0)));
  const bool journalled = state.range(1) != 0;
  std::unique_ptr<BenchJournal> journal =
      journalled ? std::make_unique<BenchJournal>(false) : nullptr;
  std::vector<double> event_us;
  event_us.reserve(events.size() * 8);
  int64_t runs = 0;
  // One journal over the runs, as one long session: it starts over the white image once.
  if (journal) journal->restart(scene.program);
  for (auto _ : state) {
    state.PauseTiming();
    scene.reset();
    state.ResumeTiming();
    for (const ScriptEvent& event : events) {
      const auto start = std::chrono::steady_clock::now();
      if (journal) journal->record(event);
      dispatch(scene.program, event);
      const std::chrono::duration<double, std::micro> took =
          std::chrono::steady_clock::now() - start;
      event_us.push_back(took.count());
    }
    ++runs;
  }
  const double events_timed = static_cast<double>(event_us.size());
  state.counters["events"] = static_cast<double>(events.size());
  const double total_us = std::accumulate(event_us.begin(), event_us.end(), 0.0);
  state.counters["mean_us"] = total_us / events_timed;
  state.counters["p99_us"] = percentile(event_us, 0.99);
  state.counters["copied_KB_per_event"] =
      scene.window.copied_bytes / 1024.0 / (static_cast<double>(events.size()) * runs);
  state.counters["copy_floor_us"] =
      copy_floor_seconds(scene.window.copied_bytes / static_cast<std::size_t>(runs)) * 1e6 /
      static_cast<double>(events.size());
  const double events_per_second = events_timed / (total_us * 1e-6);
  state.counters["events_per_s"] = events_per_second;
  if (state.range(0) == 32 && !journalled) {
    g_rate_at_32_without_journal = events_per_second;
    bench::record_summary_row("replayed events at size 32, display copy included",
                              events_per_second, kPenEventsPerSecond, "events/s",
                              ">= 10x a 1 kHz pen");
  }
  if (state.range(0) == 32 && state.range(1) == 1 && g_rate_at_32_without_journal > 0.0) {
    bench::record_summary_row("replayed events at size 32 with the session journal",
                              events_per_second, g_rate_at_32_without_journal, "events/s",
                              ">= 0.95 of the rate without it");
  }
}
// A fixed number of replays a run, so that every run records its summary row once.
BENCHMARK(BM_ReplaySession)
    ->ArgNames({"size", "journal"})
    ->ArgsProduct({{2, 8, 32}, {0, 1}})
    ->Iterations(5)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The session at size 32 with the journal, alone and with the painting history kept too, the two
// alternating run by run (ten runs each) so that a busy machine slows both alike; each side's
// figure is the median of its runs, in events a second.
void BM_ReplaySessionHistory(benchmark::State& state) {
  if (session().empty()) {
    state.SkipWithError("shared test data missing: painting30sec.dat");
    return;
  }
  const std::vector<ScriptEvent> events = session_to_pointer_events(session());
  ReplayScene scene(32.0f);
  BenchJournal alone(false), with_history(true);
  alone.restart(scene.program);
  with_history.restart(scene.program);
  std::vector<double> rates[2];
  for (auto _ : state) {
    for (int run = 0; run < 20; ++run) {
      BenchJournal& journal = run % 2 == 0 ? alone : with_history;
      scene.reset();
      const auto start = std::chrono::steady_clock::now();
      for (const ScriptEvent& event : events) {
        journal.record(event);
        dispatch(scene.program, event);
      }
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      rates[run % 2].push_back(static_cast<double>(events.size()) / took.count());
    }
  }
  const double journal_rate = bench::median(rates[0]), history_rate = bench::median(rates[1]);
  state.counters["journal_events_per_s"] = journal_rate;
  state.counters["history_events_per_s"] = history_rate;
  bench::record_summary_row(
      "replayed events at size 32 with the journal and the painting history (vs the journal alone)",
      history_rate, journal_rate, "events/s", ">= 0.95 of the journal's alone");
}
BENCHMARK(BM_ReplaySessionHistory)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef TARVO_HAVE_MYPAINT
// The same samples through libmypaint's default brush at the same radius, one stroke_to a sample,
// each in its own atomic block as an interactive caller does it. Pressure 1 while the pen touches,
// as the mouse paints; 0 while it hovers.
void BM_ReplaySessionMypaint(benchmark::State& state) {
  if (session().empty()) {
    state.SkipWithError("shared test data missing: painting30sec.dat");
    return;
  }
  MyPaintFixedTiledSurface* surface = mypaint_fixed_tiled_surface_new(kImageSize, kImageSize);
  MyPaintSurface* base = mypaint_fixed_tiled_surface_interface(surface);
  MyPaintBrush* brush = mypaint_brush_new();
  mypaint_brush_from_defaults(brush);
  mypaint_brush_set_base_value(brush, MYPAINT_BRUSH_SETTING_RADIUS_LOGARITHMIC,
                               std::log(static_cast<float>(state.range(0))));
  std::vector<double> event_us;
  for (auto _ : state) {
    mypaint_brush_reset(brush);
    mypaint_brush_new_stroke(brush);
    double last_time = session().front().time;
    for (const SessionSample& sample : session()) {
      const auto start = std::chrono::steady_clock::now();
      mypaint_surface_begin_atomic(base);
      mypaint_brush_stroke_to(brush, base, sample.x, sample.y, sample.touching() ? 1.0f : 0.0f,
                              0.0f, 0.0f, sample.time - last_time);
      MyPaintRectangle roi;
      mypaint_surface_end_atomic(base, &roi);
      const std::chrono::duration<double, std::micro> took =
          std::chrono::steady_clock::now() - start;
      event_us.push_back(took.count());
      last_time = sample.time;
    }
  }
  state.counters["mean_us"] =
      std::accumulate(event_us.begin(), event_us.end(), 0.0) / static_cast<double>(event_us.size());
  state.counters["p99_us"] = percentile(event_us, 0.99);
  mypaint_brush_unref(brush);
  mypaint_surface_unref(base);
}
BENCHMARK(BM_ReplaySessionMypaint)
    ->ArgName("size")
    ->Arg(2)
    ->Arg(8)
    ->Arg(32)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
#endif

}  // namespace
}  // namespace tarvo
