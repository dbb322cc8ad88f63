// The slider widget: values from code and from the user, its Change event, and input routing.

#include "panel/qt_hprop.h"

#include <QtTest>

using namespace tarvo;

namespace {

void send_move(QWidget* w, QPointF pos, Qt::MouseButtons held) {
  QMouseEvent e(QEvent::MouseMove, pos, w->mapToGlobal(pos), Qt::NoButton, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

void send_wheel(QWidget* w, int delta) {
  const QPointF at(10, 9);
  QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                Qt::NoScrollPhase, false);
  QApplication::sendEvent(w, &e);
}

struct Slider {
  HProp s;
  explicit Slider(int16_t min = 1, int16_t max = 255) {
    s.resize(80, 18);
    s.set_min(min);
    s.set_max(max);
    s.show();
  }
};

}  // namespace

class HPropTest : public QObject {
  Q_OBJECT

 private slots:
  void theControlDefaults() {
    HProp s;
    QCOMPARE(s.min(), 0);
    QCOMPARE(s.max(), 100);
    QCOMPARE(s.value(), 0);
  }

  void codeValuesRoundHalvesToEvenAndRaiseChangeOncePerChange() {
    Slider t;
    QSignalSpy change(&t.s, &HProp::Change);
    t.s.set_value(127.5);
    QCOMPARE(t.s.value(), 128);
    t.s.set_value(126.5);
    QCOMPARE(t.s.value(), 126);
    t.s.set_value(126.4);  // the same whole number: no change
    QCOMPARE(change.count(), 2);
  }

  void codeValuesOutsideTheRangeAreKept() {
    Slider t;
    t.s.set_value(0);
    QCOMPARE(t.s.value(), 0);
    t.s.set_value(300);
    QCOMPARE(t.s.value(), 300);
  }

  void aPressJumpsToThePointerAndADragFollows() {
    Slider t(1, 32);
    QSignalSpy change(&t.s, &HProp::Change);
    QTest::mousePress(&t.s, Qt::LeftButton, Qt::NoModifier, QPoint(78, 9));
    QCOMPARE(t.s.value(), 32);
    send_move(&t.s, QPointF(1, 9), Qt::LeftButton);
    QCOMPARE(t.s.value(), 1);
    send_move(&t.s, QPointF(-40, 9), Qt::LeftButton);  // held at the end
    QCOMPARE(t.s.value(), 1);
    send_move(&t.s, QPointF(40, 9), Qt::NoButton);  // a free pointer does nothing
    QCOMPARE(t.s.value(), 1);
    QTest::mouseRelease(&t.s, Qt::LeftButton, Qt::NoModifier, QPoint(1, 9));
    QCOMPARE(change.count(), 2);
  }

  void theWheelStepsOnePerNotch() {
    Slider t;
    t.s.set_value(100);
    send_wheel(&t.s, 120);
    QCOMPARE(t.s.value(), 101);
    send_wheel(&t.s, -240);
    QCOMPARE(t.s.value(), 99);
    send_wheel(&t.s, 60);
    QCOMPARE(t.s.value(), 99);
    send_wheel(&t.s, 60);  // two half notches make one
    QCOMPARE(t.s.value(), 100);
  }

  void arrowPageAndEndKeys() {
    Slider t;
    t.s.set_value(100);
    QTest::keyClick(&t.s, Qt::Key_Right);
    QCOMPARE(t.s.value(), 101);
    QTest::keyClick(&t.s, Qt::Key_Down);
    QTest::keyClick(&t.s, Qt::Key_Left);
    QCOMPARE(t.s.value(), 99);
    QTest::keyClick(&t.s, Qt::Key_PageUp);
    QCOMPARE(t.s.value(), 124);  // a tenth of 1..255
    QTest::keyClick(&t.s, Qt::Key_End);
    QCOMPARE(t.s.value(), 255);
    QTest::keyClick(&t.s, Qt::Key_Up);
    QCOMPARE(t.s.value(), 255);
    QTest::keyClick(&t.s, Qt::Key_Home);
    QCOMPARE(t.s.value(), 1);
  }

  void theUsersInputStaysWithinTheRange() {
    Slider t;
    t.s.set_value(0);  // from code, below the minimum
    QTest::keyClick(&t.s, Qt::Key_Left);
    QCOMPARE(t.s.value(), 1);
  }

  void anInputHandlerDecidesWhatTheUsersInputDoes() {
    Slider t;
    QList<int> asked;
    t.s.set_input_handler([&](int16_t v) { asked << v; });
    t.s.set_value(10);
    QTest::keyClick(&t.s, Qt::Key_Right);
    QCOMPARE(asked, QList<int>{11});
    QCOMPARE(t.s.value(), 10);
    t.s.set_input_handler([&](int16_t v) { t.s.set_value(v * 2); });
    QTest::keyClick(&t.s, Qt::Key_Right);
    QCOMPARE(t.s.value(), 22);
  }
};

QTEST_MAIN(HPropTest)
#include "qt_hprop_test.moc"
