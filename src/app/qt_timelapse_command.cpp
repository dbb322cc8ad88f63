#include "app/qt_timelapse_command.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <csignal>
#include <cstdio>
#include <iostream>

#include "core/runtime_error.h"
#include "file/qt_file_host.h"
#include "history/qt_history_store.h"
#include "recovery/qt_recovery.h"
#include "timelapse/qt_replay_host.h"
#include "timelapse/qt_timelapse.h"
#include "timelapse/qt_timelapse_progress.h"
#include "timelapse/video_error.h"

namespace tarvo {

namespace {

// Set by SIGINT, SIGTERM or SIGHUP while a video is made: it stops as Cancel does.
volatile std::sig_atomic_t g_stop_asked = 0;

void ask_to_stop(int) {
  g_stop_asked = 1;
}

// "42 min 10 s", "1 h 5 min", "12 s".
QString duration_text(qint64 seconds) {
  if (seconds < 60) return QStringLiteral("%1 s").arg(seconds);
  if (seconds < 3600) return QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
  return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
}

QString image_name_of(const CommandLine& line) {
  const QString name = QFileInfo(line.image).fileName();
  return line.layer.isEmpty() ? name
                              : QStringLiteral("the layer \"%1\" of %2").arg(line.layer, name);
}

FrameSize last_size_of(const std::vector<TimelapsePiece>& pieces) {
  const HistoryImage& end = pieces.back().entry->end;
  return {end.size.width(), end.size.height()};
}

// One piece: the script replayed over the image file as the file host reads it.
std::vector<TimelapsePiece> script_pieces(const CommandLine& line, FrameSize& size) {
  TimelapsePiece piece;
  piece.events = read_script_file(line.replay.toStdString());
  FileHostOptions options;
  options.image_path = line.image;
  options.paper_path = line.paper;
  options.new_image_size = line.new_image_size;
  piece.make_host = [options]() -> std::unique_ptr<Host> {
    return std::make_unique<ReadOnlyHost>(std::make_unique<FileHost>(options));
  };
  piece.undo_bytes = line.undo_memory_bytes;
  const std::unique_ptr<Host> probe = piece.make_host();
  size = {probe->Wik_BufferWidth(), probe->Wik_BufferHeight()};
  std::vector<TimelapsePiece> pieces;
  pieces.push_back(std::move(piece));
  return pieces;
}

std::string written_text(const QString& out, const TimelapseResult& result, int fps) {
  return "the time-lapse " + out.toStdString() + ": " + std::to_string(result.frames) +
         " frames of " + std::to_string(result.size.width) + " x " +
         std::to_string(result.size.height) + ", " +
         QString::number(double(result.frames) / fps, 'f', 1).toStdString() + " s";
}

}  // namespace

QString history_key(const CommandLine& line) {
  if (line.layer.isEmpty()) return RecoveryStore::key_of_image(line.image);
  const QString file = QFileInfo(line.image).absoluteFilePath();
  return HistoryStore::layer_key(RecoveryStore::key_of_gimp_image(file), line.layer);
}

int list_history(const CommandLine& line) {
  const HistoryStore store(history_key(line));
  const std::vector<HistoryEntry> entries = store.entries();
  const QString name = image_name_of(line);
  if (entries.empty()) {
    std::printf("%s has no history: no session that wrote it is kept\n", qPrintable(name));
    return 0;
  }
  std::printf("The history of %s: %zu session%s, kept in %s\n", qPrintable(name), entries.size(),
              entries.size() == 1 ? "" : "s", qPrintable(store.folder()));
  int n = 0;
  for (const HistoryEntry& entry : entries) {
    const qint64 seconds = entry.started.isValid() && entry.ended.isValid()
                               ? std::max<qint64>(0, entry.started.secsTo(entry.ended))
                               : 0;
    std::printf("%4d  %s  for %-12s %6lld stroke%s  %dx%d%s\n", ++n,
                qPrintable(entry.started.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"))),
                qPrintable(duration_text(seconds)), static_cast<long long>(entry.strokes),
                entry.strokes == 1 ? " " : "s", entry.end.size.width(), entry.end.size.height(),
                entry.recovered ? "  recovered" : "");
  }
  return 0;
}

int make_timelapse(const CommandLine& line, bool dialog) {
  TimelapseOptions options;
  options.out = QFile::encodeName(line.timelapse).toStdString();
  options.timing = {line.fps, line.seconds, line.hold};
  if (line.video_size) {
    options.size = FrameSize{line.video_size->width(), line.video_size->height()};
  }
  options.survivors = line.survivors;
  std::vector<TimelapsePiece> pieces;
  try {
    if (!line.replay.isEmpty()) {
      pieces = script_pieces(line, options.image);
    } else {
      pieces = history_pieces(HistoryStore(history_key(line)), image_name_of(line));
      options.image = last_size_of(pieces);
    }
  } catch (const std::exception& error) {
    std::cerr << "tarvo: cannot make the time-lapse " << line.timelapse.toStdString() << ": "
              << error.what() << std::endl;
    return 2;
  }
  TimelapseProgressReport report(line.timelapse, dialog);
  TimelapseResult result;
  for (const int number : {SIGINT, SIGTERM, SIGHUP}) std::signal(number, ask_to_stop);
  try {
    result = render_timelapse(pieces, options, [&](int64_t done, int64_t total) {
      return report.update(done, total) && !g_stop_asked;
    });
  } catch (const VideoError& error) {
    std::cerr << "tarvo: " << error.what() << std::endl;
    return 2;
  } catch (const std::exception& error) {
    std::cerr << "tarvo: cannot make the time-lapse " << line.timelapse.toStdString() << ": "
              << error.what() << "; nothing was written" << std::endl;
    return 1;
  }
  if (!result.written) {
    std::cerr << "tarvo: the time-lapse was cancelled; nothing was written" << std::endl;
    return 1;
  }
  if (!result.note.empty()) std::cerr << "tarvo: " << result.note << std::endl;
  std::cerr << "tarvo: wrote " << written_text(line.timelapse, result, line.fps) << std::endl;
  return 0;
}

void make_timelapse_from_canvas(QWidget& canvas, const QString& key, const QString& image_name) {
  const QString title = QStringLiteral("Make time-lapse");
  std::vector<TimelapsePiece> pieces;
  try {
    pieces = history_pieces(HistoryStore(key), image_name);
  } catch (const std::exception& error) {
    QMessageBox::information(&canvas, title,
                             QString::fromStdString(error.what()) +
                                 QStringLiteral(". Send the image first: each session that writes "
                                                "it is kept in its history."));
    return;
  }
  const QString suggested = QDir::home().filePath(QFileInfo(image_name).completeBaseName() +
                                                  QStringLiteral("-timelapse.mp4"));
  const QString out = QFileDialog::getSaveFileName(
      &canvas, title, suggested,
      QStringLiteral("H.264 video (*.mp4);;VP9 video (*.webm);;Lossless video (*.mkv)"));
  if (out.isEmpty()) return;
  TimelapseOptions options;
  options.out = QFile::encodeName(out).toStdString();
  options.image = last_size_of(pieces);
  TimelapseProgressReport report(out, true, &canvas);
  try {
    const TimelapseResult result = render_timelapse(
        pieces, options, [&](int64_t done, int64_t total) { return report.update(done, total); });
    if (!result.written) return;
    QMessageBox::information(
        &canvas, title,
        QStringLiteral("Wrote ") +
            QString::fromStdString(written_text(out, result, options.timing.fps)) +
            QLatin1Char('.'));
  } catch (const std::exception& error) {
    QMessageBox::warning(
        &canvas, title,
        QString::fromStdString(error.what()) + QStringLiteral(". Nothing was written."));
  }
}

}  // namespace tarvo
