// Event scripts end to end: the real program replays scripts offscreen and writes the image; a
// session recorded from live input replays to the same pixels; the recorded 30-second session
// paints what it painted when its checksum was taken.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/qt_application.h"
#include "app/startup.h"
#include "canvas/qt_form1.h"
#include "core/program.h"
#include "file/qt_file_host.h"
#include "script/event_script.h"
#include "script/qt_script_recorder.h"
#include "script/session_converter.h"

using namespace tarvo;

namespace {

struct Run {
  int status = -1;
  QString errors;
};

// Runs the built program offscreen and waits for it to end.
// Runs the program offscreen, or, with no_display, as on a machine without any display.
Run run_tarvo_process(const QStringList& arguments, bool no_display = false) {
  QProcess process;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  if (no_display) {
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
      environment.remove(QString::fromLatin1(name));
    }
  } else {
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  }
  process.setProcessEnvironment(environment);
  process.start(QStringLiteral(TARVO_EXECUTABLE), arguments);
  Run run;
  if (!process.waitForFinished(240000) || process.exitStatus() != QProcess::NormalExit) {
    run.errors = QStringLiteral("tarvo did not finish: ") + process.errorString();
    process.kill();
    return run;
  }
  run.status = process.exitCode();
  run.errors = QString::fromLocal8Bit(process.readAllStandardError());
  return run;
}

void write_text(const QString& path, const QByteArray& text) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(text);
}

QByteArray file_bytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The red, green and blue bytes of every pixel, row by row.
QByteArray rgb_bytes(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  QByteArray bytes;
  for (int y = 0; y < rgb.height(); ++y) {
    bytes.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
  }
  return bytes;
}

uint64_t fnv1a_64(const QByteArray& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (const char byte : bytes) {
    hash ^= static_cast<uint8_t>(byte);
    hash *= 1099511628211ull;
  }
  return hash;
}

// The first line of a reference file that is not a comment.
QByteArray reference_value(const QString& path) {
  for (const QByteArray& line : file_bytes(path).split('\n')) {
    if (!line.trimmed().isEmpty() && !line.startsWith('#')) return line.trimmed();
  }
  return QByteArray();
}

int dark_pixels(const QImage& image) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) count += qGray(image.pixel(x, y)) < 128;
  return count;
}

// A canvas started in this process on a file host, whose input comes as Qt events.
struct LiveCanvas {
  Program program;
  std::unique_ptr<Form1> form;

  explicit LiveCanvas(const FileHostOptions& options) {
    HostRegistry registry;
    register_file_host(registry, options);
    Main(program, registry, [this](Program& p) -> CanvasWindow& {
      form = std::make_unique<Form1>(p);
      form->set_tablet_allowed(false);
      return *form;
    });
  }

  void mouse(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons held,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* area = form->canvas_area();
    QMouseEvent event(type, at, area->mapToGlobal(at), button, held, modifiers);
    QApplication::sendEvent(area, &event);
  }
  void key(QEvent::Type type, int key, Qt::KeyboardModifiers modifiers, const QString& text) {
    QKeyEvent event(type, key, modifiers, text);
    QApplication::sendEvent(form->canvas_area(), &event);
  }
  // A wavy drag with fractional positions, as a fast hand gives them.
  void stroke(QPointF from, int moves, double dx, double wave) {
    mouse(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    QPointF at = from;
    for (int i = 1; i <= moves; ++i) {
      at = from + QPointF(dx * i, wave * std::sin(i * 0.7) + 0.37 * i);
      mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton);
    }
    mouse(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
  }
};

}  // namespace

class ReplayTest : public QObject {
  Q_OBJECT

 private slots:
  void replayPaintsAndWritesToOut() {
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("stroke.tvs"));
    write_text(script,
               "# one stroke across a small new image\n"
               "Form_MouseDown 1 0 8 20\n"
               "Form_MouseMove 1 0 16.5 21\n"
               "Form_MouseMove 1 0 24.25 22\n"
               "Form_MouseMove 1 0 32 23.5\n"
               "Form_MouseMove 1 0 40 24\n"
               "Form_MouseMove 1 0 48 25\n"
               "Form_MouseUp 1 0 48 25\n");
    const QString image = dir.filePath(QStringLiteral("new.png"));
    const QString out = dir.filePath(QStringLiteral("out.png"));
    const Run run =
        run_tarvo_process({image, QStringLiteral("--size"), QStringLiteral("64x48"),
                           QStringLiteral("--replay"), script, QStringLiteral("--out"), out});
    QVERIFY2(run.status == 0, qPrintable(run.errors));
    const QImage painted(out);
    QCOMPARE(painted.size(), QSize(64, 48));
    QVERIFY(dark_pixels(painted) > 20);
    QCOMPARE(painted.pixel(32, 5), qRgb(255, 255, 255));
    QCOMPARE(painted.pixel(60, 45), qRgb(255, 255, 255));
    QVERIFY2(!QFile::exists(image), "--out must leave the image file alone");
  }

  void aBadLineWritesNothing() {
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("kept.png"));
    QImage original(32, 24, QImage::Format_RGB32);
    original.fill(qRgb(10, 200, 30));
    QVERIFY(original.save(image));
    const QByteArray before = file_bytes(image);
    const QString script = dir.filePath(QStringLiteral("bad.tvs"));
    write_text(script,
               "Form_MouseDown 1 0 2 2\nForm_MouseMove 1 0 9 9\nForm_MouseMove 1 0 12 y\n"
               "Form_MouseUp 1 0 12 12\n");
    for (const bool with_out : {true, false}) {
      QStringList arguments{image, QStringLiteral("--replay"), script};
      const QString out = dir.filePath(QStringLiteral("out.png"));
      if (with_out) arguments << QStringLiteral("--out") << out;
      const Run run = run_tarvo_process(arguments);
      QCOMPARE(run.status, 2);
      QVERIFY2(run.errors.contains(script + QStringLiteral(":3: expected y of Form_MouseMove")),
               qPrintable(run.errors));
      QVERIFY(!QFile::exists(out));
      QVERIFY(!QFile::exists(image + QLatin1Char('~')));
      QCOMPARE(file_bytes(image), before);
    }
  }

  // Every usage error is one line naming it, with or without a display, and status 2; the help
  // names the exit statuses and the recovery folder.
  void usageErrorsAreOneLineWithStatus2() {
    for (const QStringList& arguments :
         {QStringList{QStringLiteral("--bogus")},
          QStringList{QStringLiteral("a.png"), QStringLiteral("b.png")},
          QStringList{QStringLiteral("--size"), QStringLiteral("big")}}) {
      const Run run = run_tarvo_process(arguments, true);
      QCOMPARE(run.status, 2);
      // Qt may add a word of its own about the environment; the program says one line.
      QStringList said = run.errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
      said.removeIf(
          [](const QString& line) { return line.startsWith(QStringLiteral("QStandardPaths")); });
      QCOMPARE(said.size(), 1);
      QVERIFY2(said[0].startsWith(QStringLiteral("tarvo: ")) &&
                   said[0].endsWith(QStringLiteral("; see tarvo --help")),
               qPrintable(run.errors));
    }
    QProcess help;
    help.start(QStringLiteral(TARVO_EXECUTABLE), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(60000));
    QCOMPARE(help.exitCode(), 0);
    const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
    QVERIFY2(
        text.contains(QStringLiteral("Exit status")) && text.contains(QStringLiteral("recovery")),
        qPrintable(text));
  }

  void aRecordingThatCannotBeCreatedEndsBeforeTheWindow() {
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("never.png"));
    const QString script = dir.filePath(QStringLiteral("empty.tvs"));
    write_text(script, "# nothing\n");
    const QString record = dir.filePath(QStringLiteral("no/such/dir/rec.tvs"));
    const Run run = run_tarvo_process(
        {image, QStringLiteral("--replay"), script, QStringLiteral("--record"), record});
    QCOMPARE(run.status, 2);
    QVERIFY2(run.errors.contains(record + QStringLiteral(": cannot create the event script")),
             qPrintable(run.errors));
    QVERIFY(!QFile::exists(image));
  }

  // The close sequence carries on past a failed write-back, as it must for the user; the replay
  // still reports it and fails.
  void aWriteThatFailsFailsTheReplay() {
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("close.tvs"));
    write_text(script, "Form_Unload\n");
    const QString out = dir.filePath(QStringLiteral("taken"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("taken")));  // a folder where the image would go
    const Run run =
        run_tarvo_process({dir.filePath(QStringLiteral("new.png")), QStringLiteral("--replay"),
                           script, QStringLiteral("--out"), out});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.errors.contains(QStringLiteral("tarvo: the image was not written: ")),
             qPrintable(run.errors));
    QVERIFY(run.errors.contains(out));
  }

  // Live input recorded in this process, replayed by the program on the same starting image.
  void aRecordedSessionReplaysBitForBit() {
    QTemporaryDir dir;
    FileHostOptions options;
    options.image_path = dir.filePath(QStringLiteral("live.png"));
    options.new_image_size = QSize(120, 90);
    const QString recording = dir.filePath(QStringLiteral("live.tvs"));
    {
      LiveCanvas live(options);
      ScriptRecorder recorder(recording);
      recorder.attach(*live.form);
      live.stroke(QPointF(10.25, 20.5), 30, 3.1, 6.0);
      live.stroke(QPointF(15.75, 60.125), 25, 3.7, 9.0);
      live.key(QEvent::KeyPress, Qt::Key_U, Qt::NoModifier, QStringLiteral("u"));  // undo it
      live.key(QEvent::KeyRelease, Qt::Key_U, Qt::NoModifier, QStringLiteral("u"));
      live.key(QEvent::KeyPress, Qt::Key_Equal, Qt::ControlModifier, QStringLiteral("="));
      live.key(QEvent::KeyRelease, Qt::Key_Equal, Qt::ControlModifier, QStringLiteral("="));
      live.form->resize(live.form->width() + 17, live.form->height() + 9);
      live.stroke(QPointF(30.5, 40.5), 20, 2.3, 4.0);  // at zoom 1.25
      QVERIFY(live.form->close());
    }
    const QString recorded = QString::fromUtf8(file_bytes(recording));
    QVERIFY(
        recorded.startsWith(QStringLiteral("# Tarvo " TARVO_VERSION " event script, recorded ")));
    QVERIFY(
        recorded.contains(QStringLiteral("\nForm_Resize 120 90\nForm_MouseDown 1 0 10.25 20.5\n")));
    QVERIFY(recorded.contains(QStringLiteral("\nForm_KeyPress 117\n")));
    QVERIFY(recorded.contains(QStringLiteral("\nForm_KeyUp 187 2\n")));
    QVERIFY(recorded.contains(QStringLiteral("\nForm_Resize 137 99\n")));
    QVERIFY(recorded.endsWith(QStringLiteral("\nForm_Unload\n")));

    const QImage live_image(options.image_path);
    QVERIFY(dark_pixels(live_image) > 100);
    const QString replayed = dir.filePath(QStringLiteral("replayed.png"));
    const Run run =
        run_tarvo_process({dir.filePath(QStringLiteral("fresh.png")), QStringLiteral("--size"),
                           QStringLiteral("120x90"), QStringLiteral("--replay"), recording,
                           QStringLiteral("--out"), replayed});
    QVERIFY2(run.status == 0, qPrintable(run.errors));
    QVERIFY(rgb_bytes(QImage(replayed)) == rgb_bytes(live_image));
  }

  void theRecordedPaintingSessionMatchesItsChecksum() {
    const std::string session = TARVO_SHARED_DATA_DIR "/painting30sec.dat";
    if (!std::filesystem::exists(session)) {
      QSKIP(qPrintable(QStringLiteral("shared test data missing: ") +
                       QString::fromStdString(session)));
    }
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("painting30sec.tvs"));
    {
      std::ofstream out(script.toStdString());
      write_script(out, session_to_pointer_events(read_session_file(session)),
                   "painting30sec.dat as pointer events");
    }
    const QString painted = dir.filePath(QStringLiteral("painted.png"));
    const Run run =
        run_tarvo_process({dir.filePath(QStringLiteral("white.png")), QStringLiteral("--size"),
                           QStringLiteral("1024x1024"), QStringLiteral("--no-tablet"),
                           QStringLiteral("--replay"), script, QStringLiteral("--out"), painted});
    QVERIFY2(run.status == 0, qPrintable(run.errors));
    const QImage image(painted);
    QCOMPARE(image.size(), QSize(1024, 1024));
    const QString actual =
        QStringLiteral("%1").arg(fnv1a_64(rgb_bytes(image)), 16, 16, QLatin1Char('0'));
    const QByteArray reference =
        reference_value(QStringLiteral(TARVO_TEST_DATA_DIR "/painting30sec_replay.fnv1a64"));
    if (actual.toLatin1() != reference) dir.setAutoRemove(false);
    QVERIFY2(actual.toLatin1() == reference,
             qPrintable(QStringLiteral("FNV-1a 64 of the replayed pixels is %1, the reference %2; "
                                       "if the strokes were meant to change, look at %3 and keep "
                                       "the new value")
                            .arg(actual, QString::fromLatin1(reference), painted)));
  }
};

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TarvoApplication app(argc, argv);
  app.set_interactive(false);
  ReplayTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "qt_replay_test.moc"
