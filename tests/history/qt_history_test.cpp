// The painting history and its time-lapse from outside, as a user runs them: the real program
// paints sessions on a file (by replaying event scripts), another program changes the file in
// between, and the time-lapse made of the history is read back with ffprobe and ffmpeg.

#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QProcess>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/qt_timelapse_command.h"
#include "recovery/qt_recovery.h"

using namespace tarvo;

namespace {

struct Run {
  int status = -1;
  QString output;  // standard output
  QString errors;  // standard error
};

QByteArray stroke_lines(int x0, int y0, int dx, int dy) {
  QByteArray text = QStringLiteral("Form_MouseDown 1 0 %1 %2\n").arg(x0).arg(y0).toUtf8();
  for (int i = 1; i <= 6; ++i) {
    text += QStringLiteral("Form_MouseMove 1 0 %1 %2\n").arg(x0 + i * dx).arg(y0 + i * dy).toUtf8();
  }
  return text +
         QStringLiteral("Form_MouseUp 1 0 %1 %2\n").arg(x0 + 6 * dx).arg(y0 + 6 * dy).toUtf8();
}

// A picture as its packed RGB bytes, as ffmpeg decodes a frame to rgb24.
QByteArray rgb_of(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  QByteArray bytes;
  for (int y = 0; y < rgb.height(); ++y) {
    bytes.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), rgb.width() * 3);
  }
  return bytes;
}

class HistoryTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir scratch_;

  QString path(const QString& name) const { return scratch_.filePath(name); }

  Run run(const QString& program, const QStringList& arguments) const {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(scratch_.path());
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(240000)) {
      process.kill();
      result.errors = QStringLiteral("did not finish");
      return result;
    }
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
  }
  Run tarvo(const QStringList& arguments) const {
    return run(QStringLiteral(TARVO_EXECUTABLE), arguments);
  }

  void write_script(const QString& name, const QByteArray& text) const {
    QFile file(path(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
  }

  // ffprobe's value of a stream or format entry.
  QString probe(const QString& video, const QString& entry) const {
    const bool format = entry == QLatin1String("duration");
    const Run probed =
        run(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-count_frames"),
             QStringLiteral("-show_entries"),
             (format ? QStringLiteral("format=") : QStringLiteral("stream=")) + entry,
             QStringLiteral("-of"), QStringLiteral("default=nw=1:nk=1"), video});
    return probed.output.trimmed();
  }

  // Every frame of the video as packed RGB, each width x height x 3 bytes.
  QList<QByteArray> frames_of(const QString& video, QSize size) const {
    QProcess process;
    process.start(QStringLiteral("ffmpeg"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"), video,
                   QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
                   QStringLiteral("rgb24"), QStringLiteral("-")});
    process.waitForFinished(120000);
    const QByteArray bytes = process.readAllStandardOutput();
    const qsizetype frame = qsizetype{size.width()} * size.height() * 3;
    QList<QByteArray> frames;
    for (qsizetype at = 0; frame > 0 && at + frame <= bytes.size(); at += frame) {
      frames.push_back(bytes.mid(at, frame));
    }
    return frames;
  }

  QStringList history_files() const {
    QStringList files;
    QDirIterator it(path(QStringLiteral("data/tarvo/history")),
                    QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) files << it.next();
    return files;
  }

 private slots:
  void initTestCase() {
    QVERIFY(scratch_.isValid());
    if (QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty()) {
      QSKIP("ffprobe or ffmpeg missing (package ffmpeg)");
    }
  }

  // Two sessions on one file, the second after another program changed it: both are kept, the
  // second with the image it started from, and the lossless video's frames are the painting after
  // each stroke, ending with the file.
  void two_sessions_make_one_exact_video() {
    const QString picture = path(QStringLiteral("pic.png"));
    write_script(QStringLiteral("one.tvs"),
                 stroke_lines(10, 10, 8, 3) + stroke_lines(20, 60, 9, -2));
    write_script(QStringLiteral("two.tvs"),
                 stroke_lines(30, 90, 7, 1) + stroke_lines(100, 20, -5, 9));
    Run first = tarvo({picture, QStringLiteral("--size"), QStringLiteral("160x120"),
                       QStringLiteral("--replay"), path(QStringLiteral("one.tvs"))});
    QCOMPARE(first.status, 0);
    const QImage after_first(picture);
    QImage changed = after_first.convertToFormat(QImage::Format_RGB32);
    QPainter(&changed).fillRect(100, 80, 40, 30, QColor(200, 30, 40));
    QVERIFY(changed.save(picture));
    QCOMPARE(tarvo({picture, QStringLiteral("--replay"), path(QStringLiteral("two.tvs"))}).status,
             0);

    const Run listed = tarvo({picture, QStringLiteral("--history")});
    QCOMPARE(listed.status, 0);
    QVERIFY2(listed.output.contains(QStringLiteral("2 sessions")), qPrintable(listed.output));
    QCOMPARE(listed.output.count(QStringLiteral("2 strokes")), 2);
    // The second session's start is stored: the file had changed since the first one wrote it.
    QCOMPARE(history_files().filter(QStringLiteral("-start.png")).size(), 2);
    for (const QString& file : history_files()) {
      struct stat status {};
      QCOMPARE(::stat(QFile::encodeName(file).constData(), &status), 0);
      QCOMPARE(status.st_mode & 0777, S_ISDIR(status.st_mode) ? 0700u : 0600u);
    }

    const QString video = path(QStringLiteral("history.mkv"));
    const Run made = tarvo({picture, QStringLiteral("--timelapse"), video, QStringLiteral("--fps"),
                            QStringLiteral("10"), QStringLiteral("--hold"), QStringLiteral("0.5")});
    QVERIFY2(made.status == 0, qPrintable(made.errors));
    QVERIFY2(made.errors.contains(QStringLiteral("100% (9 of 9 frames)")), qPrintable(made.errors));
    // Fewer strokes than frames: a frame a stroke, then the hold of 5 frames at 10 a second.
    QCOMPARE(probe(video, QStringLiteral("nb_read_frames")), QStringLiteral("9"));
    QCOMPARE(probe(video, QStringLiteral("duration")).toDouble(), 0.9);
    const QList<QByteArray> frames = frames_of(video, QSize(160, 120));
    QCOMPARE(frames.size(), 9);
    QCOMPARE(frames[1], rgb_of(after_first));  // the first session's end
    QCOMPARE(frames.last(), rgb_of(QImage(picture)));
    // The frame after the second session's first stroke is a replay cut there, over the file as
    // the other program left it.
    write_script(QStringLiteral("cut.tvs"), stroke_lines(30, 90, 7, 1));
    QVERIFY(changed.save(path(QStringLiteral("changed.png"))));
    QCOMPARE(tarvo({path(QStringLiteral("changed.png")), QStringLiteral("--replay"),
                    path(QStringLiteral("cut.tvs")), QStringLiteral("--out"),
                    path(QStringLiteral("cut.png"))})
                 .status,
             0);
    QCOMPARE(frames[2], rgb_of(QImage(path(QStringLiteral("cut.png")))));
  }

  // "Options" > "Make time-lapse..." over the history the first test painted asks where to write
  // the video, then shows its progress with Cancel: a cancelled video leaves nothing, a finished
  // one is said to be written.
  void the_canvas_menu_asks_then_shows_progress() {
    qputenv("XDG_DATA_HOME", path(QStringLiteral("data")).toUtf8());
    const QString key = RecoveryStore::key_of_image(path(QStringLiteral("pic.png")));
    QWidget canvas;
    canvas.show();
    const QString out = path(QStringLiteral("menu.mkv"));
    bool cancel = true;
    QStringList seen;
    QTimer answer;
    answer.setInterval(0);
    connect(&answer, &QTimer::timeout, this, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (auto* files = qobject_cast<QFileDialog*>(modal)) {
        if (!seen.contains(QStringLiteral("files"))) seen << QStringLiteral("files");
        files->selectFile(out);
        QMetaObject::invokeMethod(files, "accept", Qt::QueuedConnection);
      } else if (auto* progress = qobject_cast<QProgressDialog*>(modal)) {
        if (!seen.contains(QStringLiteral("progress"))) seen << QStringLiteral("progress");
        if (cancel) progress->cancel();
      } else if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen << box->text();
        box->accept();
      }
    });
    answer.start();
    make_timelapse_from_canvas(canvas, key, QStringLiteral("pic.png"));
    QCOMPARE(seen, (QStringList{QStringLiteral("files"), QStringLiteral("progress")}));
    QVERIFY(!QFile::exists(out));
    cancel = false;
    seen.clear();
    make_timelapse_from_canvas(canvas, key, QStringLiteral("pic.png"));
    QCOMPARE(seen.size(), 3);
    QVERIFY2(seen.last().startsWith(QStringLiteral("Wrote the time-lapse ") + out),
             qPrintable(seen.last()));
    QCOMPARE(probe(out, QStringLiteral("nb_read_frames")), QStringLiteral("34"));
  }

  // --survivors leaves out a stroke that was undone: one frame fewer, none of them showing it,
  // and the same last frame.
  void survivors_leave_out_undone_strokes() {
    const QString picture = path(QStringLiteral("undo.png"));
    write_script(QStringLiteral("undo.tvs"),
                 stroke_lines(10, 10, 8, 3) + stroke_lines(10, 80, 9, -4) + "Form_KeyPress 117\n" +
                     stroke_lines(60, 20, 3, 9));
    write_script(QStringLiteral("kept.tvs"),
                 stroke_lines(10, 10, 8, 3) + stroke_lines(60, 20, 3, 9));
    const QString base = path(QStringLiteral("base.png"));
    QImage white(120, 100, QImage::Format_RGB32);
    white.fill(Qt::white);
    QVERIFY(white.save(base));
    const QString replay_out = path(QStringLiteral("replayed.png"));
    QCOMPARE(tarvo({base, QStringLiteral("--replay"), path(QStringLiteral("undo.tvs")),
                    QStringLiteral("--out"), replay_out})
                 .status,
             0);
    const QString all = path(QStringLiteral("all/")), kept = path(QStringLiteral("kept/"));
    QCOMPARE(
        tarvo({base, QStringLiteral("--replay"), path(QStringLiteral("undo.tvs")),
               QStringLiteral("--timelapse"), all, QStringLiteral("--hold"), QStringLiteral("0")})
            .status,
        0);
    QCOMPARE(tarvo({base, QStringLiteral("--replay"), path(QStringLiteral("undo.tvs")),
                    QStringLiteral("--timelapse"), kept, QStringLiteral("--hold"),
                    QStringLiteral("0"), QStringLiteral("--survivors")})
                 .status,
             0);
    const QStringList all_frames = QDir(all).entryList(QDir::Files, QDir::Name);
    const QStringList kept_frames = QDir(kept).entryList(QDir::Files, QDir::Name);
    QCOMPARE(all_frames.size(), 3);   // a frame a stroke
    QCOMPARE(kept_frames.size(), 2);  // the two that stayed
    const QByteArray final_image = rgb_of(QImage(replay_out));
    QCOMPARE(rgb_of(QImage(kept + kept_frames.last())), final_image);
    QCOMPARE(rgb_of(QImage(all + all_frames.last())), final_image);
    QCOMPARE(tarvo({base, QStringLiteral("--replay"), path(QStringLiteral("kept.tvs")),
                    QStringLiteral("--timelapse"), path(QStringLiteral("direct/"))})
                 .status,
             0);
    QCOMPARE(rgb_of(QImage(kept + kept_frames.first())),
             rgb_of(QImage(path(QStringLiteral("direct/frame_000001.png")))));
  }

  // An H.264 video of strokes enough for the frames asked: spread evenly, as long as asked, fitted
  // inside --size.
  void h264_video_lasts_as_asked() {
    QByteArray strokes;
    for (int i = 0; i < 7; ++i) strokes += stroke_lines(5 + 10 * i, 5 + 6 * i, 3, 2);
    write_script(QStringLiteral("seven.tvs"), strokes);
    const QString video = path(QStringLiteral("seven.mp4"));
    const Run made =
        tarvo({path(QStringLiteral("seven.png")), QStringLiteral("--size"), QStringLiteral("96x64"),
               QStringLiteral("--replay"), path(QStringLiteral("seven.tvs")),
               QStringLiteral("--timelapse"), video, QStringLiteral("--fps"), QStringLiteral("5"),
               QStringLiteral("--seconds"), QStringLiteral("1")});
    QVERIFY2(made.status == 0, qPrintable(made.errors));
    QCOMPARE(probe(video, QStringLiteral("codec_name")), QStringLiteral("h264"));
    QCOMPARE(probe(video, QStringLiteral("pix_fmt")), QStringLiteral("yuv420p"));
    QCOMPARE(probe(video, QStringLiteral("nb_read_frames")), QStringLiteral("10"));
    QCOMPARE(probe(video, QStringLiteral("duration")).toDouble(), 2.0);
    QCOMPARE(probe(video, QStringLiteral("width")), QStringLiteral("84"));  // 1024 x 768 fitted
    // The image file is not written by a script's time-lapse.
    QVERIFY(!QFile::exists(path(QStringLiteral("seven.png"))));
  }

  // A session killed before it wrote anything, recovered and written by the next run: the history
  // holds its strokes, marked recovered, and its video ends with the file.
  void a_recovered_painting_is_kept() {
    const QString picture = path(QStringLiteral("lost.png"));
    write_script(QStringLiteral("lost.tvs"),
                 stroke_lines(10, 10, 8, 3) + stroke_lines(20, 60, 9, -2));
    QProcess live;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
    live.setProcessEnvironment(environment);
    live.start(QStringLiteral(TARVO_EXECUTABLE),
               {picture, QStringLiteral("--size"), QStringLiteral("160x120"),
                QStringLiteral("--no-tablet"), QStringLiteral("--replay"),
                path(QStringLiteral("lost.tvs")), QStringLiteral("--live")});
    live.setReadChannel(QProcess::StandardError);
    QByteArray said;
    while (!said.contains("the canvas stays open") && live.waitForReadyRead(60000)) {
      said += live.readAllStandardError();
    }
    QTest::qWait(1500);  // a second and a stroke's end: the journal and the history are written
    live.kill();
    live.waitForFinished();
    QCOMPARE(tarvo({picture, QStringLiteral("--recover")}).status, 0);

    const Run listed = tarvo({picture, QStringLiteral("--history")});
    QVERIFY2(listed.output.contains(QStringLiteral("1 session")), qPrintable(listed.output));
    QVERIFY2(listed.output.contains(QStringLiteral("2 strokes")), qPrintable(listed.output));
    QVERIFY2(listed.output.contains(QStringLiteral("recovered")), qPrintable(listed.output));
    const QString video = path(QStringLiteral("lost.mkv"));
    QCOMPARE(tarvo({picture, QStringLiteral("--timelapse"), video}).status, 0);
    QCOMPARE(frames_of(video, QSize(160, 120)).last(), rgb_of(QImage(picture)));
  }

  // What cannot be made says so in one line, with status 2, and writes nothing.
  void failures_write_nothing() {
    write_script(QStringLiteral("dot.tvs"), stroke_lines(5, 5, 1, 1));
    const QString script = path(QStringLiteral("dot.tvs"));
    const QString image = path(QStringLiteral("dot.png"));
    const QStringList before = QDir(scratch_.path()).entryList(QDir::AllEntries | QDir::Hidden);
    const QList<QStringList> cases = {
        {image, QStringLiteral("--replay"), script, QStringLiteral("--timelapse"),
         path(QStringLiteral("paint.avi"))},
        {image, QStringLiteral("--replay"), script, QStringLiteral("--timelapse"),
         path(QStringLiteral("missing/paint.mp4"))},
        {image, QStringLiteral("--replay"), script, QStringLiteral("--timelapse"),
         path(QStringLiteral("paint.mp4")), QStringLiteral("--size"), QStringLiteral("0x0")},
        {path(QStringLiteral("never.png")), QStringLiteral("--timelapse"),
         path(QStringLiteral("paint.mp4"))},
        {image, QStringLiteral("--replay"), script, QStringLiteral("--timelapse"),
         path(QStringLiteral("paint.mp4")), QStringLiteral("--fps"), QStringLiteral("0")},
    };
    for (const QStringList& arguments : cases) {
      const Run refused = tarvo(arguments);
      QCOMPARE(refused.status, 2);
      const QStringList lines = refused.errors.split(QLatin1Char('\n'), Qt::SkipEmptyParts)
                                    .filter(QRegularExpression(QStringLiteral("^tarvo: ")));
      QVERIFY2(lines.size() == 1, qPrintable(refused.errors));
    }
    QCOMPARE(QDir(scratch_.path()).entryList(QDir::AllEntries | QDir::Hidden), before);
  }

  // Past its size limit the history drops the sessions of the paintings painted longest ago, then
  // the oldest of the painting being painted, and says so; none is kept when it is turned off.
  void the_size_limit_drops_the_oldest_first() {
    QVERIFY(QDir().mkpath(path(QStringLiteral("config/tarvo"))));
    const QString settings = path(QStringLiteral("config/tarvo/tarvo.ini"));
    QFile ini(settings);
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[history]\nsize_limit_mb=0\n");
    ini.close();
    write_script(QStringLiteral("a.tvs"), stroke_lines(10, 10, 8, 3));
    const QString newer = path(QStringLiteral("newer.png"));
    const Run first = tarvo({newer, QStringLiteral("--replay"), path(QStringLiteral("a.tvs"))});
    QVERIFY2(first.errors.contains(QStringLiteral("over its limit of 0 MB: dropped the")),
             qPrintable(first.errors));
    QVERIFY(tarvo({path(QStringLiteral("pic.png")), QStringLiteral("--history")})
                .output.contains(QStringLiteral("has no history")));
    QCOMPARE(tarvo({newer, QStringLiteral("--replay"), path(QStringLiteral("a.tvs"))}).status, 0);
    QVERIFY(
        tarvo({newer, QStringLiteral("--history")}).output.contains(QStringLiteral("1 session")));

    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[history]\nkeep=false\n");
    ini.close();
    QCOMPARE(tarvo({path(QStringLiteral("off.png")), QStringLiteral("--replay"),
                    path(QStringLiteral("a.tvs"))})
                 .status,
             0);
    QVERIFY(tarvo({path(QStringLiteral("off.png")), QStringLiteral("--history")})
                .output.contains(QStringLiteral("has no history")));
  }
};

}  // namespace

QTEST_MAIN(HistoryTest)
#include "qt_history_test.moc"
