// Recovery copies: named after the image, holding every pixel, the autosave on its interval, and
// the notice of copies newer than the image; the store private to the user, and what each session
// kept offered newest first until it is taken or discarded.

#include "recovery/qt_recovery.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>
#include <iostream>
#include <sstream>

#include "file/plane_snapshot.h"
#include "file/qt_image_file.h"
#include "recovery/qt_crash_copy.h"
#include "recovery/qt_journal.h"
#include "recovery/qt_recovery_plan.h"
#include "recovery/qt_recovery_question.h"

using namespace tarvo;

namespace {

CanvasBuffers painted(int32_t w, int32_t h) {
  CanvasBuffers c;
  allocate_planes(c, w, h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      c.RBuffer(x, y) = static_cast<uint8_t>(x * 9);
      c.GBuffer(x, y) = static_cast<uint8_t>(y * 5);
      c.BBuffer(x, y) = static_cast<uint8_t>(x ^ y);
    }
  return c;
}

JournalStart snapshot_start(const CanvasBuffers& c) {
  JournalStart start;
  start.planes = copy_planes(c.RBuffer, c.GBuffer, c.BBuffer);
  start.prelude = {"HProp1 5"};
  return start;
}

// The same over the image file it was read from.
JournalStart image_file_start(const CanvasBuffers& c, const QString& image) {
  JournalStart start = snapshot_start(c);
  start.base = JournalBase{JournalBase::Kind::ImageFile, image};
  return start;
}

mode_t mode_of(const QString& path) {
  struct stat status {};
  ::stat(QFile::encodeName(path).constData(), &status);
  return status.st_mode & 07777;
}

// A file that another run of the program kept: named for its session, painted days ago.
QString kept_file(const QString& name, int days_ago) {
  make_private_folder(RecoveryStore::directory());
  const QString path = RecoveryStore::directory() + QLatin1Char('/') + name;
  QImage(3, 3, QImage::Format_RGB888).save(path, "png");
  QFile file(path);
  file.open(QIODevice::Append);
  file.setFileTime(QDateTime::currentDateTime().addDays(-days_ago),
                   QFileDevice::FileModificationTime);
  return path;
}

// Standard error while it lives.
struct CapturedErrors {
  std::ostringstream text;
  std::streambuf* old = std::cerr.rdbuf(text.rdbuf());
  ~CapturedErrors() { std::cerr.rdbuf(old); }
};

}  // namespace

class RecoveryTest : public QObject {
  Q_OBJECT

  QTemporaryDir scratch_;

 private slots:
  void initTestCase() {
    qputenv("XDG_STATE_HOME", scratch_.filePath(QStringLiteral("state")).toUtf8());
  }

  void aCopyHoldsEveryPixelAndNeverTouchesTheImage() {
    const QString image = scratch_.filePath(QStringLiteral("art.png"));
    const CanvasBuffers c = painted(13, 7);
    RecoveryStore store(image);
    const QString path = store.write_copy(c);
    QVERIFY(path.startsWith(RecoveryStore::directory()));
    QVERIFY(QFileInfo(path).fileName().startsWith(QStringLiteral("art-")));
    QVERIFY(!QFileInfo::exists(image));
    const QImage copy = QImage(path).convertToFormat(QImage::Format_RGB888);
    QCOMPARE(copy.size(), QSize(13, 7));
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 13; ++x)
        QCOMPARE(copy.pixel(x, y), qRgb(c.RBuffer(x, y), c.GBuffer(x, y), c.BBuffer(x, y)));
    QVERIFY(store.newer_copies().contains(path));
  }

  void autosaveWaitsForItsIntervalAndANormalCloseRemovesIt() {
    auto now = std::chrono::steady_clock::time_point{};
    RecoveryStore store(scratch_.filePath(QStringLiteral("sketch.png")), [&] { return now; });
    const CanvasBuffers c = painted(8, 8);
    now += std::chrono::seconds(119);
    QVERIFY(!store.after_commit(c));
    now += std::chrono::seconds(1);
    QVERIFY(store.after_commit(c));
    store.finish_autosave();
    const QString first = store.autosave_path();
    QVERIFY(QFileInfo::exists(first));
    QVERIFY(!store.after_commit(c));  // the interval starts again
    now += std::chrono::seconds(300);
    QVERIFY(store.after_commit(c));
    store.finish_autosave();
    QVERIFY(!QFileInfo::exists(first));  // the newer autosave replaces the older
    QVERIFY(QFileInfo::exists(store.autosave_path()));
    const QString last = store.autosave_path();
    store.remove_autosave();
    QVERIFY(!QFileInfo::exists(last));
  }

  // However many ways keep the painting (GIMP quitting, a failed send, the close), a session keeps
  // one copy of it: the same planes are not written again, and a newer copy or autosave replaces
  // the older.
  void aSessionKeepsOneCopyOfItsPainting() {
    auto now = std::chrono::steady_clock::time_point{};
    RecoveryStore store(QStringLiteral("once-1234"), QString(), [&] { return now; });
    const auto pictures = [&] {
      QStringList found = store.session_files(store.session());
      return found.filter(QStringLiteral(".png"));
    };
    CanvasBuffers c = painted(5, 5);
    const QString first = store.write_copy(c);
    QCOMPARE(store.write_copy(c), first);
    QCOMPARE(pictures(), QStringList{first});
    c.RBuffer(2, 2) ^= 0xff;
    const QString second = store.write_copy(c);
    QVERIFY(second != first);
    QCOMPARE(pictures(), QStringList{second});
    now += RecoveryStore::kAutosaveInterval;
    QVERIFY(store.after_commit(c));
    store.finish_autosave();
    QCOMPARE(pictures(), QStringList{store.autosave_path()});
    const QString last = store.write_copy(c);
    QCOMPARE(pictures(), QStringList{last});
    QCOMPARE(QImage(last).convertToFormat(QImage::Format_RGB888).pixel(2, 2),
             qRgb(c.RBuffer(2, 2), c.GBuffer(2, 2), c.BBuffer(2, 2)));
    store.retire_session();
  }

  // Times are the local time, without a zone name that would read as another time.
  void timesAreShownInLocalTime() {
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Asia/Kolkata");
    ::tzset();
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    const QString shown = when(QDateTime(QDate(2026, 12, 10), QTime(19, 27, 30), QTimeZone::utc()));
    QLocale::setDefault(QLocale::system());
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
    ::tzset();
    QVERIFY2(shown.contains(QLatin1String("11 December 2026")) &&
                 shown.contains(QLatin1String("00:57:30")) && !shown.contains(QLatin1String("UTC")),
             qPrintable(shown));
  }

  // A GIMP painting is offered on its own layer, and on another only when the image no longer has
  // its layer (renamed or deleted), its question naming the image and the layer.
  void aLayersPaintingIsOfferedOnThatLayerOrWhenItsLayerIsGone() {
    const QString image_key = QStringLiteral("art-gimp-0badf00d");
    const auto keep = [&](const QString& layer) {
      RecoveryStore store(RecoveryStore::key_of_layer(image_key, layer), QString());
      SessionJournal journal(store.new_path(QStringLiteral("-journal.tvs")));
      JournalStart start = snapshot_start(painted(4, 4));
      start.header = {"layer " + layer.toStdString()};
      journal.restart(std::move(start));
      journal.record(Verb::Form_MouseDown, {1, 0, 1, 1});
      journal.record(Verb::Form_MouseUp, {1, 0, 2, 2});
      journal.flush();
      return journal.path();
    };
    keep(QStringLiteral("Paint"));
    keep(QStringLiteral("Ink"));
    const QString gone = keep(QStringLiteral("Old sketch"));
    CapturedErrors said;
    const std::vector<RecoveryPlan> offered = find_layer_recoveries(
        image_key, QStringLiteral("art.xcf"), QStringLiteral("Paint"), [](const QString& name) {
          return name == QLatin1String("Paint") || name == QLatin1String("Ink");
        });
    QCOMPARE(offered.size(), std::size_t{2});
    const RecoveryPlan& own = offered[0].other_layer ? offered[1] : offered[0];
    const RecoveryPlan& other = offered[0].other_layer ? offered[0] : offered[1];
    QCOMPARE(own.layer, QStringLiteral("Paint"));
    QVERIFY(!own.other_layer);
    QCOMPARE(other.source, gone);
    QVERIFY(kept_in(other).contains(QLatin1String("on the layer \"Old sketch\" of art.xcf")));
    QVERIFY2(said.text.str().find("the layer \"Ink\" of art.xcf") != std::string::npos,
             said.text.str().c_str());
    for (const RecoveryPlan& plan : offered) discard_recovery(plan);
  }

  // Above 2048 x 2048 a forked child keeps and encodes the planes: what it writes must be the
  // painting as it was at the commit, whatever the canvas does afterwards, and a close while it
  // writes must leave nothing behind.
  void aLargeAutosaveIsThePaintingAtItsCommitAndACloseStopsIt() {
    auto now = std::chrono::steady_clock::time_point{};
    RecoveryStore store(scratch_.filePath(QStringLiteral("poster.png")), [&] { return now; });
    CanvasBuffers c = painted(2100, 2050);
    now += std::chrono::seconds(120);
    QVERIFY(store.after_commit(c));
    const CanvasBuffers at_commit = painted(2100, 2050);
    c.RBuffer(5, 5) = static_cast<uint8_t>(~c.RBuffer(5, 5));  // painted while it is written
    store.finish_autosave();
    const QImage saved = QImage(store.autosave_path()).convertToFormat(QImage::Format_RGB888);
    QCOMPARE(saved.size(), QSize(2100, 2050));
    for (int y = 0; y < 2050; y += 7)
      for (int x = 0; x < 2100; x += 3)
        QCOMPARE(saved.pixel(x, y),
                 qRgb(at_commit.RBuffer(x, y), at_commit.GBuffer(x, y), at_commit.BBuffer(x, y)));
    QCOMPARE(saved.pixel(5, 5),
             qRgb(at_commit.RBuffer(5, 5), at_commit.GBuffer(5, 5), at_commit.BBuffer(5, 5)));

    now += std::chrono::seconds(300);
    QVERIFY(store.after_commit(c));
    store.remove_autosave();  // at once, while the child encodes
    const QStringList left =
        QDir(RecoveryStore::directory())
            .entryList({QStringLiteral("poster-*")}, QDir::Files | QDir::Hidden);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char(' '))));
  }

  void copiesOlderThanTheImageAreNotReported() {
    const QString image = scratch_.filePath(QStringLiteral("old.png"));
    RecoveryStore store(image);
    store.write_copy(painted(4, 4));
    QTest::qWait(20);
    QImage(4, 4, QImage::Format_RGB32).save(image);
    QVERIFY(store.newer_copies().isEmpty());
  }

  void aJournalCutMidLineRecoversEveryWholeInputBeforeTheCut() {
    RecoveryStore store(QStringLiteral("cut-1234"), QString());
    const CanvasBuffers c = painted(6, 5);
    QString path;
    {
      SessionJournal journal(store.new_path(QStringLiteral("-journal.tvs")));
      path = journal.path();
      journal.restart(snapshot_start(c));
      journal.record(Verb::Form_MouseDown, {1, 0, 1.5, 2});
      journal.record(Verb::Form_MouseMove, {1, 0, 3.25, 2});
      journal.record(Verb::Form_MouseUp, {1, 0, 4, 4});
      journal.flush();
      // A running program's journal is not offered.
      QVERIFY(find_recovery(store).empty());
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    file.write("Form_MouseMove 1 0 12");  // the program died in the middle of this line
    file.close();

    const RecoveryPlan plan = find_recovery(store);
    QCOMPARE(plan.source, path);
    QCOMPARE(plan.events.size(), std::size_t{4});  // the prelude's line and the three whole inputs
    QCOMPARE(format_event(plan.events.back()), std::string("Form_MouseUp 1 0 4 4"));
    const HostImage base = read_image_file(plan.open_path, ImageLimits{}).image;
    QVERIFY(base.red.columns() == 7 && base.red.rows() == 6);
    QCOMPARE(base.green(5, 4), c.GBuffer(5, 4));
    QCOMPARE(base.blue(5, 4), c.BBuffer(5, 4));

    // A replay of it that ended the program is not tried again.
    QFile(path + QStringLiteral(".replaying")).open(QIODevice::WriteOnly);
    const RecoveryPlan after_crash = find_recovery(store);
    QVERIFY(after_crash.events.empty());
    QVERIFY(after_crash.notice.contains(QStringLiteral("ended the program")));
  }

  // A journal's snapshot is the planes as they lie, which recovery opens as a picture; one damaged
  // on disk is refused, and an older journal's PNG snapshot, named by its SHA-1, still replays.
  void snapshotsOfEitherFormReplayAndADamagedOneIsRefused() {
    const CanvasBuffers c = painted(6, 5);
    RecoveryStore store(QStringLiteral("forms-1234"), QString());
    QString path;
    {
      SessionJournal journal(store.new_path(QStringLiteral("-journal.tvs")));
      path = journal.path();
      journal.restart(snapshot_start(c));
      journal.record(Verb::Form_MouseDown, {1, 0, 1.5, 2});
      journal.flush();
    }
    // A snapshot the journal does not name (its restart did not live to name it) goes as the
    // store is read, unless its writer still holds it.
    const QString unnamed = path.chopped(4) + QStringLiteral("-base-2.tvp");
    const QString writing = path.chopped(4) + QStringLiteral("-base-3.tvp");
    for (const QString& file : {unnamed, writing}) QVERIFY(QFile(file).open(QIODevice::WriteOnly));
    const int held = ::open(QFile::encodeName(writing).constData(), O_RDONLY);
    QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
    const QString snapshot = find_recovery(store).open_path;
    QVERIFY(!QFileInfo::exists(unnamed) && QFileInfo::exists(writing));
    ::close(held);
    QVERIFY2(snapshot.endsWith(QLatin1String("-journal-base-1.tvp")), qPrintable(snapshot));
    const HostImage read = read_image_file(snapshot, ImageLimits{}).image;
    QCOMPARE(read.red(4, 3), c.RBuffer(4, 3));

    QFile damaged(snapshot);
    QVERIFY(damaged.open(QIODevice::ReadWrite));
    damaged.seek(40);
    const char byte = damaged.peek(1).at(0);
    damaged.write(QByteArray(1, static_cast<char>(byte ^ 1)));
    damaged.close();
    QVERIFY(find_recovery(store).open_path.isEmpty());

    QFile::remove(snapshot);
    const QString png = path.left(path.size() - 4) + QStringLiteral("-base-1.png");
    QVERIFY(picture_of(c.RBuffer, c.GBuffer, c.BBuffer).save(png, "png"));
    QFile journal(path);
    QVERIFY(journal.open(QIODevice::ReadOnly));
    QStringList lines = QString::fromUtf8(journal.readAll()).split(QLatin1Char('\n'));
    journal.close();
    for (QString& line : lines) {
      if (line.startsWith(QLatin1String("#@ base snapshot "))) {
        line = QStringLiteral("#@ base snapshot %1 %2").arg(png, checksum_of_file(png).toHex());
      }
    }
    QVERIFY(journal.open(QIODevice::WriteOnly | QIODevice::Truncate));
    journal.write(lines.join(QLatin1Char('\n')).toUtf8());
    journal.close();
    const RecoveryPlan old = find_recovery(store);
    QCOMPARE(old.open_path, png);
    QCOMPARE(old.events.size(), std::size_t{3});  // the prelude, the press and its release
  }

  void aLargeBaseStillBeingWrittenTakesInputsAndIsReplayedOnceWhole() {
    // Planes large enough for a child to keep them, written slowly: the journal is named and
    // takes the stroke while its base is still being written.
    const CanvasBuffers c = painted(2100, 2100);
    RecoveryStore store(QStringLiteral("large-1234"), QString());
    bool full = false;
    const auto slow = [&full](int fd, const void* data, std::size_t size) -> ssize_t {
      if (size < (std::size_t{1} << 20)) return ::write(fd, data, size);  // the journal's lines
      ::usleep(150'000);
      if (!full) return ::write(fd, data, size);
      errno = ENOSPC;
      return -1;
    };
    CapturedErrors errors;
    SessionJournal journal(store.new_path(QStringLiteral("-journal.tvs")), slow);
    const auto start_over_kept_planes = [&] {
      JournalStart start;
      journal.keep_planes(start, c.RBuffer, c.GBuffer, c.BBuffer);
      QVERIFY(start.kept != nullptr);
      start.prelude = {"HProp1 5"};
      journal.restart(std::move(start));
    };
    start_over_kept_planes();
    journal.record(Verb::Form_MouseDown, {1, 0, 1.5, 2});
    journal.sync_soon();
    const auto inputs_on_disk = [&] {
      return QFileInfo::exists(journal.path()) ? read_journal(journal.path()).inputs.size() : 0;
    };
    QTRY_COMPARE_WITH_TIMEOUT(inputs_on_disk(), std::size_t{1}, 5000);
    const QString snapshot = journal.path().chopped(4) + QStringLiteral("-base-1.tvp");
    const int fd = ::open(QFile::encodeName(snapshot).constData(), O_RDONLY);
    QVERIFY(fd >= 0);
    QCOMPARE(::flock(fd, LOCK_SH | LOCK_NB), -1);  // the child still writes it
    ::close(fd);
    // A reader waits for the base to be whole.
    const JournalContents contents = read_journal(journal.path());
    QCOMPARE(contents.base_path, snapshot);
    QCOMPARE(QString::fromStdString(plane_snapshot_checksum(snapshot.toStdString())),
             contents.base_sha1);
    QCOMPARE(read_image_file(snapshot, ImageLimits{}).image.blue(2099, 7), c.BBuffer(2099, 7));

    // A base that fails once named leaves no journal that cannot be replayed.
    full = true;
    start_over_kept_planes();
    journal.flush();
    QVERIFY(!QFileInfo::exists(journal.path()));
    QVERIFY(errors.text.str().find("cannot write its base") != std::string::npos);
  }

  void aFullDiskIsReportedOnceAndTheJournalResumesAtItsNextStart() {
    RecoveryStore store(QStringLiteral("full-1234"), QString());
    bool full = false;
    const CanvasBuffers c = painted(4, 4);
    CapturedErrors errors;
    SessionJournal journal(store.new_path(QStringLiteral("-journal.tvs")),
                           [&](int fd, const void* data, std::size_t size) -> ssize_t {
                             if (!full) return ::write(fd, data, size);
                             errno = ENOSPC;
                             return -1;
                           });
    journal.restart(snapshot_start(c));
    journal.flush();
    QVERIFY(journal.ok());
    full = true;
    for (int i = 0; i < 3; ++i) {
      journal.record(Verb::Form_MouseMove, {1, 0, double(i), 1});
      journal.flush();
      journal.restart(snapshot_start(c));
      journal.flush();
    }
    QVERIFY(!journal.ok());
    const std::string said = errors.text.str();
    QVERIFY(said.find("No space left on device") != std::string::npos);
    QCOMPARE(said.find("session journal"), said.rfind("session journal"));  // once
    full = false;
    journal.restart(snapshot_start(c));
    journal.record(Verb::Form_MouseUp, {1, 0, 2, 2});
    journal.flush();
    QVERIFY(journal.ok());
    QCOMPARE(read_journal(journal.path()).inputs.size(), std::size_t{1});
  }

  void everyFileAndFolderOfTheStoreIsPrivateWhateverTheUmask() {
    const QByteArray state = qgetenv("XDG_STATE_HOME");
    const QString fresh = scratch_.filePath(QStringLiteral("fresh-state"));
    qputenv("XDG_STATE_HOME", fresh.toUtf8());
    const mode_t umask_before = ::umask(0);
    {
      auto now = std::chrono::steady_clock::time_point{};
      RecoveryStore store(scratch_.filePath(QStringLiteral("open.png")), [&] { return now; });
      const CanvasBuffers c = painted(4, 4);
      store.write_copy(c);
      now += RecoveryStore::kAutosaveInterval;
      QVERIFY(store.after_commit(c));
      store.finish_autosave();
      SessionJournal journal(store.new_path(QStringLiteral("-journal.tvs")));
      journal.restart(snapshot_start(c));
      journal.flush();
      CapturedErrors said;
      CrashCopy crash(c, store.new_path(QStringLiteral("-crash.ppm")));
      QVERIFY(crash.write_now());
    }
    ::umask(umask_before);
    const QString folder = RecoveryStore::directory();
    qputenv("XDG_STATE_HOME", state);
    for (const QString& made : {fresh, fresh + QStringLiteral("/tarvo"), folder}) {
      QCOMPARE(mode_of(made), mode_t{0700});
    }
    const QStringList files = QDir(folder).entryList(QDir::Files);
    QCOMPARE(files.size(), 4);  // the autosave (replacing the copy), journal and base, crash copy
    for (const QString& file : files) {
      QVERIFY2(mode_of(folder + QLatin1Char('/') + file) == 0600, qPrintable(file));
    }
  }

  // Each run that did not end normally keeps one painting, offered newest first with when each was
  // painted; Discard removes all that run kept, No keeps it. A journal over what the host held,
  // with no input since, holds nothing to recover and goes.
  void keptPaintingsAreOfferedOneARunNewestFirstUntilDiscarded() {
    RecoveryStore store(QStringLiteral("kept-1234"), QString());
    const QString older =
        kept_file(QStringLiteral("kept-1234-20200101-000000-000-autosave.png"), 3);
    const QString older_crash =
        kept_file(QStringLiteral("kept-1234-20200101-000000-000-crash.ppm"), 2);
    const QString newer = kept_file(QStringLiteral("kept-1234-20210101-000000-000.png"), 1);
    const QString empty_journal =
        RecoveryStore::directory() + QStringLiteral("/kept-1234-20220101-000000-000-journal.tvs");
    {
      SessionJournal journal(empty_journal);
      JournalStart start = snapshot_start(painted(3, 3));
      start.held_by_host = true;
      journal.restart(std::move(start));
      journal.flush();
    }
    const std::vector<RecoveryPlan> kept = find_recoveries(store);
    QVERIFY(!QFileInfo::exists(empty_journal));
    QCOMPARE(kept.size(), std::size_t{2});
    QCOMPARE(kept[0].source, newer);
    QCOMPARE(kept[1].source, older_crash);
    QCOMPARE(kept[1].files, QStringList({older_crash, older}));

    // The newest is discarded, the older one kept, answered by keys as a person does.
    QStringList asked;
    int answer = 0;
    QTimer keys;
    connect(&keys, &QTimer::timeout, this, [&] {
      QMessageBox* box = nullptr;
      for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && qobject_cast<QMessageBox*>(widget))
          box = static_cast<QMessageBox*>(widget);
      }
      if (!box || box->property("answered").toBool()) return;
      box->activateWindow();
      if (QApplication::activeWindow() != box) return;
      box->setProperty("answered", true);
      asked << box->informativeText();
      if (answer++ == 0) {
        QTest::keyClick(box, Qt::Key_D, Qt::AltModifier);
      } else {
        QTest::keyClick(box, Qt::Key_Escape);
      }
    });
    keys.start(20);
    CapturedErrors said;
    QVERIFY(choose_recovery(kept).empty());
    QCOMPARE(asked.size(), 2);
    const QString newest_time = when(kept[0].painted_at);
    const QString older_time = when(kept[1].painted_at);
    QVERIFY2(asked[0].contains(newest_time + QStringLiteral(" (this one)")) &&
                 asked[0].contains(older_time) &&
                 asked[0].indexOf(newest_time) < asked[0].lastIndexOf(older_time),
             qPrintable(asked[0]));
    QVERIFY(!QFileInfo::exists(newer));
    QVERIFY(QFileInfo::exists(older) && QFileInfo::exists(older_crash));
    QCOMPARE(find_recovery(store).source, older_crash);
  }

  // A journal over an image file keeps its own copy of it: once another program writes the file,
  // the question says so and offers the painting as it was (over the copy, its host holding the
  // file as it was) or its inputs painted onto the file as it is now.
  void aFileVouchedForIsCopiedAndNamedAtOnceAndOneThatChangedGivesWayToASnapshot() {
    const QString image = scratch_.filePath(QStringLiteral("vouched.png"));
    const CanvasBuffers c = painted(6, 4);
    QVERIFY(picture_of(c.RBuffer, c.GBuffer, c.BBuffer).save(image, "png"));
    const std::string read_sha1 = checksum_of_file(image).toHex().toStdString();
    RecoveryStore store(image);
    for (const bool changed : {false, true}) {
      // Another program writes over the file after the host read it.
      if (changed) QVERIFY(QImage(6, 4, QImage::Format_RGB888).save(image, "png"));
      SessionJournal journal(store.new_path(QStringLiteral("-journal.tvs")));
      JournalStart start = image_file_start(c, image);
      start.planes_file_sha1 = read_sha1;
      journal.restart(std::move(start));
      journal.record(Verb::Form_MouseDown, {1, 0, 2, 2});
      journal.sync_soon();
      journal.record(Verb::Form_MouseUp, {1, 0, 3, 2});
      journal.flush();
      const JournalContents contents = read_journal(journal.path());
      QCOMPARE(contents.base_kind, changed ? QStringLiteral("snapshot") : QStringLiteral("image"));
      QCOMPARE(contents.inputs.size(), std::size_t{2});  // each once, whenever the check came
      const QString base = changed ? contents.base_path : contents.base_copy;
      QCOMPARE(QFileInfo(base).fileName(), QFileInfo(journal.path()).completeBaseName() +
                                               (changed ? "-base-2.tvp" : "-base-1.png"));
      QCOMPARE(read_image_file(base, ImageLimits{}).image.green(5, 3), c.GBuffer(5, 3));
      QVERIFY(!QFileInfo::exists(journal.path().chopped(4) + "-base-1.png") || !changed);
      journal.remove_files();
    }
  }

  void aPaintingOverAChangedFileIsOfferedAsItWasOrOntoTheFile() {
    const QString image = scratch_.filePath(QStringLiteral("changed.png"));
    const CanvasBuffers c = painted(6, 4);
    QVERIFY(picture_of(c.RBuffer, c.GBuffer, c.BBuffer).save(image, "png"));
    const ImageIdentity then{QFileInfo(image).size(),
                             checksum_of_file(image).toHex().toStdString()};
    RecoveryStore store(image);
    {
      SessionJournal journal(store.new_path(QStringLiteral("-journal.tvs")));
      JournalStart start = image_file_start(c, image);
      start.held_by_host = true;
      journal.restart(std::move(start));
      journal.record(Verb::Form_MouseDown, {1, 0, 2, 2});
      journal.record(Verb::Form_MouseUp, {1, 0, 3, 2});
      journal.flush();
    }
    QVERIFY(QImage(2, 2, QImage::Format_RGB888).save(image, "png"));

    const std::vector<RecoveryPlan> kept = find_recoveries(store);
    QCOMPARE(kept.size(), std::size_t{1});
    const RecoveryPlan& plan = kept.front();
    QVERIFY(plan.image_changed);
    QVERIFY2(plan.open_path.endsWith(QLatin1String("-journal-base-1.png")),
             qPrintable(plan.open_path));
    QCOMPARE(plan.events.size(), std::size_t{3});
    QVERIFY(plan.image_held() && plan.image_held()->sha1 == then.sha1 &&
            plan.image_held()->size == then.size);

    QString asked;
    QTimer keys;
    connect(&keys, &QTimer::timeout, this, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !asked.isEmpty()) return;
      box->activateWindow();
      if (QApplication::activeWindow() != box) return;
      asked = box->informativeText();
      QTest::keyClick(box, Qt::Key_P, Qt::AltModifier);
    });
    keys.start(20);
    const RecoveryPlan onto = choose_recovery(kept);
    QVERIFY2(asked.startsWith(QStringLiteral("changed.png was changed after this painting")),
             qPrintable(asked));
    QVERIFY(asked.contains(QStringLiteral("Paint onto the File")));
    QCOMPARE(QFileInfo(onto.open_path), QFileInfo(image));
    QCOMPARE(onto.events.size(), std::size_t{3});
    QVERIFY(!onto.image_held());
    discard_recovery(plan);
  }
};

QTEST_MAIN(RecoveryTest)
#include "qt_recovery_test.moc"
