// A one-hour painting made into a time-lapse: the recorded 30-second session (painting30sec.dat as
// pointer events) played 120 times over a white 1920 x 1080 image, each time somewhere else on
// it, about 350,000 inputs, rendered into a 30-second 1920 x 1080 H.264 video (900 frames, no
// hold) by the program's own time-lapse: a replay in a hidden canvas, frames converted and encoded
// in-process.
//
// Beside it, in the same run: the ffmpeg program encoding the same frames from a raw pipe, with
// the writer's settings (libx264 veryfast on two threads, yuv420p, MP4 with its index in front),
// fed by the same replay as it goes; and the replay alone, taking the same frames and doing
// nothing with them, which shows that the replay is not what the video waits for. Each runs in a
// child process of its own (child_process.h), whose peak resident memory is reported too: the
// render's less the replay's is what the encoder and its frames add to the canvas's planes and
// undo records, beside the peak of the ffmpeg program encoding the same frames.
//
// Skips with a message when the session or the ffmpeg program is missing.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"
#include "file/qt_file_host.h"
#include "script/session_converter.h"
#include "summary.h"
#include "timelapse/qt_replay_host.h"
#include "timelapse/qt_timelapse.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

constexpr int32_t kWidth = 1920, kHeight = 1080;
constexpr int kRepeats = 120;
const char* const kSessionPath = TARVO_SHARED_DATA_DIR "/painting30sec.dat";

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

fs::path scratch() {
  const fs::path folder =
      fs::temp_directory_path() / ("tarvo-bench-hour-" + std::to_string(::getppid()));
  fs::create_directories(folder);
  return folder;
}

// The hour: the session 120 times, spread over the image in a grid of 4 x 3 places.
std::vector<TimelapsePiece> hour_of_painting() {
  const std::vector<SessionSample> samples = read_session_file(kSessionPath);
  TimelapsePiece piece;
  for (int i = 0; i < kRepeats; ++i) {
    PointerConversion conversion;
    conversion.offset_x = -175.0f + static_cast<float>(i % 4) * 430.0f;
    conversion.offset_y = -57.0f + static_cast<float>(i / 4 % 3) * 235.0f;
    const std::vector<ScriptEvent> events = session_to_pointer_events(samples, conversion);
    piece.events.insert(piece.events.end(), events.begin(), events.end());
  }
  FileHostOptions options;
  options.image_path = QString::fromStdString((scratch() / "never-written.png").native());
  options.new_image_size = QSize(kWidth, kHeight);
  piece.make_host = [options]() -> std::unique_ptr<Host> {
    return std::make_unique<ReadOnlyHost>(std::make_unique<FileHost>(options));
  };
  std::vector<TimelapsePiece> pieces;
  pieces.push_back(std::move(piece));
  return pieces;
}

const TimelapseTiming kTiming{30, 30.0, 0.0};

// The replays need the widgets, hidden: an offscreen application in each child.
struct OffscreenApp {
  int argc = 1;
  char name[12] = "tarvo_bench";
  char* argv[2] = {name, nullptr};
  std::unique_ptr<QApplication> app;
  OffscreenApp() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    app = std::make_unique<QApplication>(argc, argv);
  }
};

void render_ours(bench::ChildFigures& figures) {
  OffscreenApp app;
  std::vector<TimelapsePiece> pieces = hour_of_painting();
  figures["inputs"] = static_cast<double>(pieces[0].events.size());
  TimelapseOptions options;
  options.out = scratch() / "ours.mp4";
  options.timing = kTiming;
  options.image = {kWidth, kHeight};
  const auto start = std::chrono::steady_clock::now();
  const TimelapseResult result = render_timelapse(pieces, options, {});
  figures["seconds"] = seconds_since(start);
  figures["frames"] = static_cast<double>(result.frames);
  figures["bytes"] = static_cast<double>(fs::file_size(options.out));
}

// The same frames through a pipe into the ffmpeg program, packed as rgb24.
void render_with_ffmpeg(bench::ChildFigures& figures) {
  OffscreenApp app;
  std::vector<TimelapsePiece> pieces = hour_of_painting();
  const std::string command =
      "ffmpeg -v error -y -f rawvideo -pix_fmt rgb24 -s 1920x1080 -r 30 -i pipe: -c:v libx264 "
      "-preset veryfast -threads 2 -pix_fmt yuv420p -movflags +faststart '" +
      (scratch() / "ffmpeg.mp4").native() + "'";
  std::vector<uint8_t> packed(static_cast<std::size_t>(kWidth) * kHeight * 3);
  const auto start = std::chrono::steady_clock::now();
  std::FILE* pipe = ::popen(command.c_str(), "w");
  bool written = pipe != nullptr;
  int64_t frames = 0;
  if (pipe) {
    replay_frames(
        pieces, kTiming, false, [&](const RgbPlanes& frame, int64_t copies, int64_t, int64_t) {
          for (int32_t y = 0; y < frame.height; ++y) {
            const std::ptrdiff_t row = y * frame.stride;
            uint8_t* out = packed.data() + static_cast<std::size_t>(y) * kWidth * 3;
            for (int32_t x = 0; x < frame.width; ++x) {
              out[3 * x] = frame.red[row + x];
              out[3 * x + 1] = frame.green[row + x];
              out[3 * x + 2] = frame.blue[row + x];
            }
          }
          for (int64_t c = 0; c < copies; ++c) {
            written =
                written && std::fwrite(packed.data(), 1, packed.size(), pipe) == packed.size();
            ++frames;
          }
          return written;
        });
    written = ::pclose(pipe) == 0 && written;
  }
  figures["seconds"] = written ? seconds_since(start) : -1.0;
  figures["frames"] = static_cast<double>(frames);
  // The ffmpeg program's own peak: the largest child waited for.
  rusage children{};
  ::getrusage(RUSAGE_CHILDREN, &children);
  figures["ffmpeg_peak_kB"] = static_cast<double>(children.ru_maxrss);
}

void replay_only(bench::ChildFigures& figures) {
  OffscreenApp app;
  std::vector<TimelapsePiece> pieces = hour_of_painting();
  int64_t frames = 0;
  const auto start = std::chrono::steady_clock::now();
  replay_frames(pieces, kTiming, false, [&](const RgbPlanes&, int64_t copies, int64_t, int64_t) {
    frames += copies;
    return true;
  });
  figures["seconds"] = seconds_since(start);
  figures["frames"] = static_cast<double>(frames);
}

[[maybe_unused]] const bool registered =
    bench::register_child_workload("timelapse-hour-ours", render_ours) &&
    bench::register_child_workload("timelapse-hour-ffmpeg", render_with_ffmpeg) &&
    bench::register_child_workload("timelapse-hour-replay", replay_only);

void BM_TimelapseHour(benchmark::State& state) {
  if (!fs::exists(kSessionPath)) {
    state.SkipWithError("skipped: ../shared/data/painting30sec.dat is missing");
    return;
  }
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) {
    state.SkipWithError("skipped: the ffmpeg program is missing (package ffmpeg)");
    return;
  }
  bench::ChildResult ours, theirs, replay;
  for (auto _ : state) {
    ours = bench::run_in_child("timelapse-hour-ours");
    theirs = bench::run_in_child("timelapse-hour-ffmpeg");
    replay = bench::run_in_child("timelapse-hour-replay");
  }
  fs::remove_all(fs::temp_directory_path() / ("tarvo-bench-hour-" + std::to_string(::getpid())));
  for (const bench::ChildResult* child : {&ours, &theirs, &replay}) {
    if (!child->error.empty()) {
      state.SkipWithError(child->error.c_str());
      return;
    }
  }
  if (theirs.figures["seconds"] < 0) {
    state.SkipWithError("skipped: ffmpeg failed to encode the frames");
    return;
  }
  const double ours_s = ours.figures["seconds"], theirs_s = theirs.figures["seconds"];
  const double replay_s = replay.figures["seconds"];
  state.counters["inputs"] = ours.figures["inputs"];
  state.counters["frames"] = ours.figures["frames"];
  state.counters["ours_s"] = ours_s;
  state.counters["ffmpeg_s"] = theirs_s;
  state.counters["x_ffmpeg"] = ours_s / theirs_s;
  state.counters["replay_s"] = replay_s;
  state.counters["ours_MB"] = ours.figures["peak_kB"] / 1024.0;
  state.counters["replay_MB"] = replay.figures["peak_kB"] / 1024.0;
  state.counters["ffmpeg_MB"] = theirs.figures["ffmpeg_peak_kB"] / 1024.0;
  state.counters["video_KB"] = ours.figures["bytes"] / 1024.0;
  const std::string hour = "time-lapse of a one-hour session (" +
                           std::to_string(static_cast<int64_t>(ours.figures["inputs"])) +
                           " inputs) to 30 s of 1920 x 1080 H.264";
  bench::record_summary_row(hour + " (vs the ffmpeg program fed the same frames)", ours_s, theirs_s,
                            "s", "within 1.3x");
  bench::record_summary_row(hour + ": the replay alone (vs the whole render)", replay_s, ours_s,
                            "s", "well below 1x");
  // What the video adds to the replay's canvas (its planes and undo records), beside what the
  // ffmpeg program takes for the same encoding.
  bench::record_summary_row(
      hour + ": memory the video adds to the replay (vs the ffmpeg program's)",
      (ours.figures["peak_kB"] - replay.figures["peak_kB"]) / 1024.0,
      theirs.figures["ffmpeg_peak_kB"] / 1024.0, "MB", "at most 1x");
}
BENCHMARK(BM_TimelapseHour)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace tarvo
