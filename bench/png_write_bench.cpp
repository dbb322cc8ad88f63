// The file host's PNG write-back: our encoder (both cores, strips straight from the planes)
// against libpng at zlib level 6 through Qt's writer, Qt's default, on the same pixels: time and
// size.

#include <benchmark/benchmark.h>

#include <QBuffer>
#include <chrono>
#include <ctime>
#include <random>
#include <string>

#include "canvas/row_split.h"
#include "file/qt_image_file.h"
#include "file/qt_png_file.h"
#include "photo_like.h"
#include "summary.h"

namespace tarvo {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The processor time of every thread of the process, in seconds.
double cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

QImage deep_of(const HostImage& image) {
  QImage deep(image.width(), image.height(), QImage::Format_RGBA64);
  std::minstd_rand noise(3);
  for (int y = 0; y < deep.height(); ++y) {
    auto* line = reinterpret_cast<QRgba64*>(deep.scanLine(y));
    for (int x = 0; x < deep.width(); ++x) {
      const auto low = [&] { return static_cast<uint16_t>(noise() % 64); };
      line[x] = QRgba64::fromRgba64(image.red(x, y) * 256 + low(), image.green(x, y) * 256 + low(),
                                    image.blue(x, y) * 256 + low(), 65535);
    }
  }
  return deep;
}

// Args: width, height, bits a channel.
void BM_WritePng(benchmark::State& state) {
  const auto width = static_cast<int32_t>(state.range(0));
  const auto height = static_cast<int32_t>(state.range(1));
  const bool deep = state.range(2) == 16;
  const HostImage image = bench::photo_like(width, height, 11);
  const QImage exact = deep ? deep_of(image) : QImage();
  const ImageFileTraits traits;
  RowHelper helper;
  double ours = 0, theirs = 0, our_bytes = 0, their_bytes = 0, first_progress = -1;
  double our_cpu = 0, their_cpu = 0;
  for (auto _ : state) {
    Clock::time_point start = Clock::now();
    double cpu_start = cpu_seconds();
    const QByteArray file = encode_png_file(image, exact, traits, &helper, [&](double) {
      if (first_progress < 0) first_progress = seconds_since(start);
    });
    ours = seconds_since(start);
    our_cpu = cpu_seconds() - cpu_start;
    our_bytes = static_cast<double>(file.size());

    const QImage picture =
        deep ? compose_deep_picture(exact, false, traits) : compose_picture(image, traits);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    start = Clock::now();
    cpu_start = cpu_seconds();
    encode_picture(picture, "png", false, buffer);
    theirs = seconds_since(start);
    their_cpu = cpu_seconds() - cpu_start;
    their_bytes = static_cast<double>(bytes.size());
  }
  state.counters["ours_s"] = ours;
  state.counters["libpng6_s"] = theirs;
  state.counters["ours_MB"] = our_bytes / 1e6;
  state.counters["libpng6_MB"] = their_bytes / 1e6;
  state.counters["first_progress_s"] = first_progress;
  state.counters["ours_cpu_s"] = our_cpu;
  state.counters["libpng6_cpu_s"] = their_cpu;
  const std::string kind = std::to_string(width) + " x " + std::to_string(height) +
                           (deep ? " 16-bit" : " 8-bit") + " PNG";
  bench::record_summary_row("write-back, " + kind + ": encode time", ours, theirs, "s", "<= 0.5x");
  bench::record_summary_row("write-back, " + kind + ": processor time (both threads)", our_cpu,
                            their_cpu, "s", "");
  bench::record_summary_row("write-back, " + kind + ": file size", our_bytes / 1e6,
                            their_bytes / 1e6, "MB", "<= 1.1x");
}

BENCHMARK(BM_WritePng)
    ->Args({8000, 6000, 8})
    ->Args({4000, 3000, 16})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace tarvo
