// The brush sliders and the colour chain: sliders reach their globals unchanged, the colour
// sliders keep the swatch, hue strip and triangle in step, and the triangle, strip and canvas picks
// write the colour through the sliders.

#include <QtTest>

#include "canvas/view_navigation.h"
#include "qt_panel_fixture.h"

using namespace tarvo;
using tarvo::testing::PanelFixture;
using tarvo::testing::send_move;

namespace {

int red_of(int32_t packed) {
  return packed & 0xFF;
}
int green_of(int32_t packed) {
  return (packed >> 8) & 0xFF;
}
int blue_of(int32_t packed) {
  return (packed >> 16) & 0xFF;
}

// The column of the strip's marker: the middle of the five white columns.
int marker_column(PictureBox* strip) {
  for (int x = 0; x < strip->ScaleWidth(); ++x) {
    if (strip->Point(x, 9) == 0xFFFFFF) {
      int last = x;
      while (last + 1 < strip->ScaleWidth() && strip->Point(last + 1, 9) == 0xFFFFFF) ++last;
      return x == 0 ? last - 2 : x + 2;  // cut by the left edge: count from its right side
    }
  }
  return -1;
}

}  // namespace

class ColourPickerTest : public QObject {
  Q_OBJECT

 private slots:
  void brushSlidersReachTheirGlobalsUnchanged() {
    PanelFixture f;
    f.slider(1)->setFocus();
    QTest::keyClick(f.slider(1), Qt::Key_End);
    QCOMPARE(f.brush().BrushSize, 32.0f);
    QTest::keyClick(f.slider(1), Qt::Key_Home);
    QCOMPARE(f.brush().BrushSize, 1.0f);
    f.panel->slider_input(8, 17);
    f.panel->slider_input(5, 99);
    f.panel->slider_input(6, 0);
    QCOMPARE(f.brush().PenPress, 17.0f);
    QCOMPARE(f.brush().Opacity, 99.0f);
    QCOMPARE(f.brush().StepPercent, 0.0f);
    f.panel->slider_input(7, 1);
    QCOMPARE(f.brush().PaperGrain, 1);
    f.panel->slider_input(7, 0);  // the paper slider reaches 0: texture off
    QCOMPARE(f.brush().PaperGrain, 0);
  }

  void colourValuesFromCodeRoundHalvesToEven() {
    PanelFixture f;
    f.slider(2)->set_value(127.5);
    QCOMPARE(f.slider(2)->value(), 128);
    QCOMPARE(f.brush().ColorR, 128.0f);
    f.slider(2)->set_value(126.5);
    QCOMPARE(f.brush().ColorR, 126.0f);
  }

  void aColourSliderUpdatesHsvSwatchStripAndTriangle() {
    PanelFixture f;
    f.panel->Picker()->surface().fill(Qt::blue);
    f.panel->Picture1()->surface().fill(Qt::blue);
    f.slider(2)->set_value(10);  // green and blue are still 0 although their sliders show 1
    QCOMPARE(f.brush().ColorHue, 0);
    QCOMPARE(f.brush().ColorVal, 10);
    QCOMPARE(f.button(5)->backcolor(), 0x00000Au);
    QCOMPARE(f.panel->Picker()->Point(0, 0), 0xFEFEFE);  // redrawn although the hue is the same
    QCOMPARE(blue_of(f.panel->Picture1()->Point(60, 9)), 255);  // the blue part of the strip
    f.panel->set_colour_sliders(0, 255, 0);
    QCOMPARE(f.brush().ColorHue, 120);
    QCOMPARE(marker_column(f.panel->Picture1()), 27);
    QCOMPARE(green_of(f.panel->Picker()->Point(80, 40)) >= 250, true);
  }

  void aDragDownTheTrianglesLeftEdgeGoesFromWhiteToBlackAndKeepsTheHue() {
    PanelFixture f;
    f.panel->set_colour_sliders(0, 255, 0);
    PictureBox* picker = f.panel->Picker();
    QTest::mousePress(picker, Qt::LeftButton, Qt::NoModifier, QPoint(0, 0));
    int previous = 256;
    for (int y = 0; y <= 80; ++y) {
      send_move(picker, QPointF(0, y), Qt::LeftButton);
      const std::vector<int> c = f.colour();
      QCOMPARE(c[0], c[1]);
      QCOMPARE(c[1], c[2]);
      QVERIFY2(c[0] < previous, qPrintable(QStringLiteral("row %1").arg(y)));
      previous = c[0];
      if (y == 0) QCOMPARE(c[0], 254);  // white as the fill shows it
      QCOMPARE(f.brush().ColorHue, 120);
    }
    QTest::mouseRelease(picker, Qt::LeftButton, Qt::NoModifier, QPoint(0, 80));
    QVERIFY(previous <= 3);
    QCOMPARE(f.panel->PickFromTriangle(), 0);
    QCOMPARE(marker_column(f.panel->Picture1()), 27);
    QVERIFY(green_of(picker->Point(80, 40)) >= 250);  // the corner keeps the hue
  }

  void aPickTakesTheColourShownAndZerosBelowTheMinimumAreKept() {
    PanelFixture f;
    f.panel->set_colour_sliders(9, 9, 9);
    f.panel->Picker_MouseMove(1, 0, 80, 40);
    const int32_t shown = f.panel->Picker()->Point(80, 40);
    QCOMPARE(f.colour(), (std::vector<int>{red_of(shown), green_of(shown), blue_of(shown)}));
    f.panel->set_colour_sliders(255, 0, 0);
    QCOMPARE(f.colour_sliders(), (std::vector<int>{255, 0, 0}));
    QCOMPARE(f.colour(), (std::vector<int>{255, 0, 0}));
  }

  void aPickBesideTheTriangleChangesNothing() {
    QTemporaryDir dir;
    QImage tile(8, 8, QImage::Format_RGB32);
    tile.fill(qRgb(200, 150, 100));
    tile.save(dir.filePath(QStringLiteral("w.png")));
    PanelFixture f(dir.filePath(QStringLiteral("w.png")).toStdString());
    QCOMPARE(f.panel->Picker()->Point(80, 0), 0x6496C8);  // the wallpaper shows there
    f.panel->Picker_MouseMove(1, 0, 80, 0);
    f.panel->Picker_MouseMove(1, 0, 80, 80);
    f.panel->Picker_MouseMove(1, 0, -3, 40);  // outside the box
    QCOMPARE(f.colour_sliders(), (std::vector<int>{1, 1, 1}));
    QCOMPARE(f.colour(), (std::vector<int>{0, 0, 0}));
  }

  void theStripHoldsTheHueWithin0And360() {
    PanelFixture f;
    f.panel->set_colour_sliders(200, 50, 50);
    PictureBox* strip = f.panel->Picture1();
    QTest::mousePress(strip, Qt::LeftButton, Qt::NoModifier, QPoint(30, 9));
    send_move(strip, QPointF(-20, 9), Qt::LeftButton);
    QCOMPARE(f.brush().ColorHue, 0);
    QCOMPARE(f.colour(), (std::vector<int>{200, 50, 50}));
    send_move(strip, QPointF(27, 9), Qt::LeftButton);  // 120 degrees, same saturation and value
    QCOMPARE(f.colour(), (std::vector<int>{50, 200, 50}));
    send_move(strip, QPointF(200, 9), Qt::LeftButton);  // red again
    send_move(strip, QPointF(300, 9), Qt::LeftButton);  // no slider changes: the hue stays 360
    QCOMPARE(f.brush().ColorHue, 360);
    QCOMPARE(f.colour(), (std::vector<int>{200, 50, 50}));
    QCOMPARE(strip->Point(80, 9), 0xFFFFFF);  // the marker at the right edge
    QTest::mouseRelease(strip, Qt::LeftButton, Qt::NoModifier, QPoint(300, 9));
  }

  // With a grey the strip cannot change the colour; it still moves the marker and recolours the
  // triangle, so that a colour of the new hue can then be picked from it.
  void aGreyKeepsItsComponentsAndTakesTheStripsHue() {
    PanelFixture f;
    f.panel->set_colour_sliders(128, 128, 128);
    f.panel->Picture1_MouseMove(1, 0, 27, 9);
    QCOMPARE(f.colour(), (std::vector<int>{128, 128, 128}));
    QCOMPARE(f.brush().ColorHue, 120);
    QVERIFY(green_of(f.panel->Picker()->Point(80, 40)) >= 250);
  }

  void aClickWithoutMovementPicksNothing() {
    PanelFixture f;
    f.panel->set_colour_sliders(10, 20, 30);
    QTest::mouseClick(f.panel->Picker(), Qt::LeftButton, Qt::NoModifier, QPoint(20, 40));
    QTest::mouseClick(f.panel->Picture1(), Qt::LeftButton, Qt::NoModifier, QPoint(40, 9));
    f.panel->Picker_MouseMove(0, 0, 20, 40);  // a move without a button
    f.panel->Picture1_MouseMove(0, 0, 40, 9);
    QCOMPARE(f.colour(), (std::vector<int>{10, 20, 30}));
  }

  void aCanvasPickMovesTheSlidersTheMarkerAndTheTriangle() {
    PanelFixture f;
    f.canvas->key_down(key_code::kComma, 0);
    f.canvas->mouse_down(1, 0, 30, 20);  // the fake image: red = x, green = y, blue = 0
    f.canvas->mouse_up(1, 0, 30, 20);
    f.canvas->key_up(key_code::kComma, 0);
    QCOMPARE(f.colour_sliders(), (std::vector<int>{30, 20, 0}));
    QCOMPARE(f.colour(), (std::vector<int>{30, 20, 0}));
    QCOMPARE(f.brush().ColorHue, 40);
    QCOMPARE(marker_column(f.panel->Picture1()), 9);
    const int32_t tip = f.panel->Picker()->Point(80, 40);  // pure hue 40: (255, 170, 0)
    QVERIFY(red_of(tip) >= 248 && green_of(tip) > 150 && green_of(tip) < 175);
    QCOMPARE(f.button(5)->backcolor(), 0x00141Eu);
  }
};

QTEST_MAIN(ColourPickerTest)
#include "qt_colour_picker_test.moc"
