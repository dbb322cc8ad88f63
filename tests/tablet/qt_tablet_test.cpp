// Pen input through Qt: each tablet event is a packet and a stroke point, carrying the pen's
// position and pressure; the eraser end paints white.

#include <QPointingDevice>
#include <QTabletEvent>
#include <QtTest>
#include <memory>

#include "app/startup.h"
#include "canvas/qt_form1.h"
#include "core/program.h"
#include "support/fake_host.h"

using namespace tarvo;

namespace {

struct Canvas {
  Program program;
  std::unique_ptr<Form1> form;

  explicit Canvas(bool tablet = true) {
    HostRegistry registry;
    registry.register_host(kHostProgId, [] {
      auto host = std::make_unique<testing::FakeHost>(80, 60);
      host->set_image(80, 60, 200);
      return host;
    });
    Main(program, registry, [this, tablet](Program& p) -> CanvasWindow& {
      form = std::make_unique<Form1>(p);
      form->set_tablet_allowed(tablet);
      return *form;
    });
  }

  void pen(QEvent::Type type, QPointF at, qreal pressure, Qt::MouseButtons buttons,
           QPointingDevice::PointerType pointer = QPointingDevice::PointerType::Pen) {
    const QPointingDevice stylus(
        QStringLiteral("stylus"), 1, QInputDevice::DeviceType::Stylus,
        QPointingDevice::PointerType::Pen,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3);
    const QPointingDevice eraser(
        QStringLiteral("eraser"), 2, QInputDevice::DeviceType::Stylus,
        QPointingDevice::PointerType::Eraser,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3);
    QWidget* area = form->canvas_area();
    const QPointingDevice* device =
        pointer == QPointingDevice::PointerType::Eraser ? &eraser : &stylus;
    const Qt::MouseButton button = type == QEvent::TabletMove ? Qt::NoButton : Qt::LeftButton;
    QTabletEvent event(type, device, at, area->mapToGlobal(at), pressure, 0, 0, 0, 0, 0,
                       Qt::NoModifier, button, buttons);
    QApplication::sendEvent(area, &event);
  }
};

}  // namespace

class TabletTest : public QObject {
  Q_OBJECT

 private slots:
  void penStrokePointsCarryThePenPositionAndPressure() {
    Canvas c;
    QVERIFY(c.program.tablet.TabletOn);
    c.pen(QEvent::TabletPress, QPointF(10.25, 20.5), 0.5, Qt::LeftButton);
    const StrokePoint first = c.program.stroke.StrokePoints[0];
    QCOMPARE(first.pressure, 0.5f);
    QVERIFY(std::abs(first.x - 10.25f) < 0.01f);
    QVERIFY(std::abs(first.y - 20.5f) < 0.01f);
    for (int i = 1; i <= 6; ++i)
      c.pen(QEvent::TabletMove, QPointF(10.25 + 6 * i, 20.5), 0.25 * (i % 4), Qt::LeftButton);
    QCOMPARE(c.program.stroke.PointIndex, 6);
    QCOMPARE(c.program.stroke.StrokePoints[3].pressure, 0.75f);
    QCOMPARE(c.program.stroke.StrokePoints[4].pressure, 0.0f);
    c.pen(QEvent::TabletRelease, QPointF(46.25, 20.5), 0.0, Qt::NoButton);
    QCOMPARE(c.program.undo.records.size(), size_t{1});
    QVERIFY(c.program.canvas.RBuffer(28, 20) < 100);  // black paint over the red 28
  }

  // Without proximity events from the platform, a packet leaves the pen near for its own event
  // only: the mouse, used afterwards, paints where it is, at full pressure.
  void aPenPacketAloneLeavesTheMouseUsable() {
    Canvas c;
    c.pen(QEvent::TabletMove, QPointF(70, 50), 0.4, Qt::NoButton);
    QVERIFY(!c.program.tablet.PenInProximity);
    QTest::mousePress(c.form->canvas_area(), Qt::LeftButton, Qt::NoModifier, QPoint(12, 8));
    QCOMPARE(c.program.stroke.StrokePoints[0].x, 12.0f);
    QCOMPARE(c.program.stroke.StrokePoints[0].y, 8.0f);
    QCOMPARE(c.program.stroke.StrokePoints[0].pressure, 1.0f);
    QTest::mouseRelease(c.form->canvas_area(), Qt::LeftButton, Qt::NoModifier, QPoint(12, 8));
    // Proximity the platform does report lasts until it reports the pen leaving.
    QTabletEvent near(QEvent::TabletEnterProximity, QPointingDevice::primaryPointingDevice(),
                      QPointF(), QPointF(), 0, 0, 0, 0, 0, 0, Qt::NoModifier, Qt::NoButton,
                      Qt::NoButton);
    QApplication::sendEvent(qApp, &near);
    QVERIFY(c.program.tablet.PenInProximity);
  }

  void theEraserEndPaintsWhite() {
    Canvas c;
    const auto eraser = QPointingDevice::PointerType::Eraser;
    c.pen(QEvent::TabletPress, QPointF(10, 30), 1.0, Qt::LeftButton, eraser);
    for (int i = 1; i <= 6; ++i)
      c.pen(QEvent::TabletMove, QPointF(10 + 6 * i, 30), 1.0, Qt::LeftButton, eraser);
    c.pen(QEvent::TabletRelease, QPointF(46, 30), 1.0, Qt::NoButton, eraser);
    QVERIFY(c.program.tablet.PenAltitude < 0);
    QCOMPARE(c.program.canvas.RBuffer(28, 30), uint8_t{255});
    QCOMPARE(c.program.canvas.GBuffer(28, 30), uint8_t{255});
  }

  void withoutATabletPenEventsStillPaintAtFullPressure() {
    Canvas c(false);
    QVERIFY(!c.program.tablet.TabletOn);
    c.pen(QEvent::TabletPress, QPointF(10, 30), 0.3, Qt::LeftButton);
    QCOMPARE(c.program.stroke.StrokePoints[0].pressure, 1.0f);
  }
};

QTEST_MAIN(TabletTest)
#include "qt_tablet_test.moc"
