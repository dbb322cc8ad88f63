#include "app/qt_command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <cstdio>
#include <cstdlib>

#include "timelapse/frame_schedule.h"

namespace tarvo {

std::optional<QSize> parse_size(const QString& text) {
  static const QRegularExpression pattern(QStringLiteral("^(\\d{1,6})[xX](\\d{1,6})$"));
  const QRegularExpressionMatch match = pattern.match(text.trimmed());
  if (!match.hasMatch()) return std::nullopt;
  const int w = match.captured(1).toInt(), h = match.captured(2).toInt();
  if (w < 1 || h < 1) return std::nullopt;
  return QSize(w, h);
}

namespace {

// A usage error is one line naming the problem and where to read more, whatever else is wrong.
[[noreturn]] void usage_error(QString message) {
  if (message.endsWith(QLatin1Char('.'))) message.chop(1);
  std::fprintf(stderr, "tarvo: %s; see tarvo --help\n", qPrintable(message));
  std::exit(2);
}

const char* const kDescription =
    "Tarvo 1.1 for Marlet - Spline based paint engine.\n"
    "Paints on IMAGE (default untitled.png; a new white image when it does not exist) and writes "
    "it back when the canvas closes.\n\n"
    "What cannot be written, and everything painted since the last write, is kept in the recovery "
    "folder ($XDG_STATE_HOME/tarvo/recovery, by default ~/.local/state/tarvo/recovery) until it "
    "is written or recovered.\n\n"
    "Every session that writes IMAGE is kept in its history ($XDG_DATA_HOME/tarvo/history, by "
    "default ~/.local/share/tarvo/history): --history lists it, --timelapse makes a video of "
    "it.\n\n"
    "Exit status: 0 the image was written (or needed no writing); 1 an error ended the program or "
    "the image was not written (the painting is in the recovery folder); 2 a usage error or an "
    "unreadable event script (for --timelapse also an output it cannot write or an image without a "
    "history); 3 --recover found nothing to recover.";

struct HistoryOptions {
  const QCommandLineOption &history, &fps, &seconds, &hold, &survivors, &layer;
};

double seconds_value(const QCommandLineParser& parser, const QCommandLineOption& option,
                     double fallback) {
  if (!parser.isSet(option)) return fallback;
  bool ok = false;
  const double value = parser.value(option).toDouble(&ok);
  if (!ok) {
    usage_error(
        QStringLiteral("--%1 wants a number of seconds, such as 30").arg(option.names().first()));
  }
  return value;
}

void parse_history_options(const QCommandLineParser& parser, CommandLine& line,
                           const HistoryOptions& o) {
  line.history = parser.isSet(o.history);
  line.survivors = parser.isSet(o.survivors);
  line.layer = parser.value(o.layer);
  const bool video = !line.timelapse.isEmpty();
  for (const QCommandLineOption* option : {&o.fps, &o.seconds, &o.hold, &o.survivors}) {
    if (parser.isSet(*option) && !video) {
      usage_error(QStringLiteral("--%1 only goes with --timelapse").arg(option->names().first()));
    }
  }
  if (parser.isSet(o.layer) && !video && !line.history) {
    usage_error(QStringLiteral("--layer only goes with --history or --timelapse"));
  }
  if (line.history && video) usage_error(QStringLiteral("--history does not go with --timelapse"));
  const bool other = !line.record.isEmpty() || line.live || line.recover || !line.out.isEmpty();
  if ((line.history || video) && other) {
    usage_error(QStringLiteral("--%1 does not go with --record, --live, --recover or --out")
                    .arg(line.history ? QStringLiteral("history") : QStringLiteral("timelapse")));
  }
  if ((line.history || !line.layer.isEmpty()) && !line.replay.isEmpty()) {
    usage_error(QStringLiteral("--%1 does not go with --replay")
                    .arg(line.history ? QStringLiteral("history") : QStringLiteral("layer")));
  }
  if (parser.isSet(o.fps)) {
    bool ok = false;
    line.fps = parser.value(o.fps).toInt(&ok);
    if (!ok) usage_error(QStringLiteral("--fps wants a whole number of frames a second"));
  }
  line.seconds = seconds_value(parser, o.seconds, line.seconds);
  line.hold = seconds_value(parser, o.hold, line.hold);
  const std::string timing = timelapse_timing_error({line.fps, line.seconds, line.hold});
  if (video && !timing.empty()) usage_error(QString::fromStdString(timing));
}

}  // namespace

CommandLine parse_command_line(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromUtf8(kDescription));
  const QCommandLineOption help = parser.addHelpOption();
  const QCommandLineOption version = parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("The image to paint on."),
                               QStringLiteral("[IMAGE]"));
  const QCommandLineOption paper(QStringLiteral("paper"),
                                 QStringLiteral("Paper texture image (used as luminance)."),
                                 QStringLiteral("FILE"));
  const QCommandLineOption wallpaper(QStringLiteral("wallpaper"),
                                     QStringLiteral("Wallpaper picture for the tools panel."),
                                     QStringLiteral("FILE"));
  const QCommandLineOption size(
      QStringLiteral("size"),
      QStringLiteral("Size of a new image (default 1024x768); with --timelapse, the "
                     "box the video's frames fit in."),
      QStringLiteral("WxH"));
  const QCommandLineOption replay(QStringLiteral("replay"),
                                  QStringLiteral("Replay an event script without a display."),
                                  QStringLiteral("SCRIPT"));
  const QCommandLineOption record(QStringLiteral("record"),
                                  QStringLiteral("Record every input into an event script."),
                                  QStringLiteral("SCRIPT"));
  const QCommandLineOption live(
      QStringLiteral("live"),
      QStringLiteral("With --replay: take the script's inputs as a person's (journalled, guarded "
                     "against crashes) and keep the canvas open afterwards."));
  const QCommandLineOption recover(
      QStringLiteral("recover"),
      QStringLiteral("Write the painting that was not saved (from the recovery folder), as it "
                     "was, to --out, or to IMAGE unless IMAGE changed since it began, and end."));
  const QCommandLineOption onto_file(
      QStringLiteral("onto-file"),
      QStringLiteral("With --recover: paint the strokes of the painting that was not saved onto "
                     "IMAGE as it is now, instead of writing the painting as it was."));
  const QCommandLineOption out(
      QStringLiteral("out"),
      QStringLiteral("Write the replayed or recovered image here instead of IMAGE."),
      QStringLiteral("FILE"));
  const QCommandLineOption no_tablet(
      QStringLiteral("no-tablet"), QStringLiteral("Do not open the tablet; paint with the mouse."));
  const QCommandLineOption undo_memory(
      QStringLiteral("undo-memory"),
      QStringLiteral("Most memory the undo records may take, in MB (default: a quarter of the "
                     "machine's memory)."),
      QStringLiteral("MB"));
  const QCommandLineOption history(
      QStringLiteral("history"),
      QStringLiteral("List the sessions kept in IMAGE's history: when, how long, how many strokes, "
                     "whether recovered."));
  const QCommandLineOption timelapse(
      QStringLiteral("timelapse"),
      QStringLiteral("Make a time-lapse video of IMAGE's whole history (or of the --replay "
                     "script over IMAGE): .mp4 H.264, .webm VP9, .mkv lossless FFV1, or a folder "
                     "of PNG frames for a name ending in /. --size WxH then fits the frames "
                     "inside WxH."),
      QStringLiteral("OUT"));
  const QCommandLineOption fps(QStringLiteral("fps"),
                               QStringLiteral("With --timelapse: frames a second (default 30)."),
                               QStringLiteral("N"));
  const QCommandLineOption seconds(
      QStringLiteral("seconds"),
      QStringLiteral("With --timelapse: how long the painting takes in the video (default 30; "
                     "shorter with fewer strokes than frames: a frame a stroke)."),
      QStringLiteral("S"));
  const QCommandLineOption hold(
      QStringLiteral("hold"),
      QStringLiteral("With --timelapse: how long the finished painting stays (default 1)."),
      QStringLiteral("S"));
  const QCommandLineOption survivors(
      QStringLiteral("survivors"),
      QStringLiteral("With --timelapse: leave out the strokes that were later undone."));
  const QCommandLineOption layer(
      QStringLiteral("layer"),
      QStringLiteral("With --history or --timelapse: the history of the GIMP layer NAME of the "
                     "image file IMAGE."),
      QStringLiteral("NAME"));
  parser.addOptions({paper, wallpaper, size, replay, record, live, recover, onto_file, out,
                     no_tablet, undo_memory, history, timelapse, fps, seconds, hold, survivors,
                     layer});
  if (!parser.parse(arguments)) usage_error(parser.errorText());
  if (parser.isSet(help)) parser.showHelp(0);
  if (parser.isSet(version)) parser.showVersion();

  CommandLine line;
  const QStringList positional = parser.positionalArguments();
  if (positional.size() > 1) usage_error(QStringLiteral("only one IMAGE may be given"));
  if (!positional.isEmpty()) line.image = positional.first();
  line.paper = parser.value(paper);
  line.wallpaper = parser.value(wallpaper);
  line.timelapse = parser.value(timelapse);
  if (parser.isSet(size) && !line.timelapse.isEmpty()) {
    static const QRegularExpression box(QStringLiteral("^(\\d{1,6})[xX](\\d{1,6})$"));
    const QRegularExpressionMatch match = box.match(parser.value(size).trimmed());
    if (!match.hasMatch()) usage_error(QStringLiteral("--size wants WxH, such as 1920x1080"));
    line.video_size = QSize(match.captured(1).toInt(), match.captured(2).toInt());
  } else if (parser.isSet(size)) {
    const std::optional<QSize> parsed = parse_size(parser.value(size));
    if (!parsed) usage_error(QStringLiteral("--size wants WxH, such as 1024x768"));
    line.new_image_size = *parsed;
  }
  line.replay = parser.value(replay);
  line.record = parser.value(record);
  line.out = parser.value(out);
  line.live = parser.isSet(live);
  line.recover = parser.isSet(recover);
  line.onto_file = parser.isSet(onto_file);
  line.no_tablet = parser.isSet(no_tablet);
  if (parser.isSet(undo_memory)) {
    bool ok = false;
    const qulonglong mb = parser.value(undo_memory).toULongLong(&ok);
    if (!ok || mb == 0 || mb > (qulonglong{1} << 24)) {
      usage_error(QStringLiteral("--undo-memory wants a number of megabytes, such as 2048"));
    }
    line.undo_memory_bytes = static_cast<std::size_t>(mb) << 20;
  }
  if (!line.out.isEmpty() && line.replay.isEmpty() && !line.recover) {
    usage_error(QStringLiteral("--out only goes with --replay or --recover"));
  }
  if (line.live && line.replay.isEmpty()) {
    usage_error(QStringLiteral("--live only goes with --replay"));
  }
  if (line.onto_file && !line.recover) {
    usage_error(QStringLiteral("--onto-file only goes with --recover"));
  }
  if (line.recover && !line.replay.isEmpty()) {
    usage_error(QStringLiteral("--recover does not go with --replay"));
  }
  parse_history_options(parser, line, {history, fps, seconds, hold, survivors, layer});
  return line;
}

}  // namespace tarvo
