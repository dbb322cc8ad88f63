// Recovery copies: named after the image, holding every pixel, the autosave on its interval, and
// the notice of copies newer than the image.

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <iostream>
#include <sstream>

#include "recovery/qt_journal.h"
#include "recovery/qt_recovery.h"
#include "recovery/qt_recovery_plan.h"

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
  void initTestCase() { qputenv("XDG_STATE_HOME", scratch_.filePath(QStringLiteral("state")).toUtf8()); }

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
      journal.record("Form_MouseDown", {1, 0, 1.5, 2});
      journal.record("Form_MouseMove", {1, 0, 3.25, 2});
      journal.record("Form_MouseUp", {1, 0, 4, 4});
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
    const QImage base = QImage(plan.open_path).convertToFormat(QImage::Format_RGB888);
    QCOMPARE(base.pixel(5, 4), qRgb(c.RBuffer(5, 4), c.GBuffer(5, 4), c.BBuffer(5, 4)));

    // A replay of it that ended the program is not tried again.
    QFile(path + QStringLiteral(".replaying")).open(QIODevice::WriteOnly);
    const RecoveryPlan after_crash = find_recovery(store);
    QVERIFY(after_crash.events.empty());
    QVERIFY(after_crash.notice.contains(QStringLiteral("ended the program")));
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
      journal.record("Form_MouseMove", {1, 0, double(i), 1});
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
    journal.record("Form_MouseUp", {1, 0, 2, 2});
    journal.flush();
    QVERIFY(journal.ok());
    QCOMPARE(read_journal(journal.path()).inputs.size(), std::size_t{1});
  }
};

QTEST_MAIN(RecoveryTest)
#include "qt_recovery_test.moc"
