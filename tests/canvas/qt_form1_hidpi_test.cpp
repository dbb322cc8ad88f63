// The canvas on a screen of scale 2: its pixels are the screen's own, so zoom 1 shows one image
// pixel per screen pixel, and the pointer and the pen land on the image pixel under them.

#include <QPointingDevice>
#include <QTabletEvent>
#include <QtTest>
#include <cmath>
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

  Canvas(int32_t w, int32_t h) {
    HostRegistry registry;
    registry.register_host(kHostProgId,
                           [w, h] { return std::make_unique<testing::FakeHost>(w, h); });
    Main(program, registry, [this](Program& p) -> CanvasWindow& {
      form = std::make_unique<Form1>(p);
      return *form;
    });
  }
};

}  // namespace

class Form1HiDpiTest : public QObject {
  Q_OBJECT

 private slots:
  void zoomOneIsOneImagePixelPerScreenPixel() {
    Canvas c(40, 30);
    QCOMPARE(c.form->devicePixelRatioF(), 2.0);
    QCOMPARE(c.form->client_width(), 40);
    QCOMPARE(c.form->client_height(), 30);
    QCOMPARE(c.form->canvas_area()->size(), QSize(20, 15));
    QCOMPARE(c.form->retained_image().size(), QSize(40, 30));
    QCOMPARE(c.form->retained_image().pixel(39, 29), qRgb(39, 29, 0));
    QImage shown = c.form->canvas_area()->grab().toImage();
    QCOMPARE(shown.size(), QSize(40, 30));
    QCOMPARE(shown.pixel(39, 29), qRgb(39, 29, 0));
    QCOMPARE(shown.pixel(17, 3), qRgb(17, 3, 0));
  }

  void pointerAndPenPositionsAreScreenPixels() {
    Canvas c(40, 30);
    QWidget* area = c.form->canvas_area();
    QTest::mousePress(area, Qt::LeftButton, Qt::NoModifier, QPoint(5, 7));
    QCOMPARE(c.program.stroke.StrokePoints[0].x, 10.0f);
    QCOMPARE(c.program.stroke.StrokePoints[0].y, 14.0f);
    QTest::mouseRelease(area, Qt::LeftButton, Qt::NoModifier, QPoint(5, 7));

    const QPointingDevice stylus(
        QStringLiteral("stylus"), 1, QInputDevice::DeviceType::Stylus,
        QPointingDevice::PointerType::Pen,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3);
    const QPointF at(5.25, 7.5);
    QTabletEvent press(QEvent::TabletPress, &stylus, at, area->mapToGlobal(at), 0.5, 0, 0, 0, 0, 0,
                       Qt::NoModifier, Qt::LeftButton, Qt::LeftButton);
    QApplication::sendEvent(area, &press);
    QVERIFY(std::abs(c.program.tablet.TabletX - 10.5f) < 0.01f);
    QVERIFY(std::abs(c.program.stroke.StrokePoints[0].x - 10.5f) < 0.01f);
    QVERIFY(std::abs(c.program.stroke.StrokePoints[0].y - 15.0f) < 0.01f);
  }
};

int main(int argc, char** argv) {
  qputenv("QT_SCALE_FACTOR", "2");
  QApplication app(argc, argv);
  Form1HiDpiTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "qt_form1_hidpi_test.moc"
