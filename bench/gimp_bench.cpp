// The GIMP host's exchange with GIMP, a 4096 x 4096 and a 16384 x 16384 RGB layer: the fetch up to
// the canvas's first frame beside GIMP's own read of the same pixels (gegl_buffer_get), and a
// whole-image write-back beside GIMP's own write of them (gegl_buffer_set into the shadow buffer,
// merged as one undo step).
//
// Both sides run in the same plug-in process inside a real gimp-console-2.10 or gimp-console-3.0
// (the benchmark's arguments: 2 or 3, and the layer's side), started once with a temporary profile
// holding the benchmark plug-in (tarvo-gimp-bench) built for that GIMP, which fills a new layer
// with plasma and times six iterations of each side (two for the large layer), each side reading
// first in half of them; the figures are the medians.
// The benchmark skips, saying why, where that GIMP or its plug-in is missing.

#include <benchmark/benchmark.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <string>
#include <vector>

#include "summary.h"

namespace tarvo {
namespace {

// Even: each side reads first as often. A large layer takes two, its pages being the cost.
int iterations_for(int side) {
  return side > 4096 ? 2 : 6;
}

struct GimpFigures {
  std::string error;
  // Medians over the iterations, in milliseconds: a fresh page that the system is slow to provide
  // now and then (it may compact memory for a huge page first) spikes one iteration of either side.
  double fetch = 0, read = 0, send = 0, write = 0;
};

// How one GIMP version is run: its console program, profile variable, the benchmark plug-in built
// for it, and how its Script-Fu makes a layer and calls an image procedure.
struct GimpVersion {
  const char* console;
  const char* profile_variable;
  const char* plugin;  // null where it is not built
  const char* scheme;  // %1 the layer's side, %2 the output, %3 the iterations
  QStringList batch(const QString& scheme) const {
    if (QLatin1String(console) == QLatin1String("gimp-console-3.0")) {
      return {"-i", "-d",  "-f", "--quit", "--batch-interpreter=plug-in-script-fu-eval",
              "-b", scheme};
    }
    return {"-i", "-d", "-f", "-b", scheme, "-b", "(gimp-quit 0)"};
  }
};

GimpVersion gimp_version(int version) {
  if (version == 3) {
    return {"gimp-console-3.0", "GIMP3_DIRECTORY",
#ifdef TARVO_GIMP3_BENCH_PLUGIN
            TARVO_GIMP3_BENCH_PLUGIN,
#else
            nullptr,
#endif
            "(let* ((image (car (gimp-image-new %1 %1 RGB)))"
            "       (layer (car (gimp-layer-new image \"bench\" %1 %1 RGB-IMAGE 100 "
            "LAYER-MODE-NORMAL))))"
            " (gimp-image-insert-layer image layer 0 0)"
            " (gimp-drawable-merge-new-filter layer \"gegl:plasma\" 0 LAYER-MODE-REPLACE 1.0"
            "  \"seed\" 7 \"turbulence\" 2.0)"
            " (plug-in-tarvo-bench RUN-NONINTERACTIVE image (vector layer) \"%2\" %3))"};
  }
  return {"gimp-console-2.10", "GIMP2_DIRECTORY",
#ifdef TARVO_GIMP_BENCH_PLUGIN
          TARVO_GIMP_BENCH_PLUGIN,
#else
          nullptr,
#endif
          "(let* ((image (car (gimp-image-new %1 %1 RGB)))"
          "       (layer (car (gimp-layer-new image %1 %1 RGB-IMAGE \"bench\" 100 "
          "LAYER-MODE-NORMAL))))"
          " (gimp-image-insert-layer image layer 0 0)"
          " (plug-in-plasma RUN-NONINTERACTIVE image layer 7 2.0)"
          " (plug-in-tarvo-bench RUN-NONINTERACTIVE image layer \"%2\" %3))"};
}

GimpFigures run_in_gimp(const GimpVersion& version, int side) {
  GimpFigures figures;
  if (!version.plugin) {
    figures.error = std::string("the plug-in for ") + version.console + " is not built";
    return figures;
  }
  const QString gimp = QStandardPaths::findExecutable(QString::fromLatin1(version.console));
  if (gimp.isEmpty()) {
    figures.error = std::string(version.console) + " is not installed";
    return figures;
  }
  QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/tarvo_bench_gimp-XXXXXX"));
  const QString plug_ins = dir.filePath(QStringLiteral("profile/plug-ins/tarvo-gimp-bench"));
  QDir().mkpath(plug_ins);
  QFile::copy(QString::fromLatin1(version.plugin), plug_ins + QStringLiteral("/tarvo-gimp-bench"));
  const QString output = dir.filePath(QStringLiteral("figures.txt"));
  const QString scheme =
      QString::fromLatin1(version.scheme).arg(side).arg(output).arg(iterations_for(side));
  QProcess run;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QString::fromLatin1(version.profile_variable),
                     dir.filePath(QStringLiteral("profile")));
  run.setProcessEnvironment(environment);
  run.setProcessChannelMode(QProcess::MergedChannels);
  run.start(gimp, version.batch(scheme));
  if (!run.waitForFinished(600000)) {
    figures.error = "GIMP did not finish the benchmark";
    return figures;
  }
  QFile file(output);
  if (!file.open(QIODevice::ReadOnly)) {
    figures.error = "the benchmark plug-in wrote no figures: " + run.readAll().toStdString();
    return figures;
  }
  QTextStream lines(&file);
  std::vector<double> fetch, read, send, write;
  while (!lines.atEnd()) {
    const QStringList words = lines.readLine().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.size() != 4 || words[0] == QLatin1String("error")) {
      figures.error = "the benchmark plug-in failed: " + words.join(QLatin1Char(' ')).toStdString();
      return figures;
    }
    fetch.push_back(words[0].toDouble());
    read.push_back(words[1].toDouble());
    send.push_back(words[2].toDouble());
    write.push_back(words[3].toDouble());
  }
  if (fetch.empty()) {
    figures.error = "the benchmark plug-in wrote no figures";
    return figures;
  }
  figures.fetch = bench::median(fetch);
  figures.read = bench::median(read);
  figures.send = bench::median(send);
  figures.write = bench::median(write);
  return figures;
}

void BM_GimpExchange(benchmark::State& state) {
  const int version = static_cast<int>(state.range(0));
  const int side = static_cast<int>(state.range(1));
  GimpFigures figures;
  for (auto _ : state) {
    figures = run_in_gimp(gimp_version(version), side);
    if (!figures.error.empty()) {
      state.SkipWithError(("skipped: " + figures.error).c_str());
      return;
    }
    state.SetIterationTime(figures.fetch / 1e3);
  }
  state.counters["fetch_ms"] = figures.fetch;
  state.counters["gegl_get_ms"] = figures.read;
  state.counters["x_gegl_get"] = figures.fetch / figures.read;
  state.counters["send_ms"] = figures.send;
  state.counters["gegl_set_ms"] = figures.write;
  state.counters["x_gegl_set"] = figures.send / figures.write;
  const std::string gimp = version == 3 ? "GIMP 3" : "GIMP 2.10";
  const std::string layer = std::to_string(side) + " x " + std::to_string(side) + " layer";
  bench::record_summary_row(gimp + ": fetch " + layer + " to first frame (vs gegl_buffer_get)",
                            figures.fetch, figures.read, "ms", "within 1.3x");
  bench::record_summary_row(gimp + ": " + layer + " write-back (vs gegl_buffer_set + merge)",
                            figures.send, figures.write, "ms", "within 1.5x");
}
BENCHMARK(BM_GimpExchange)
    ->ArgNames({"gimp", "side"})
    ->Args({2, 4096})
    ->Args({3, 4096})
    ->Args({2, 16384})
    ->Args({3, 16384})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tarvo
