// The canvas window, offscreen: caption, client size, margins and what a whole-image blit shows.

#include "canvas/qt_form1.h"

#include <QColorSpace>
#include <QColorTransform>
#include <QMenuBar>
#include <QtTest>
#include <memory>

#include "app/startup.h"
#include "canvas/qt_display_colour.h"
#include "canvas/qt_window_placement.h"
#include "canvas/view_navigation.h"
#include "core/program.h"
#include "script/event_script.h"
#include "script/qt_script_player.h"
#include "support/fake_host.h"

using namespace tarvo;

namespace {

struct Canvas {
  Program program;
  std::unique_ptr<Form1> form;
  testing::FakeHost* host = nullptr;

  Canvas(int32_t w, int32_t h, const QByteArray& profile = {}) {
    HostRegistry registry;
    registry.register_host(kHostProgId, [&, w, h] {
      auto made = std::make_unique<testing::FakeHost>(w, h);
      made->profile = profile.toStdString();
      host = made.get();
      return made;
    });
    Main(program, registry, [this](Program& p) -> CanvasWindow& {
      form = std::make_unique<Form1>(p);
      return *form;
    });
  }
  QRgb at(int x, int y) const { return form->retained_image().pixel(x, y); }
};

}  // namespace

class Form1Test : public QObject {
  Q_OBJECT

 private slots:
  void loadsWithTheTitleAndTheMenu() {
    Canvas c(40, 30);
    QVERIFY(c.form->isVisible());
    QCOMPARE(c.form->windowTitle(),
             QStringLiteral("Tarvo 1.1 for Marlet - Spline based paint engine"));
    QMenu* options = c.form->menuBar()->findChild<QMenu*>(QStringLiteral("OptionsMenu"));
    QVERIFY(options);
    QCOMPARE(options->title(), QStringLiteral("Options"));
    QCOMPARE(options->actions().size(), 3);
    QCOMPARE(options->actions().first()->text(), QStringLiteral("Get paper"));
    QCOMPARE(options->actions().at(1)->text(), QStringLiteral("Show tools panel"));
    // "Make time-lapse..." shows only where the session keeps a history to make it of.
    QAction* make = options->actions().last();
    QCOMPARE(make->text(), QStringLiteral("Make time-lapse..."));
    QVERIFY(!make->isVisible());
    c.form->set_make_timelapse([] {});
    QVERIFY(make->isVisible());
  }

  void clientAreaIsSizedToTheImage() {
    Canvas c(300, 200);
    QCOMPARE(c.form->client_width(), 300);
    QCOMPARE(c.form->client_height(), 200);
    QCOMPARE(c.form->canvas_area()->size(), QSize(300, 200));
  }

  void wholeImageBlitShowsTheLastColumnAndRow() {
    Canvas c(100, 60);
    QCOMPARE(c.at(99, 59), qRgb(99, 59, 0));
    QCOMPARE(c.at(0, 0), qRgb(0, 0, 0));
    QCOMPARE(c.at(42, 17), qRgb(42, 17, 0));
  }

  // An image in a profile of its own is shown converted to sRGB, within a level of Qt's own
  // conversion, while its planes keep its values; an image in sRGB is shown as it is.
  void anImageWithAColourProfileIsShownConvertedToSrgb() {
    const QColorSpace adobe(QColorSpace::AdobeRgb);
    const QColorTransform exact = adobe.transformationToColorSpace(QColorSpace::SRgb);
    const auto near = [](QRgb a, QRgb b) {
      return std::abs(qRed(a) - qRed(b)) <= 1 && std::abs(qGreen(a) - qGreen(b)) <= 1 &&
             std::abs(qBlue(a) - qBlue(b)) <= 1;
    };
    const std::unique_ptr<DisplayColour> colour = DisplayColour::from_profile(adobe.iccProfile());
    QVERIFY(colour);
    for (int r = 0; r < 256; r += 5) {
      for (int g = 0; g < 256; g += 5) {
        for (int b = 0; b < 256; b += 5) {
          uint32_t pixel = 0xFF000000u | qRgb(r, g, b);
          colour->convert(&pixel, 1);
          const QRgb want = exact.map(qRgb(r, g, b));
          QVERIFY2(near(pixel, want), qPrintable(QStringLiteral("%1,%2,%3: #%4, not #%5")
                                                     .arg(r)
                                                     .arg(g)
                                                     .arg(b)
                                                     .arg(pixel, 0, 16)
                                                     .arg(want, 0, 16)));
        }
      }
    }
    QVERIFY(!DisplayColour::from_profile(QColorSpace(QColorSpace::SRgb).iccProfile()));
    QVERIFY(!DisplayColour::from_profile("not a profile"));

    Canvas c(100, 60, adobe.iccProfile());
    QVERIFY(near(c.at(99, 59), exact.map(qRgb(99, 59, 0))));
    QVERIFY(c.at(99, 59) != qRgb(99, 59, 0));
    QCOMPARE(c.program.canvas.RBuffer(99, 59), uint8_t{99});
    Canvas plain(100, 60, QColorSpace(QColorSpace::SRgb).iccProfile());
    QCOMPARE(plain.at(99, 59), qRgb(99, 59, 0));
  }

  void marginsAroundASmallerImageAreLightGrey() {
    Canvas c(100, 60);
    c.form->resize_client(160, 90);
    QCOMPARE(c.at(100, 10), qRgb(192, 192, 192));
    QCOMPARE(c.at(159, 89), qRgb(192, 192, 192));
    QCOMPARE(c.at(10, 60), qRgb(192, 192, 192));
    QCOMPARE(c.at(99, 59), qRgb(99, 59, 0));
  }

  void ctrlPlusZoomsAndTheCaptionShowsIt() {
    Canvas c(64, 48);
    QTest::keyRelease(c.form->canvas_area(), Qt::Key_Equal, Qt::ControlModifier);
    QCOMPARE(c.program.display.view.Zoom, 1.25f);
    QCOMPARE(c.form->windowTitle(),
             QStringLiteral("Tarvo 1.1 for Marlet - Spline based paint engine zoom = 125"));
    QCOMPARE(c.at(7, 0), qRgb(5, 0, 0));  // surface column 7 samples image column 7 / 1.25
  }

  // Shift pressed while the comma key is held turns Qt's name for it into "<"; the release still
  // belongs to the comma key, which went down by the same keycode.
  void theCommaKeyReleasedWithShiftHeldEndsPickMode() {
    Canvas c(64, 48);
    QWidget* area = c.form->canvas_area();
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Comma, Qt::NoModifier, 59, 0x2c, 0,
                   QStringLiteral(","));
    QApplication::sendEvent(area, &down);
    QVERIFY(c.program.display.view.PickMode);
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_Less, Qt::ShiftModifier, 59, 0x3c, 0x1,
                 QStringLiteral("<"));
    QApplication::sendEvent(area, &up);
    QVERIFY(!c.program.display.view.PickMode);
  }

  // Qt's modifiers may already miss a Ctrl let go just after the key; the key event's own do not.
  void ctrlPlusCountsTheModifiersTheKeyEventCarries() {
    Canvas c(64, 48);
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_Equal, Qt::NoModifier, 21, 0x3d, 0x4,
                 QStringLiteral("="));
    QApplication::sendEvent(c.form->canvas_area(), &up);
    QCOMPARE(c.program.display.view.Zoom, 1.25f);
    QKeyEvent minus(QEvent::KeyRelease, Qt::Key_Minus, Qt::ControlModifier, 20, 0x2d, 0x5,
                    QStringLiteral("-"));
    QApplication::sendEvent(c.form->canvas_area(), &minus);  // Shift+Ctrl: no zoom
    QCOMPARE(c.program.display.view.Zoom, 1.25f);
  }

  // A photo larger than the screen: on a screen someone looks at, the canvas client is as much of
  // it as the available area holds and the panel goes where it can be seen. Offscreen, as in a
  // replay, the client keeps the size asked for, so that recorded sizes paint the same pixels.
  void aPhotoLargerThanTheScreenKeepsBothWindowsOnIt() {
    const QRect screen(0, 0, 1600, 1000);
    const QMargins frame(4, 32 + 20, 4, 4);  // the frame, and the menu bar above the client
    QCOMPARE(fit_window_size(QSize(4032, 3024), frame, screen), QSize(1592, 944));
    QCOMPARE(fit_window_size(QSize(400, 3024), frame, screen), QSize(400, 944));
    QCOMPARE(fit_window_size(QSize(400, 300), frame, screen), QSize(400, 300));
    QCOMPARE(keep_inside(QRect(300, 200, 1600, 1000), screen), QPoint(0, 0));
    QCOMPARE(keep_inside(QRect(-50, 900, 400, 300), screen), QPoint(0, 700));
    // The panel: beside the canvas where there is room, else where it can be seen.
    const QSize panel(150, 500);
    QCOMPARE(panel_position(QRect(10, 20, 500, 400), panel, screen, 8), QPoint(518, 20));
    QCOMPARE(panel_position(QRect(1000, 20, 500, 400), panel, screen, 8), QPoint(842, 20));
    QCOMPARE(panel_position(QRect(0, 0, 1600, 1000), panel, screen, 8), QPoint(1450, 0));
    QCOMPARE(panel_position(QRect(0, 700, 1500, 300), panel, screen, 8), QPoint(1450, 500));
    // Over a host's window: below its menu bar, from its left edge, with room for the panel.
    QCOMPARE(area_over_host(QPoint(100, 60), screen, 158),
             QRect(100, 60 + kHostMenuBarRoom, 1500 - 158, 940 - kHostMenuBarRoom));
    QCOMPARE(area_over_host(QPoint(1500, -20), screen, 158).topLeft(),
             QPoint(1600 - 1 - 240, kHostMenuBarRoom - 20));

    Canvas c(4032, 3024);
    QCOMPARE(c.form->client_width(), 4032);
    QCOMPARE(c.program.display.view.Zoom, 1.0f);
  }

  // Ctrl+Z, Ctrl+Shift+Z and Ctrl+Y, and the wheel, go through event scripts like every input.
  void redoAndTheWheelReplayFromAScript() {
    Canvas c(64, 48);
    const auto play = [&](const char* text) {
      ScriptPlayer(*c.form).play(parse_script_text(text, "test.tvs"));
    };
    play(
        "Form_MouseDown 1 0 10 20\nForm_MouseMove 1 0 30 20\nForm_MouseMove 1 0 40 20\n"
        "Form_MouseMove 1 0 50 20\nForm_MouseUp 1 0 50 20\n");
    QCOMPARE(c.program.canvas.RBuffer(30, 20), 0);
    play("Form_KeyDown 90 2\n");  // Ctrl+Z
    QCOMPARE(c.program.canvas.RBuffer(30, 20), 30);
    play("Form_KeyDown 90 3\n");  // Ctrl+Shift+Z
    QCOMPARE(c.program.canvas.RBuffer(30, 20), 0);
    QCOMPARE(c.at(30, 20), qRgb(0, 0, 0));
    play("Form_KeyPress 117\nForm_KeyDown 89 2\nForm_KeyDown 89 2\n");  // u, Ctrl+Y twice
    QCOMPARE(c.program.canvas.RBuffer(30, 20), 0);

    // Ctrl+wheel zooms a quarter a notch about the pointer: image point (20, 10) stays at (20, 10).
    play("Form_MouseWheel 2 20 10 0 240\n");
    QCOMPARE(c.program.display.view.Zoom, 1.5f);
    QCOMPARE(c.program.display.view.PanX, -10);
    QCOMPARE(c.program.display.view.PanY, -5);
    // The wheel scrolls 48 pixels a notch, Shift+wheel sideways, never beyond the image's edge.
    c.form->resize_client(40, 30);
    play("Form_MouseWheel 0 5 5 0 -120\nForm_MouseWheel 1 5 5 0 -10\n");
    QCOMPARE(c.program.display.view.PanY, 30 - 72);  // the far edge meets the client's
    QCOMPARE(c.program.display.view.PanX, -14);
    play("Form_KeyUp 48 2\n");  // Ctrl+0 fits
    QCOMPARE(c.program.display.view.Zoom, 0.625f);
    play("Form_KeyUp 107 0\nForm_KeyUp 49 2\n");  // keypad plus, then Ctrl+1
    QCOMPARE(c.program.display.view.Zoom, 1.0f);
    QCOMPARE(c.program.display.view.PanX, 0);
  }

  void aDragPaintsAndUndoTakesItBack() {
    Canvas c(64, 48);
    QWidget* area = c.form->canvas_area();
    const QRgb before = c.at(30, 20);
    QTest::mousePress(area, Qt::LeftButton, Qt::NoModifier, QPoint(10, 20));
    for (int x = 12; x <= 50; x += 2) QTest::mouseMove(area, QPoint(x, 20));
    QTest::mouseRelease(area, Qt::LeftButton, Qt::NoModifier, QPoint(50, 20));
    QCOMPARE(c.program.canvas.RBuffer(30, 20), 0);
    QCOMPARE(c.at(30, 20), qRgb(0, 0, 0));
    QCOMPARE(c.program.undo.records.size(), size_t{1});
    QTest::keyClick(area, Qt::Key_U);
    QCOMPARE(c.at(30, 20), before);
    QCOMPARE(c.program.canvas.RBuffer(30, 20), 30);
  }
};

QTEST_MAIN(Form1Test)
#include "qt_form1_test.moc"
