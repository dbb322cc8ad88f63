// The session journal's first base at the sizes painters open: from the restart to the journal
// naming its base on disk (what a kill can no longer take), against the PNG encode of the same
// planes that the journal's base used to be.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "photo_like.h"
#include "recovery/qt_journal.h"
#include "recovery/qt_recovery.h"
#include "summary.h"

namespace tarvo {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Args: width, height.
void BM_JournalFirstBase(benchmark::State& state) {
  const auto width = static_cast<int32_t>(state.range(0));
  const auto height = static_cast<int32_t>(state.range(1));
  const HostImage image = bench::photo_like(width, height, 7);
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("tarvo-bench-base-" + std::to_string(::getpid()));
  double named = 0, synced = 0, copied = 0, kept = 0, png = 0;
  for (auto _ : state) {
    {
      SessionJournal journal(QString::fromStdString((folder / "bench-journal.tvs").string()));
      const Clock::time_point start = Clock::now();
      JournalStart begin;
      journal.keep_planes(begin, image.red, image.green, image.blue);
      kept = seconds_since(start);
      journal.restart(std::move(begin));
      while (!QFileInfo::exists(journal.path()))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      named = seconds_since(start);
      journal.flush();
      synced = seconds_since(start);
      journal.remove_files();
    }
    // The copy of the planes that the pointer's thread made for every base before.
    Clock::time_point start = Clock::now();
    const HostImage copy = copy_planes(image.red, image.green, image.blue);
    copied = seconds_since(start);
    // The base as it was: the planes as a PNG picture, encoded by Qt at its default level.
    start = Clock::now();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture_of(image.red, image.green, image.blue).save(&buffer, "png");
    png = seconds_since(start);
    state.counters["png_MB"] = static_cast<double>(bytes.size()) / 1e6;
  }
  std::filesystem::remove_all(folder);
  state.counters["keep_s"] = kept;
  state.counters["copy_s"] = copied;
  state.counters["on_disk_s"] = named;
  state.counters["synced_s"] = synced;
  state.counters["png_s"] = png;
  const std::string size = std::to_string(width) + " x " + std::to_string(height);
  bench::record_summary_row("journal's first base, " + size + ": restart to the journal naming it",
                            named, png, "s", "under 1 s");
  bench::record_summary_row("journal's first base, " + size + ": the pointer's thread", kept,
                            copied, "s", "no copy");
}

BENCHMARK(BM_JournalFirstBase)
    ->Args({8000, 6000})
    ->Args({16384, 16384})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace tarvo
