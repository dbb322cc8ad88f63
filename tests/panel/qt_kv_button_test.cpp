// The button widget: event order, when it clicks, how it shows pressed, and its properties by name.

#include "panel/qt_kv_button.h"

#include <QtTest>

using namespace tarvo;

namespace {

void send_move(QWidget* w, QPointF pos, Qt::MouseButtons held) {
  QMouseEvent e(QEvent::MouseMove, pos, w->mapToGlobal(pos), Qt::NoButton, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

struct EventLog {
  QStringList events;
  void watch(kv_button& b) {
    auto log = [this](const char* name) {
      return [this, name](int button, int shift, float x, float y) {
        events << QStringLiteral("%1 %2 %3 %4 %5").arg(name).arg(button).arg(shift).arg(x).arg(y);
      };
    };
    QObject::connect(&b, &kv_button::MouseDown, log("down"));
    QObject::connect(&b, &kv_button::MouseMove, log("move"));
    QObject::connect(&b, &kv_button::MouseUp, log("up"));
    QObject::connect(&b, &kv_button::Click, [this] { events << QStringLiteral("click"); });
  }
};

QRgb corner(kv_button& b) {
  return b.grab().toImage().pixel(0, 0);
}

}  // namespace

class KvButtonTest : public QObject {
  Q_OBJECT

 private slots:
  void aLeftClickGivesDownUpThenClick() {
    kv_button b;
    b.resize(29, 29);
    b.show();
    EventLog log;
    log.watch(b);
    QTest::mousePress(&b, Qt::LeftButton, Qt::ShiftModifier, QPoint(5, 6));
    send_move(&b, QPointF(7, 8), Qt::LeftButton);
    QTest::mouseRelease(&b, Qt::LeftButton, Qt::ShiftModifier, QPoint(7, 8));
    QCOMPARE(log.events, (QStringList{"down 1 1 5 6", "move 1 0 7 8", "up 1 1 7 8", "click"}));
  }

  void noClickForOtherButtonsOrAReleaseOutside() {
    kv_button b;
    b.resize(29, 29);
    b.show();
    EventLog log;
    log.watch(b);
    QTest::mouseClick(&b, Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
    QTest::mousePress(&b, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    send_move(&b, QPointF(60, 5), Qt::LeftButton);  // dragged off: moves keep coming
    QTest::mouseRelease(&b, Qt::LeftButton, Qt::NoModifier, QPoint(60, 5));
    QCOMPARE(log.events, (QStringList{"down 2 0 5 5", "up 2 0 5 5", "down 1 0 5 5", "move 1 0 60 5",
                                      "up 1 0 60 5"}));
  }

  void showsPressedWhileHeldOverItAndWhileItsValueIsTrue() {
    kv_button b;
    b.resize(29, 29);
    b.set_highlight(0xFFFFFF);
    b.set_shadow(0x000000);
    b.show();
    QCOMPARE(corner(b), qRgb(255, 255, 255));  // raised: lit from the top left
    QTest::mousePress(&b, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QVERIFY(b.shows_pressed());
    QCOMPARE(corner(b), qRgb(0, 0, 0));  // sunk: the bevel turns over
    send_move(&b, QPointF(60, 5), Qt::LeftButton);
    QVERIFY(!b.shows_pressed());
    QTest::mouseRelease(&b, Qt::LeftButton, Qt::NoModifier, QPoint(60, 5));
    QVERIFY(!b.value());  // pressing never changes the value by itself
    b.set_value(true);
    QVERIFY(b.shows_pressed());
    QCOMPARE(corner(b), qRgb(0, 0, 0));
  }

  void aPressedFillIsDarkerAndTheGradientRunsFromTheBackColour() {
    kv_button b;
    b.resize(40, 40);
    b.set_borderless(true);
    b.set_backcolor(0x808080);
    b.set_gradient(1.25);
    b.show();
    QImage up = b.grab().toImage();
    QVERIFY(qAbs(qRed(up.pixel(0, 0)) - 160) <= 2);    // BackColor x Gradient at the top
    QVERIFY(qAbs(qRed(up.pixel(20, 39)) - 102) <= 2);  // ... and divided by it at the foot
    b.set_value(true);
    QImage down = b.grab().toImage();
    QVERIFY(qRed(down.pixel(20, 20)) < qRed(up.pixel(20, 20)));
    QVERIFY(qRed(down.pixel(20, 2)) < qRed(down.pixel(20, 37)));  // reversed
  }

  void refreshShowsANewBackColourAtOnce() {
    kv_button b;
    b.resize(29, 29);
    b.set_gradient(1.0);
    b.set_borderless(true);
    b.show();
    b.set_backcolor(0x0000FF);  // red, packed 0x00BBGGRR
    b.Refresh();
    QCOMPARE(b.grab().toImage().pixel(14, 14), qRgb(255, 0, 0));
  }
};

QTEST_MAIN(KvButtonTest)
#include "qt_kv_button_test.moc"
