// The cost of one pointer sample of real painting: the recorded 30-second session
// (painting30sec.dat, 2937 samples with pen pressure) painted through our engine and, in the same
// run, through libmypaint with a brush matched to ours.
//
// Ours: every sample is what a tablet delivers, a packet (pen position and pressure) followed by
// the pointer event it causes: a press when the pressure rises above 0, a move with the button held
// while it stays above 0, a release when it returns to 0, and a move without a button while the pen
// hovers (the handlers ignore it). The image is white, 1024 x 1024, and 8192 x 8192 as a second
// workload to show that the cost of a sample does not grow with the image. The canvas has no
// window, so the copy to the screen is left out; everything else is in: the walk, the dabs, the
// preview composite and, at the release, the undo push, the commit and the coverage clearing. A
// session that ends with the pen down is released after its last sample.
//
// libmypaint: the same positions, pressures and time steps, one stroke_to a sample in its own
// atomic block, with the brush of mypaint_baseline.h: radius, opacity, spacing and colour matched
// to ours, so that both paint about the same pixels with about the same number of dabs. Every
// sample is fed to it; while the pen hovers it paints nothing.
//
// The figures compare what is comparable:
//   - the samples with the pen down and moving (neither the press nor the release), mean and p99,
//     for both engines: the rows refuse themselves when the two painted areas or dab counts differ
//     by more than 10 % (counters painted_px and dabs);
//   - the stroke's end (the release: its last piece of curve, the undo push, the commit and the
//     coverage clearing), ours only, mean and max, against a memcpy of the three planes of the same
//     stroke's dirty rectangle, timed right after the release in the same run. libmypaint keeps no
//     undo and commits nothing, so it has no figure here.
//
// Each sample is timed on its own with the steady clock. One iteration paints the whole session.
// The headline figures go to the summary table printed at exit (summary.h).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <numeric>
#include <string>
#include <vector>

#include "canvas/canvas_buffers.h"
#include "canvas/undo_stack.h"
#include "core/brush_settings.h"
#include "core/program.h"
#include "mypaint_baseline.h"
#include "render/brush_tables.h"
#include "row_helper.h"
#include "script/session_converter.h"
#include "stroke/stroke_capture.h"
#include "summary.h"

namespace tarvo::bench {
namespace {

const char* const kSessionPath = TARVO_SHARED_DATA_DIR "/painting30sec.dat";
const char* const kSpeedGoal = "2x faster: <= 0.5x";
const char* const kScaleGoal = "within 1.1x";
const char* const kReleaseGoal = "within 3x";
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

// What a sample is to the pointer handlers: the pen touching for the first time since it was
// lifted (a press), touching again (a move), lifted after touching (a release), or hovering.
enum class SampleKind { Press, Move, Release, Hover };

std::vector<SampleKind> classify(const std::vector<SessionSample>& samples) {
  std::vector<SampleKind> kinds;
  kinds.reserve(samples.size());
  bool down = false;
  for (const SessionSample& sample : samples) {
    if (sample.touching()) {
      kinds.push_back(down ? SampleKind::Move : SampleKind::Press);
      down = true;
    } else {
      kinds.push_back(down ? SampleKind::Release : SampleKind::Hover);
      down = false;
    }
  }
  return kinds;
}

double mean_of(const std::vector<double>& v) {
  return v.empty() ? 0.0 : std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
}

double max_of(const std::vector<double>& v) {
  return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
}

// The smallest time that at least 99 % of the values do not exceed.
double p99_of(std::vector<double> v) {
  if (v.empty()) return 0.0;
  const auto rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(v.size()))) - 1;
  std::nth_element(v.begin(), v.begin() + rank, v.end());
  return v[rank];
}

// Our engine driven as a tablet drives it, on a white square image at zoom 1 and pan 0 (so canvas
// client positions are image positions) with no canvas window.
class TarvoReplay {
 public:
  TarvoReplay(int32_t image_size, float brush_size) {
    lend_row_helper(program_, bench::row_helper());
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

  void paint(const SessionSample& sample, SampleKind kind) {
    float x = sample.x, y = sample.y;
    tablet_packet(sample);
    switch (kind) {
      case SampleKind::Press:
        Form_MouseDown(program_, kLeftButton, 0, x, y);
        break;
      case SampleKind::Move:
        Form_MouseMove(program_, kLeftButton, 0, x, y);
        break;
      case SampleKind::Release:
        Form_MouseUp(program_, kLeftButton, 0, x, y);
        break;
      case SampleKind::Hover:
        Form_MouseMove(program_, 0, 0, x, y);
        break;
    }
  }

  // The rectangle the last release saved, committed and cleared.
  PixelRect last_dirty_rect() const {
    const StrokeState& s = program_.stroke;
    return normalise_rect(s.DirtyLeft, s.DirtyTop, s.DirtyRight, s.DirtyBottom,
                          program_.canvas.BufferWidth, program_.canvas.BufferHeight);
  }
  const CanvasBuffers& canvas() const { return program_.canvas; }
  float step_percent() const { return program_.brush.StepPercent; }
  uint64_t dabs_stamped() const { return program_.dabs.stamped; }

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
};

// The memcpy a release is held to: the rows of the dirty rectangle of the three committed planes
// into one patch, as large as the undo record's, in microseconds.
class PatchCopy {
 public:
  double time_us(const CanvasBuffers& c, const PixelRect& r) {
    const auto w = static_cast<std::size_t>(r.width());
    patch_.resize(3 * w * static_cast<std::size_t>(r.height()));
    return tarvo::bench::time_us([&] {
      uint8_t* to = patch_.data();
      for (const Plane* plane : {&c.RBuffer, &c.GBuffer, &c.BBuffer}) {
        for (int32_t y = r.top; y < r.bottom; ++y, to += w) {
          std::memcpy(to, plane->row(y) + r.left, w);
        }
      }
      benchmark::DoNotOptimize(patch_.data());
      benchmark::ClobberMemory();
    });
  }

 private:
  std::vector<uint8_t> patch_;
};

std::string moving_row(int64_t brush_size, const char* figure) {
  return "pen down and moving, size " + std::to_string(brush_size) + ", matched brush: " + figure +
         " per sample";
}

std::string scale_row(const char* figure) {
  return std::string("pen down and moving, size 32: 8192 vs 1024 image, ") + figure;
}

std::string release_row(int64_t brush_size, const char* figure) {
  return "stroke's end, size " + std::to_string(brush_size) + ": " + figure +
         " release vs memcpy of its dirty rectangle";
}

void record_work(const std::string& row, bool ours, double painted, double dabs) {
  record_summary_work(row, ours, "painted pixels", painted);
  record_summary_work(row, ours, "dabs", dabs);
}

// The times of one benchmark's samples, by what they measure.
struct SessionTimes {
  std::vector<double> moving, releases, release_copies;
};

// The 1024 image at every size is compared with libmypaint and has its release rows; at size 32 it
// is also the base that the 8192 image is compared with.
void record_tarvo_rows(int64_t image_size, int64_t brush_size, const SessionTimes& t,
                       double painted, double dabs) {
  if (image_size == 1024) {
    for (const char* figure : {"mean", "p99"})
      record_work(moving_row(brush_size, figure), true, painted, dabs);
    record_summary_ours(moving_row(brush_size, "mean"), mean_of(t.moving), "us", kSpeedGoal);
    record_summary_ours(moving_row(brush_size, "p99"), p99_of(t.moving), "us", kSpeedGoal);
    record_summary_row(release_row(brush_size, "mean"), mean_of(t.releases),
                       mean_of(t.release_copies), "us", kReleaseGoal);
    record_summary_row(release_row(brush_size, "max"), max_of(t.releases), max_of(t.release_copies),
                       "us", kReleaseGoal);
  }
  if (brush_size != 32) return;
  if (image_size == 1024) {
    record_summary_baseline(scale_row("mean"), mean_of(t.moving));
    record_summary_baseline(scale_row("p99"), p99_of(t.moving));
  } else if (image_size == 8192) {
    record_summary_ours(scale_row("mean"), mean_of(t.moving), "us", kScaleGoal);
    record_summary_ours(scale_row("p99"), p99_of(t.moving), "us", kScaleGoal);
  }
}

// Args: image side in pixels, brush size.
void BM_SessionTarvo(benchmark::State& state) {
  const LoadedSession& session = painting_session();
  if (!session.error.empty()) {
    state.SkipWithError(session.error.c_str());
    return;
  }
  const std::vector<SampleKind> kinds = classify(session.samples);
  const int64_t image_size = state.range(0), brush_size = state.range(1);
  TarvoReplay replay(static_cast<int32_t>(image_size), static_cast<float>(brush_size));
  PatchCopy copy;
  SessionTimes t;
  int64_t sessions = 0;
  for (auto _ : state) {
    state.PauseTiming();
    replay.start_session();
    state.ResumeTiming();
    for (std::size_t i = 0; i < session.samples.size(); ++i) {
      const double us = time_us([&] { replay.paint(session.samples[i], kinds[i]); });
      if (kinds[i] == SampleKind::Move) t.moving.push_back(us);
      if (kinds[i] != SampleKind::Release) continue;
      t.releases.push_back(us);
      t.release_copies.push_back(copy.time_us(replay.canvas(), replay.last_dirty_rect()));
    }
    if (kinds.back() == SampleKind::Press || kinds.back() == SampleKind::Move) {
      const SessionSample& last = session.samples.back();
      const SessionSample lifted{last.time, last.x, last.y, 0.0f};
      t.releases.push_back(time_us([&] { replay.paint(lifted, SampleKind::Release); }));
      t.release_copies.push_back(copy.time_us(replay.canvas(), replay.last_dirty_rect()));
    }
    ++sessions;
  }
  const int64_t painted = replay.painted_pixels();
  if (painted == 0) {
    state.SkipWithError("the session painted nothing into the committed image");
    return;
  }
  const double dabs = static_cast<double>(replay.dabs_stamped()) / static_cast<double>(sessions);
  state.counters["moving_mean_us"] = mean_of(t.moving);
  state.counters["moving_p99_us"] = p99_of(t.moving);
  state.counters["release_mean_us"] = mean_of(t.releases);
  state.counters["release_max_us"] = max_of(t.releases);
  state.counters["copy_mean_us"] = mean_of(t.release_copies);
  state.counters["copy_max_us"] = max_of(t.release_copies);
  state.counters["painted_px"] = static_cast<double>(painted);
  state.counters["dabs"] = dabs;
  record_tarvo_rows(image_size, brush_size, t, static_cast<double>(painted), dabs);
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
// The work a whole session gives: pixels painted and dabs stamped.
struct SessionWork {
  double painted, dabs;
};

SessionWork tarvo_work(const std::vector<SessionSample>& samples,
                       const std::vector<SampleKind>& kinds, float brush_size) {
  TarvoReplay replay(1024, brush_size);
  for (std::size_t i = 0; i < samples.size(); ++i) replay.paint(samples[i], kinds[i]);
  if (kinds.back() == SampleKind::Press || kinds.back() == SampleKind::Move) {
    const SessionSample& last = samples.back();
    replay.paint(SessionSample{last.time, last.x, last.y, 0.0f}, SampleKind::Release);
  }
  return {static_cast<double>(replay.painted_pixels()), static_cast<double>(replay.dabs_stamped())};
}

// Strokes every sample into the baseline, each with the time since the one before; times each
// with time_sample(i, microseconds).
template <class TimeSample>
void stroke_session(MypaintBaseline& baseline, const std::vector<SessionSample>& samples,
                    TimeSample&& time_sample) {
  baseline.restart();
  double last_time = samples.front().time;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const SessionSample& sample = samples[i];
    const double dtime = sample.time - last_time;
    time_sample(i,
                time_us([&] { baseline.stroke_to(sample.x, sample.y, sample.pressure, dtime); }));
    last_time = sample.time;
  }
}

SessionWork mypaint_work(const std::vector<SessionSample>& samples, const MatchedBrush& brush) {
  MypaintBaseline baseline(1024, 1024, brush);
  stroke_session(baseline, samples, [](std::size_t, double) {});
  return {static_cast<double>(baseline.painted_pixels()), static_cast<double>(baseline.dabs())};
}

// libmypaint's brush matched to ours of the given size on this session: starting from our radius
// and our spacing at full pressure, untimed rounds scale its radius by the ratio of the painted
// areas (which grow about as the radius) and its dabs per radius by the ratio of the dab counts
// (which grow as the dabs per radius over the radius), until both are within 1 %. At size 2 the
// area hardly follows the radius (libmypaint's mask paints the pixels nearest a sub-pixel dab's
// centre in full, and its radius stops at 0.2 pixels), so the rounds end with the radius near half
// a pixel and the painted area a few percent above ours.
MatchedBrush calibrated_brush(const std::vector<SessionSample>& samples,
                              const std::vector<SampleKind>& kinds, float brush_size) {
  constexpr int kRounds = 12;
  constexpr double kClose = 0.01;
  const SessionWork ours = tarvo_work(samples, kinds, brush_size);
  MatchedBrush brush{brush_size, 100.0f / BrushSettings{}.StepPercent};
  for (int round = 0; round < kRounds; ++round) {
    const SessionWork theirs = mypaint_work(samples, brush);
    if (!(theirs.painted > 0.0) || !(theirs.dabs > 0.0)) break;
    const double area = ours.painted / theirs.painted, dabs = ours.dabs / theirs.dabs;
    if (std::abs(area - 1.0) < kClose && std::abs(dabs - 1.0) < kClose) break;
    brush.radius_at_full_pressure *= static_cast<float>(area);
    brush.dabs_per_actual_radius *= static_cast<float>(dabs * area);
  }
  return brush;
}

// Arg: our brush size, which the calibrated brush matches. The image is 1024 x 1024.
void BM_SessionMypaint(benchmark::State& state) {
  const LoadedSession& session = painting_session();
  if (!session.error.empty()) {
    state.SkipWithError(session.error.c_str());
    return;
  }
  const std::vector<SampleKind> kinds = classify(session.samples);
  const int64_t brush_size = state.range(0);
  const MatchedBrush matched =
      calibrated_brush(session.samples, kinds, static_cast<float>(brush_size));
  MypaintBaseline baseline(1024, 1024, matched);
  std::vector<double> moving;
  int64_t sessions = 0;
  for (auto _ : state) {
    stroke_session(baseline, session.samples, [&](std::size_t i, double us) {
      if (kinds[i] == SampleKind::Move) moving.push_back(us);
    });
    ++sessions;
  }
  const auto painted = static_cast<double>(baseline.painted_pixels());
  const double dabs = static_cast<double>(baseline.dabs()) / static_cast<double>(sessions);
  state.counters["moving_mean_us"] = mean_of(moving);
  state.counters["moving_p99_us"] = p99_of(moving);
  state.counters["painted_px"] = painted;
  state.counters["dabs"] = dabs;
  state.counters["radius_at_p1"] = matched.radius_at_full_pressure;
  state.counters["dabs_per_radius"] = matched.dabs_per_actual_radius;
  for (const char* figure : {"mean", "p99"})
    record_work(moving_row(brush_size, figure), false, painted, dabs);
  record_summary_baseline(moving_row(brush_size, "mean"), mean_of(moving));
  record_summary_baseline(moving_row(brush_size, "p99"), p99_of(moving));
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
