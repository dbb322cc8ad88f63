// Start-up with a 4096 x 4096 and a 16384 x 16384 PNG, up to the first full frame, beside
// decoding the same file with QImageReader alone, measured in the same run.
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
#include <QFile>
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
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/startup.h"
#include "canvas/undo_stack.h"
#include "core/program.h"
#include "file/png_encoder.h"
#include "file/qt_file_host.h"
#include "loading_window.h"
#include "row_helper.h"
#include "summary.h"

namespace tarvo {
namespace {

// One row of a picture of gradients with noise of +-8 levels from a fixed-seed generator, the
// gradients a level every side / 256 pixels.
void noisy_gradient_row(int side, int y, uint32_t& state, uchar* line) {
  const int shift = side >= 16384 ? 6 : 4;
  for (int x = 0; x < side; ++x, line += 3) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const int noise = static_cast<int>(state & 15) - 8;
    line[0] = static_cast<uchar>(std::clamp((x >> shift) + noise, 0, 255));
    line[1] = static_cast<uchar>(std::clamp((y >> shift) + noise, 0, 255));
    line[2] = static_cast<uchar>(std::clamp(((x + y) >> (shift + 1)) + noise, 0, 255));
  }
}

QImage noisy_gradients(int side) {
  QImage picture(side, side, QImage::Format_RGB888);
  uint32_t state = 0x9e3779b9u;
  for (int y = 0; y < side; ++y) noisy_gradient_row(side, y, state, picture.scanLine(y));
  return picture;
}

// The test file of a side, made on first use; an empty path with the reason when it could not be
// written. The 4096 x 4096 one is Qt's own encoding; the 16384 x 16384 one, which Qt would take
// minutes to encode, the strip encoder's at level 1, row by row (a decoder reads either alike).
struct StartupPicture {
  QTemporaryDir folder{QDir::tempPath() + QStringLiteral("/tarvo_bench_startup-XXXXXX")};
  QString path;
  std::string error;
  double megabytes = 0.0;

  explicit StartupPicture(int side) {
    if (!folder.isValid()) {
      error = "cannot make a temporary folder: " + folder.errorString().toStdString();
      return;
    }
    const QString file = folder.filePath(QStringLiteral("startup.png"));
    if (side <= 4096) {
      QImageWriter writer(file, "png");
      if (!writer.write(noisy_gradients(side))) {
        error = "cannot write " + file.toStdString() + ": " + writer.errorString().toStdString();
        return;
      }
    } else {
      uint32_t state = 0x9e3779b9u;
      PngEncodeOptions options;
      options.level = 1;
      const std::vector<uint8_t> bytes = encode_png(
          PngHeader{side, side, 8, 2},
          [&](int32_t y, uint8_t* out) { noisy_gradient_row(side, y, state, out); }, options,
          nullptr);
      QFile out(file);
      if (!out.open(QIODevice::WriteOnly) ||
          out.write(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size())) {
        error = "cannot write " + file.toStdString();
        return;
      }
    }
    path = file;
    megabytes = static_cast<double>(QFileInfo(file).size()) / 1e6;
  }
};

const StartupPicture& startup_picture(int side) {
  static std::map<int, std::unique_ptr<StartupPicture>> pictures;
  std::unique_ptr<StartupPicture>& picture = pictures[side];
  if (!picture) picture = std::make_unique<StartupPicture>(side);
  return *picture;
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
  // Qt refuses pictures above 128 MB by default; the program lifts that limit for what fits in
  // memory, and so does the baseline.
  QImageReader::setAllocationLimit(0);
  const auto start = std::chrono::steady_clock::now();
  QImageReader reader(path);
  const QImage picture = reader.read();
  benchmark::DoNotOptimize(picture.constBits());
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return picture.isNull() ? 0.0 : took.count();
}

void BM_StartupToFirstFrame(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  const StartupPicture& picture = startup_picture(side);
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
  const std::string size = std::to_string(side) + " x " + std::to_string(side);
  bench::record_summary_row("start-up, " + size + " PNG to first full frame (vs QImageReader)",
                            ours / runs * 1e3, baseline / runs * 1e3, "ms",
                            side <= 4096 ? "within 1.5x" : "within 1.3x");
}
BENCHMARK(BM_StartupToFirstFrame)
    ->Arg(4096)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
// Each side of an iteration takes seconds, and ours needs the memory of the canvas's planes.
BENCHMARK(BM_StartupToFirstFrame)
    ->Arg(16384)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvo
