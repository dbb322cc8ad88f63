// Recovery copies: named after the image, holding every pixel, the autosave on its interval, and
// the notice of copies newer than the image.

#include <QTemporaryDir>
#include <QtTest>

#include "app/qt_recovery.h"

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
};

QTEST_MAIN(RecoveryTest)
#include "qt_recovery_test.moc"
