#include "app/qt_command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tarvo {

std::optional<QSize> parse_size(const QString& text) {
  static const QRegularExpression pattern(QStringLiteral("^(\\d{1,6})[xX](\\d{1,6})$"));
  const QRegularExpressionMatch match = pattern.match(text.trimmed());
  if (!match.hasMatch()) return std::nullopt;
  const int w = match.captured(1).toInt(), h = match.captured(2).toInt();
  if (w < 1 || h < 1) return std::nullopt;
  return QSize(w, h);
}

bool needs_no_display(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--replay") == 0 || std::strncmp(a, "--replay=", 9) == 0) return true;
    if (std::strcmp(a, "--recover") == 0) return true;
    for (const char* info : {"--help", "-h", "-?", "--help-all", "--version", "-v"}) {
      if (std::strcmp(a, info) == 0) return true;
    }
  }
  return false;
}

namespace {

[[noreturn]] void usage_error(const QCommandLineParser& parser, const QString& message) {
  std::fprintf(stderr, "tarvo: %s\n\n%s", qPrintable(message), qPrintable(parser.helpText()));
  std::exit(2);
}

}  // namespace

CommandLine parse_command_line(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Tarvo 1.1 for Marlet - Spline based paint engine.\n"
                     "Paints on IMAGE (default untitled.png; a new white image when it does not "
                     "exist) and writes it back when the canvas closes."));
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("The image to paint on."),
                               QStringLiteral("[IMAGE]"));
  const QCommandLineOption paper(QStringLiteral("paper"),
                                 QStringLiteral("Paper texture image (used as luminance)."),
                                 QStringLiteral("FILE"));
  const QCommandLineOption wallpaper(QStringLiteral("wallpaper"),
                                     QStringLiteral("Wallpaper picture for the tools panel."),
                                     QStringLiteral("FILE"));
  const QCommandLineOption size(QStringLiteral("size"),
                                QStringLiteral("Size of a new image (default 1024x768)."),
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
      QStringLiteral("Write the painting that was not saved (from the recovery folder) to --out, "
                     "or to IMAGE, and end."));
  const QCommandLineOption out(
      QStringLiteral("out"),
      QStringLiteral("Write the replayed or recovered image here instead of IMAGE."),
      QStringLiteral("FILE"));
  const QCommandLineOption no_tablet(QStringLiteral("no-tablet"),
                                     QStringLiteral("Do not open the tablet; paint with the mouse."));
  const QCommandLineOption undo_memory(
      QStringLiteral("undo-memory"),
      QStringLiteral("Most memory the undo records may take, in MB (default: a quarter of the "
                     "machine's memory)."),
      QStringLiteral("MB"));
  parser.addOptions(
      {paper, wallpaper, size, replay, record, live, recover, out, no_tablet, undo_memory});
  parser.process(arguments);

  CommandLine line;
  const QStringList positional = parser.positionalArguments();
  if (positional.size() > 1) usage_error(parser, QStringLiteral("only one IMAGE may be given"));
  if (!positional.isEmpty()) line.image = positional.first();
  line.paper = parser.value(paper);
  line.wallpaper = parser.value(wallpaper);
  if (parser.isSet(size)) {
    const std::optional<QSize> parsed = parse_size(parser.value(size));
    if (!parsed) usage_error(parser, QStringLiteral("--size wants WxH, such as 1024x768"));
    line.new_image_size = *parsed;
  }
  line.replay = parser.value(replay);
  line.record = parser.value(record);
  line.out = parser.value(out);
  line.live = parser.isSet(live);
  line.recover = parser.isSet(recover);
  line.no_tablet = parser.isSet(no_tablet);
  if (parser.isSet(undo_memory)) {
    bool ok = false;
    const qulonglong mb = parser.value(undo_memory).toULongLong(&ok);
    if (!ok || mb == 0 || mb > (qulonglong{1} << 24)) {
      usage_error(parser, QStringLiteral("--undo-memory wants a number of megabytes, such as 2048"));
    }
    line.undo_memory_bytes = static_cast<std::size_t>(mb) << 20;
  }
  if (!line.out.isEmpty() && line.replay.isEmpty() && !line.recover) {
    usage_error(parser, QStringLiteral("--out only goes with --replay or --recover"));
  }
  if (line.live && line.replay.isEmpty()) {
    usage_error(parser, QStringLiteral("--live only goes with --replay"));
  }
  if (line.recover && !line.replay.isEmpty()) {
    usage_error(parser, QStringLiteral("--recover does not go with --replay"));
  }
  return line;
}

}  // namespace tarvo
