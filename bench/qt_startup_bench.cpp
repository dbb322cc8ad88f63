// Start-up with a 4096 x 4096 PNG, up to the first full frame, beside decoding the same file with
// QImageReader alone, measured in the same run.
//
// Ours: Main with the stand-alone file host on the file, as the program starts: the host reads
// and decodes the PNG into its colour planes; the tables and the built-in paper grain are made;
// the seven planes are allocated, the host's planes taken and copied to the previews; the display
// surface is created. The host then shows the canvas window, whose load sequence allocates the
// stroke list and draws the whole image (displaybuffers) into its 1920 x 1080 client at zoom 1.
// The window is a retained client image rather than a Qt widget, so making and showing widgets is
// left out; so is the tools panel.
// Baseline: QImageReader::read of the same file into a QImage, nothing else.
//
// The PNG is written once a run into a temporary folder, removed at exit: smooth gradients with a
// little noise, which compresses about as a photograph does (counter png_MB, the file's size).
// Each iteration times both sides, ours with the manual timer.

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QString>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "app/startup.h"
#include "canvas/undo_stack.h"
#include "core/program.h"
#include "file/qt_file_host.h"
#include "loading_window.h"
#include "row_helper.h"
#include "summary.h"

namespace tarvo {
namespace {

constexpr int kImageSide = 4096;

// A picture of gradients with noise of +-8 levels from a fixed-seed generator.
QImage noisy_gradients() {
  QImage picture(kImageSide, kImageSide, QImage::Format_RGB888);
  uint32_t state = 0x9e3779b9u;
  for (int y = 0; y < kImageSide; ++y) {
    uchar* line = picture.scanLine(y);
    for (int x = 0; x < kImageSide; ++x, line += 3) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      const int noise = static_cast<int>(state & 15) - 8;
      line[0] = static_cast<uchar>(std::clamp((x >> 4) + noise, 0, 255));
      line[1] = static_cast<uchar>(std::clamp((y >> 4) + noise, 0, 255));
      line[2] = static_cast<uchar>(std::clamp(((x + y) >> 5) + noise, 0, 255));
    }
  }
  return picture;
}

// The test file, made on first use; an empty path with the reason when it could not be written.
struct StartupPicture {
  QTemporaryDir folder{QDir::tempPath() + QStringLiteral("/tarvo_bench_startup-XXXXXX")};
  QString path;
  std::string error;
  double megabytes = 0.0;

  StartupPicture() {
    if (!folder.isValid()) {
      error = "cannot make a temporary folder: " + folder.errorString().toStdString();
      return;
    }
    const QString file = folder.filePath(QStringLiteral("startup.png"));
    QImageWriter writer(file, "png");
    if (!writer.write(noisy_gradients())) {
      error = "cannot write " + file.toStdString() + ": " + writer.errorString().toStdString();
      return;
    }
    path = file;
    megabytes = static_cast<double>(QFileInfo(file).size()) / 1e6;
  }
};

const StartupPicture& startup_picture() {
  static const StartupPicture picture;
  return picture;
}

// Seconds from creating the program to its first full frame. The program and its window are
// destroyed after the clock stops.
double start_up_seconds(const QString& path) {
  HostRegistry registry;
  FileHostOptions options;
  options.image_path = path;
  options.helper = &bench::row_helper();
  register_file_host(registry, options);
  const auto start = std::chrono::steady_clock::now();
  auto program = std::make_unique<Program>();
  lend_row_helper(*program, bench::row_helper());
  program->undo.byte_budget = default_undo_budget();
  std::unique_ptr<bench::LoadingWindow> window;
  Main(*program, registry, [&window](Program& p) -> CanvasWindow& {
    window = std::make_unique<bench::LoadingWindow>(p);
    return *window;
  });
  benchmark::ClobberMemory();
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  program.reset();
  return took.count();
}

// Seconds QImageReader takes to decode the file; 0 when it cannot.
double decode_seconds(const QString& path) {
  const auto start = std::chrono::steady_clock::now();
  QImageReader reader(path);
  const QImage picture = reader.read();
  benchmark::DoNotOptimize(picture.constBits());
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return picture.isNull() ? 0.0 : took.count();
}

void BM_StartupToFirstFrame(benchmark::State& state) {
  const StartupPicture& picture = startup_picture();
  if (!picture.error.empty()) {
    state.SkipWithError(picture.error.c_str());
    return;
  }
  double ours = 0.0, baseline = 0.0;
  for (auto _ : state) {
    const double decode = decode_seconds(picture.path);
    if (decode == 0.0) {
      state.SkipWithError("QImageReader cannot decode the start-up picture");
      break;
    }
    baseline += decode;
    try {
      const double start_up = start_up_seconds(picture.path);
      ours += start_up;
      state.SetIterationTime(start_up);
    } catch (const std::exception& e) {
      state.SkipWithError((std::string("start-up failed: ") + e.what()).c_str());
      break;
    }
  }
  if (state.error_occurred()) return;
  const auto runs = static_cast<double>(state.iterations());
  state.counters["qimagereader_ms"] = baseline / runs * 1e3;
  state.counters["x_qimagereader"] = ours / baseline;
  state.counters["png_MB"] = picture.megabytes;
  bench::record_summary_row("start-up, 4096 x 4096 PNG to first full frame (vs QImageReader)",
                            ours / runs * 1e3, baseline / runs * 1e3, "ms", "within 1.5x");
}
BENCHMARK(BM_StartupToFirstFrame)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvo
