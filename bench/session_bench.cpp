// The cost of one pointer sample of real painting: the recorded 30-second session
// (painting30sec.dat, 2937 samples with pen pressure) painted through our engine and, in the same
// run, through libmypaint.
//
// Ours: every sample is what a tablet delivers, a packet (pen position and pressure) followed by
// the pointer event it causes: a press when the pressure rises above 0, a move with the button held
// while it stays above 0, a release when it returns to 0, and a move without a button while the pen
// hovers (the handlers ignore it). The image is white, 1024 x 1024, and 8192 x 8192 as a second
// workload to show that the cost of a sample does not grow with the image. The canvas has no
// window, so the copy to the screen is left out; everything else is in: the walk, the dabs, the
// preview composite and, at the release, the undo push, the commit and the coverage clearing. A
// session that ends with the pen down is released after its last sample, and that release is
// counted with the last sample.
//
// libmypaint: the same positions, pressures and time steps, one stroke_to a sample in its own
// atomic block, with a plain round brush of the same radius (mypaint_baseline.h). Every sample is
// fed to it; at pressure 0 it paints nothing.
//
// Each sample is timed on its own with the steady clock. One iteration paints the whole session.
// Counters: mean_us and p99_us over all samples of every session painted, down_mean_us over the
// samples with the pen down, painted_px the pixels the sessions left changed (a check that both
// sides paint a comparable area). The headline figures go to the summary table printed at exit
// (summary.h).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "app/program.h"
#include "canvas/canvas_buffers.h"
#include "mypaint_baseline.h"
#include "render/brush_tables.h"
#include "script/session_converter.h"
#include "stroke/stroke_capture.h"
#include "summary.h"

namespace tarvo::bench {
namespace {

const char* const kSessionPath = TARVO_SHARED_DATA_DIR "/painting30sec.dat";
const char* const kSpeedGoal = "faster; aim 1/3";
const char* const kScaleGoal = "within 1.1x";
constexpr int16_t kLeftButton = 1;
// Sessions painted per run. Fixed, so that every run paints the same samples and the library
// calls each benchmark once a run (the summary records every call).
constexpr int64_t kSessionsPerRun = 5;

// The session's samples, or why there are none.
struct LoadedSession {
  std::vector<SessionSample> samples;
  std::string error;
};

LoadedSession load_session() {
  if (!std::filesystem::exists(kSessionPath)) {
    return {{}, std::string("shared test data missing: ") + kSessionPath};
  }
  try {
    std::vector<SessionSample> samples = read_session_file(kSessionPath);
    if (samples.empty()) return {{}, std::string("no samples in ") + kSessionPath};
    return {std::move(samples), ""};
  } catch (const std::exception& e) {
    return {{}, std::string("cannot read ") + kSessionPath + ": " + e.what()};
  }
}

const LoadedSession& painting_session() {
  static const LoadedSession session = load_session();
  return session;
}

// Microseconds that paint() takes.
template <class Paint>
double time_us(Paint&& paint) {
  const auto start = std::chrono::steady_clock::now();
  paint();
  const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
  return took.count();
}

// The time of every sample painted, in microseconds, with whether the pen was down.
class SampleTimes {
 public:
  explicit SampleTimes(std::size_t samples_per_session) {
    all_.reserve(samples_per_session * 32);
    down_.reserve(samples_per_session * 32);
  }
  void add(double us, bool pen_down) {
    all_.push_back(us);
    if (pen_down) down_.push_back(us);
  }
  // Adds a further cost to the sample added last (a release that follows it).
  void add_to_last(double us) {
    all_.back() += us;
    if (!down_.empty()) down_.back() += us;
  }
  double mean() const { return mean_of(all_); }
  double down_mean() const { return mean_of(down_); }
  // The smallest time that at least 99 % of the samples do not exceed.
  double p99() const {
    if (all_.empty()) return 0.0;
    std::vector<double> sorted = all_;
    const auto rank = static_cast<std::size_t>(std::ceil(0.99 * sorted.size())) - 1;
    std::nth_element(sorted.begin(), sorted.begin() + rank, sorted.end());
    return sorted[rank];
  }

 private:
  static double mean_of(const std::vector<double>& v) {
    return v.empty() ? 0.0 : std::accumulate(v.begin(), v.end(), 0.0) / v.size();
  }
  std::vector<double> all_, down_;
};

// Our engine driven as a tablet drives it, on a white square image at zoom 1 and pan 0 (so canvas
// client positions are image positions) with no canvas window.
class TarvoReplay {
 public:
  TarvoReplay(int32_t image_size, float brush_size) {
    allocate_planes(program_.canvas, image_size, image_size);
    clearbuffer(program_.canvas);
    BuildCoverageCurves(program_.tables);
    BuildBlendTable(program_.tables);
    allocate_stroke_points(program_.stroke);
    program_.display.view.Zoom = 1.0f;
    program_.display.window = nullptr;
    program_.brush.BrushSize = brush_size;
    program_.tablet.TabletOn = true;
  }

  // A fresh start for the next session: an empty undo stack. The image keeps its paint; the cost
  // of compositing does not depend on what is under the stroke.
  void start_session() {
    while (!program_.undo.empty()) drop_oldest(program_.undo);
  }

  void paint(const SessionSample& sample) {
    float x = sample.x, y = sample.y;
    tablet_packet(sample);
    if (sample.touching() && !pen_down_) {
      Form_MouseDown(program_, kLeftButton, 0, x, y);
      pen_down_ = true;
    } else if (sample.touching()) {
      Form_MouseMove(program_, kLeftButton, 0, x, y);
    } else if (pen_down_) {
      Form_MouseUp(program_, kLeftButton, 0, x, y);
      pen_down_ = false;
    } else {
      Form_MouseMove(program_, 0, 0, x, y);
    }
  }

  // Releases the pen at the sample's position if it is still down.
  void lift(const SessionSample& sample) {
    if (pen_down_) paint(SessionSample{sample.time, sample.x, sample.y, 0.0f});
  }

  bool pen_down() const { return pen_down_; }

  // Committed pixels that are no longer white: a check that the replay painted at all.
  int64_t painted_pixels() const {
    const CanvasBuffers& c = program_.canvas;
    int64_t painted = 0;
    for (int32_t y = 0; y < c.BufferHeight; ++y) {
      const uint8_t* row = c.RBuffer.row(y);
      painted += std::count_if(row, row + c.BufferWidth, [](uint8_t v) { return v != 255; });
    }
    return painted;
  }

 private:
  // What a tablet packet leaves for the next pointer event.
  void tablet_packet(const SessionSample& sample) {
    program_.tablet.PenInProximity = true;
    program_.tablet.TabletX = sample.x;
    program_.tablet.TabletY = sample.y;
    program_.tablet.CurrentPressure = sample.pressure;
  }

  Program program_;
  bool pen_down_ = false;
};

std::string speed_row(int64_t brush_size, const char* figure) {
  return "session, size " + std::to_string(brush_size) + ": " + figure + " per sample";
}

std::string scale_row(const char* figure) {
  return std::string("session, size 32: 8192 vs 1024 image, ") + figure;
}

void report_counters(benchmark::State& state, const SampleTimes& times) {
  state.counters["mean_us"] = times.mean();
  state.counters["p99_us"] = times.p99();
  state.counters["down_mean_us"] = times.down_mean();
}

// The 1024 image at every size is compared with libmypaint; at size 32 it is also the base that
// the 8192 image is compared with.
void record_tarvo_rows(int64_t image_size, int64_t brush_size, const SampleTimes& times) {
  if (image_size == 1024) {
    record_summary_ours(speed_row(brush_size, "mean"), times.mean(), "us", kSpeedGoal);
    record_summary_ours(speed_row(brush_size, "p99"), times.p99(), "us", kSpeedGoal);
  }
  if (brush_size != 32) return;
  if (image_size == 1024) {
    record_summary_baseline(scale_row("mean"), times.mean());
    record_summary_baseline(scale_row("p99"), times.p99());
  } else if (image_size == 8192) {
    record_summary_ours(scale_row("mean"), times.mean(), "us", kScaleGoal);
    record_summary_ours(scale_row("p99"), times.p99(), "us", kScaleGoal);
  }
}

// Args: image side in pixels, brush size.
void BM_SessionTarvo(benchmark::State& state) {
  const LoadedSession& session = painting_session();
  if (!session.error.empty()) {
    state.SkipWithError(session.error.c_str());
    return;
  }
  const int64_t image_size = state.range(0), brush_size = state.range(1);
  TarvoReplay replay(static_cast<int32_t>(image_size), static_cast<float>(brush_size));
  SampleTimes times(session.samples.size());
  for (auto _ : state) {
    state.PauseTiming();
    replay.start_session();
    state.ResumeTiming();
    for (const SessionSample& sample : session.samples) {
      times.add(time_us([&] { replay.paint(sample); }), sample.touching());
    }
    if (replay.pen_down()) times.add_to_last(time_us([&] { replay.lift(session.samples.back()); }));
  }
  const int64_t painted = replay.painted_pixels();
  if (painted == 0) {
    state.SkipWithError("the session painted nothing into the committed image");
    return;
  }
  report_counters(state, times);
  state.counters["painted_px"] = static_cast<double>(painted);
  record_tarvo_rows(image_size, brush_size, times);
}
BENCHMARK(BM_SessionTarvo)
    ->ArgNames({"image", "size"})
    ->Args({1024, 2})
    ->Args({1024, 8})
    ->Args({1024, 32})
    ->Args({8192, 32})
    ->Iterations(kSessionsPerRun)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

#ifdef TARVO_HAVE_MYPAINT
// Arg: brush radius. The image is 1024 x 1024.
void BM_SessionMypaint(benchmark::State& state) {
  const LoadedSession& session = painting_session();
  if (!session.error.empty()) {
    state.SkipWithError(session.error.c_str());
    return;
  }
  const int64_t brush_size = state.range(0);
  MypaintBaseline baseline(1024, 1024, static_cast<float>(brush_size));
  SampleTimes times(session.samples.size());
  for (auto _ : state) {
    baseline.restart();
    double last_time = session.samples.front().time;
    for (const SessionSample& sample : session.samples) {
      const double dtime = sample.time - last_time;
      times.add(time_us([&] { baseline.stroke_to(sample.x, sample.y, sample.pressure, dtime); }),
                sample.touching());
      last_time = sample.time;
    }
  }
  report_counters(state, times);
  state.counters["painted_px"] = static_cast<double>(baseline.painted_pixels());
  record_summary_baseline(speed_row(brush_size, "mean"), times.mean());
  record_summary_baseline(speed_row(brush_size, "p99"), times.p99());
}
BENCHMARK(BM_SessionMypaint)
    ->ArgName("size")
    ->Arg(2)
    ->Arg(8)
    ->Arg(32)
    ->Iterations(kSessionsPerRun)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
#endif

}  // namespace
}  // namespace tarvo::bench
