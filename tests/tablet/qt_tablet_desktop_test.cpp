// The pen over a desktop of two screens, the second left of and above the first: it maps over the
// whole desktop, so a pen on the other screen lies where it is, not pinned to the first's edge.

#include <QPointingDevice>
#include <QScreen>
#include <QTabletEvent>
#include <QtTest>
#include <cmath>
#include <memory>

#include "app/startup.h"
#include "canvas/qt_form1.h"
#include "core/program.h"
#include "support/fake_host.h"

using namespace tarvo;

class TabletDesktopTest : public QObject {
  Q_OBJECT

 private slots:
  void thePenMapsOverEveryScreenOfTheDesktop() {
    QCOMPARE(QGuiApplication::primaryScreen()->virtualGeometry(), QRect(-1024, -100, 1824, 768));
    Program program;
    std::unique_ptr<Form1> form;
    HostRegistry registry;
    registry.register_host(kHostProgId, [] { return std::make_unique<testing::FakeHost>(80, 60); });
    Main(program, registry, [&form](Program& p) -> CanvasWindow& {
      form = std::make_unique<Form1>(p);
      return *form;
    });
    QWidget* area = form->canvas_area();
    const ScreenGeometry g = screen_geometry(*area);
    QCOMPARE(g.screen_width, 1824);
    QCOMPARE(g.screen_height, 768);
    QCOMPARE(g.client_origin_x, area->mapToGlobal(QPoint(0, 0)).x() + 1024);
    QCOMPARE(g.client_origin_y, area->mapToGlobal(QPoint(0, 0)).y() + 100);

    const QPointingDevice stylus(
        QStringLiteral("stylus"), 1, QInputDevice::DeviceType::Stylus,
        QPointingDevice::PointerType::Pen,
        QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3);
    for (const QPointF at : {QPointF(-500.25, -80.5), QPointF(30.5, 20.25)}) {
      QTabletEvent move(QEvent::TabletMove, &stylus, at, area->mapToGlobal(at), 0.5, 0, 0, 0, 0, 0,
                        Qt::NoModifier, Qt::NoButton, Qt::NoButton);
      QApplication::sendEvent(area, &move);
      QVERIFY2(std::abs(program.tablet.TabletX - at.x()) < 0.01,
               qPrintable(QString::number(program.tablet.TabletX)));
      QVERIFY2(std::abs(program.tablet.TabletY - at.y()) < 0.01,
               qPrintable(QString::number(program.tablet.TabletY)));
    }
  }
};

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" TARVO_TEST_DATA_DIR "/two_screens.json");
  QApplication app(argc, argv);
  TabletDesktopTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "qt_tablet_desktop_test.moc"
