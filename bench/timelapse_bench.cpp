// The time-lapse writer's H.264 encoding against FFmpeg's own command-line encoder doing the same
// work in the same run: 60 frames of 1920 x 1080 at 30 frames a second, libx264 at the writer's
// preset (veryfast) on two threads, yuv420p, MP4 with its index in front. Our side is fed the
// frames as the program keeps them (three planes); ffmpeg reads the same frames as packed RGB from
// a pipe, which is written from memory prepared beforehand, so each side's time is its conversion,
// encoding and muxing, start-up included. The frames are a painting in progress: paper-like noise
// under a growing number of opaque round-brush strokes.
//
// The two sides alternate, each run three times; the summary takes the medians. Skips with a
// message when the ffmpeg program is missing.

#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "summary.h"
#include "timelapse/video_writer.h"

namespace tarvo {
namespace {

namespace fs = std::filesystem;

constexpr int32_t kWidth = 1920, kHeight = 1080;
constexpr int kFrames = 60;
constexpr int kRuns = 3;

struct Frames {
  std::vector<std::vector<uint8_t>> r, g, b, packed;
};

// Paints one opaque disc of radius 6 on each plane.
void dab(std::vector<uint8_t>* planes[3], int cx, int cy, const uint8_t colour[3]) {
  for (int y = std::max(0, cy - 6); y <= std::min(kHeight - 1, cy + 6); ++y) {
    for (int x = std::max(0, cx - 6); x <= std::min(kWidth - 1, cx + 6); ++x) {
      if ((x - cx) * (x - cx) + (y - cy) * (y - cy) > 36) continue;
      for (int c = 0; c < 3; ++c)
        (*planes[c])[static_cast<std::size_t>(y) * kWidth + x] = colour[c];
    }
  }
}

// The painting after each of kFrames steps of 8 strokes, as planes and as packed RGB.
const Frames& painting() {
  static const Frames frames = [] {
    std::mt19937 random(7);
    std::vector<uint8_t> r(kWidth * kHeight), g(r.size()), b(r.size());
    for (std::size_t i = 0; i < r.size(); ++i) r[i] = g[i] = b[i] = 235 + random() % 12;
    std::vector<uint8_t>* planes[3] = {&r, &g, &b};
    Frames made;
    for (int f = 0; f < kFrames; ++f) {
      for (int stroke = 0; stroke < 8; ++stroke) {
        const uint8_t colour[3] = {uint8_t(random()), uint8_t(random()), uint8_t(random())};
        double x = random() % kWidth, y = random() % kHeight, angle = random() % 628 / 100.0;
        for (int step = 0; step < 150; ++step, angle += 0.02) {
          x += 3 * std::cos(angle), y += 3 * std::sin(angle);
          dab(planes, static_cast<int>(x), static_cast<int>(y), colour);
        }
      }
      made.r.push_back(r), made.g.push_back(g), made.b.push_back(b);
      std::vector<uint8_t> packed(r.size() * 3);
      for (std::size_t i = 0; i < r.size(); ++i) {
        packed[i * 3] = r[i], packed[i * 3 + 1] = g[i], packed[i * 3 + 2] = b[i];
      }
      made.packed.push_back(std::move(packed));
    }
    return made;
  }();
  return frames;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double encode_with_writer(const Frames& frames, const fs::path& out) {
  const auto start = std::chrono::steady_clock::now();
  VideoWriter writer(out, {kWidth, kHeight}, {30, std::nullopt});
  for (int f = 0; f < kFrames; ++f) {
    writer.add_frame(
        {frames.r[f].data(), frames.g[f].data(), frames.b[f].data(), kWidth, kHeight, kWidth});
  }
  writer.finish();
  return seconds_since(start);
}

// ffmpeg encoding the frames it reads from a pipe; a negative time when it failed.
double encode_with_ffmpeg(const Frames& frames, const fs::path& out) {
  const std::string command =
      "ffmpeg -v error -y -f rawvideo -pix_fmt rgb24 -s 1920x1080 -r 30 -i pipe: -c:v libx264 "
      "-preset veryfast -threads 2 -pix_fmt yuv420p -movflags +faststart '" +
      out.native() + "'";
  const auto start = std::chrono::steady_clock::now();
  std::FILE* pipe = ::popen(command.c_str(), "w");
  if (!pipe) return -1.0;
  bool written = true;
  for (const std::vector<uint8_t>& packed : frames.packed) {
    written = written && std::fwrite(packed.data(), 1, packed.size(), pipe) == packed.size();
  }
  const int status = ::pclose(pipe);
  const double seconds = seconds_since(start);
  return written && status == 0 ? seconds : -1.0;
}

void BM_TimelapseH264(benchmark::State& state) {
  if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) {
    state.SkipWithError("skipped: the ffmpeg program is missing (package ffmpeg)");
    return;
  }
  const Frames& frames = painting();
  const fs::path folder =
      fs::temp_directory_path() / ("tarvo-bench-video-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  std::vector<double> ours, theirs;
  for (auto _ : state) {
    for (int run = 0; run < kRuns; ++run) {
      ours.push_back(encode_with_writer(frames, folder / "ours.mp4"));
      theirs.push_back(encode_with_ffmpeg(frames, folder / "ffmpeg.mp4"));
    }
  }
  const auto ours_bytes = fs::file_size(folder / "ours.mp4");
  const auto their_bytes =
      fs::exists(folder / "ffmpeg.mp4") ? fs::file_size(folder / "ffmpeg.mp4") : 0;
  fs::remove_all(folder);
  if (std::find_if(theirs.begin(), theirs.end(), [](double s) { return s < 0; }) != theirs.end()) {
    state.SkipWithError("skipped: ffmpeg failed to encode the frames");
    return;
  }
  const double ours_ms = bench::median(ours) * 1e3, theirs_ms = bench::median(theirs) * 1e3;
  state.counters["ours_ms"] = ours_ms;
  state.counters["ffmpeg_ms"] = theirs_ms;
  state.counters["x_ffmpeg"] = ours_ms / theirs_ms;
  state.counters["ours_KB"] = ours_bytes / 1024.0;
  state.counters["ffmpeg_KB"] = their_bytes / 1024.0;
  bench::record_summary_row("time-lapse: 60 frames of 1920 x 1080 to H.264 (vs the ffmpeg program)",
                            ours_ms, theirs_ms, "ms", "within 1.3x");
}
BENCHMARK(BM_TimelapseH264)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvo
