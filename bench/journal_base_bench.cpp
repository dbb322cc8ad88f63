// The session journal's first base at the sizes painters open: from the restart to the journal
// naming its base on disk (what a kill can no longer take), against the PNG encode of the same
// planes that the journal's base used to be; and the program's writes beside the child that keeps
// the base.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QBuffer>
#include <QFileInfo>
#include <QImage>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "file/qt_image_file.h"
#include "photo_like.h"
#include "recovery/kept_planes.h"
#include "recovery/qt_journal.h"
#include "recovery/qt_recovery.h"
#include "summary.h"

namespace tarvo {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Args: width, height, and 1 for a base that is the image file the planes were read from (the
// file host's, over a PNG the host vouches for), 0 for a snapshot of the planes (a GIMP layer's).
void BM_JournalFirstBase(benchmark::State& state) {
  const auto width = static_cast<int32_t>(state.range(0));
  const auto height = static_cast<int32_t>(state.range(1));
  const bool over_file = state.range(2) != 0;
  const HostImage image = bench::photo_like(width, height, 7);
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("tarvo-bench-base-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string file = (folder / "photo.png").string();
  std::string file_sha1;
  if (over_file) {
    bench::write_photo_png(image.red, image.green, image.blue, width, height, file);
    file_sha1 = checksum_of_file(QString::fromStdString(file)).toHex().toStdString();
  }
  double named = 0, synced = 0, copied = 0, kept = 0, baseline = 0;
  for (auto _ : state) {
    {
      SessionJournal journal(QString::fromStdString((folder / "bench-journal.tvs").string()));
      const Clock::time_point start = Clock::now();
      JournalStart begin;
      journal.keep_planes(begin, image.red, image.green, image.blue);
      if (over_file) {
        begin.base = JournalBase{JournalBase::Kind::ImageFile, QString::fromStdString(file)};
        begin.planes_file_sha1 = file_sha1;
      }
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
    start = Clock::now();
    if (over_file) {
      // The least a copy of the file costs: the kernel's own, into the page cache.
      const std::filesystem::path copy = folder / "copy.png";
      std::filesystem::copy_file(file, copy);
      baseline = seconds_since(start);
      std::filesystem::remove(copy);
      continue;
    }
    // The base as it was: the planes as a PNG picture, encoded by Qt at its default level.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture_of(image.red, image.green, image.blue).save(&buffer, "png");
    baseline = seconds_since(start);
    state.counters["png_MB"] = static_cast<double>(bytes.size()) / 1e6;
  }
  std::filesystem::remove_all(folder);
  state.counters["keep_s"] = kept;
  state.counters["copy_s"] = copied;
  state.counters["on_disk_s"] = named;
  state.counters["synced_s"] = synced;
  state.counters[over_file ? "file_copy_s" : "png_s"] = baseline;
  const std::string size = std::to_string(width) + " x " + std::to_string(height) +
                           (over_file ? " over its PNG file" : "");
  bench::record_summary_row("journal's first base, " + size + ": restart to the journal naming it",
                            named, baseline, "s", "under 1 s");
  bench::record_summary_row("journal's first base, " + size + ": the base whole and synced", synced,
                            baseline, "s", "");
  if (!over_file) {
    bench::record_summary_row("journal's first base, " + size + ": the pointer's thread", kept,
                              copied, "s", "no copy");
  }
}

// Writes a byte into every page of planes, as strokes over the whole image would in time; the
// seconds it took.
double touch_every_page(std::vector<Plane>& planes, uint8_t value) {
  const Clock::time_point start = Clock::now();
  for (Plane& plane : planes) {
    for (std::size_t at = 0; at < plane.size(); at += 4096) plane.data()[at] = value;
  }
  return seconds_since(start);
}

// Args: width, height. Painting while a child keeps the journal's base: the program's first
// write to each page of the previews and the coverage, with the child letting go of its share of
// them as it starts, against the same writes while the child shares them (each a copy of the page
// into fresh memory); the same writes with no child as the floor.
void BM_PaintingBesideKeptBase(benchmark::State& state) {
  const auto width = static_cast<int32_t>(state.range(0));
  const auto height = static_cast<int32_t>(state.range(1));
  const HostImage image = bench::photo_like(width, height, 7);
  std::vector<Plane> stroke;
  for (int i = 0; i < 4; ++i) {
    stroke.emplace_back(width + 1, height + 1);
    stroke.back().fill(255);
  }
  const Plane* const unneeded[] = {&stroke[0], &stroke[1], &stroke[2], &stroke[3]};
  double released = 0, shared = 0, alone = 0;
  for (auto _ : state) {
    alone = touch_every_page(stroke, 1);
    for (const bool let_go : {true, false}) {
      const auto kept = KeptPlanes::keep(
          image.red, image.green, image.blue, ::write,
          let_go ? std::span<const Plane* const>(unneeded) : std::span<const Plane* const>());
      std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the child lets go
      (let_go ? released : shared) = touch_every_page(stroke, let_go ? 2 : 3);
    }
  }
  state.counters["let_go_ms"] = released * 1e3;
  state.counters["shared_ms"] = shared * 1e3;
  state.counters["no_child_ms"] = alone * 1e3;
  const std::string size = std::to_string(width) + " x " + std::to_string(height);
  bench::record_summary_row(
      "first write to every page of the previews and coverage beside a kept base, " + size +
          " (vs the child sharing them)",
      released * 1e3, shared * 1e3, "ms", "no copies");
  bench::record_summary_row("the same, " + size + " (vs no child)", released * 1e3, alone * 1e3,
                            "ms", "");
}

BENCHMARK(BM_PaintingBesideKeptBase)
    ->Args({8000, 6000})
    ->Args({16384, 16384})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK(BM_JournalFirstBase)
    ->ArgNames({"width", "height", "over_file"})
    ->Args({8000, 6000, 0})
    ->Args({16384, 16384, 0})
    ->Args({16384, 16384, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace tarvo
