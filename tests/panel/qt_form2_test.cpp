// The tools panel: its layout, its load sequence, the brush presets, the mode menu, the buttons
// that hand over to the canvas, and the inputs it reports for event scripts.

#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "canvas/view_navigation.h"
#include "panel/qt_menus.h"
#include "qt_panel_fixture.h"

using namespace tarvo;
using tarvo::testing::PanelFixture;

namespace {

struct ButtonRow {
  int n;
  QRect geometry;
  const char* tip;
};

const ButtonRow kButtonRows[] = {
    {8, {8, 8, 29, 29}, "Pen"},
    {9, {40, 8, 29, 29}, "Water brush"},
    {6, {72, 8, 29, 29}, "Ink"},
    {7, {104, 8, 29, 29}, "Gel brush"},
    {13, {8, 40, 29, 29}, "dynamically Pan (Shift+Ctrl+drag on the canvas, or the wheel)"},
    {14,
     {40, 40, 29, 29},
     "dynamically zoom (Shift+Ctrl+right drag on the canvas, Ctrl+wheel, Ctrl+plus or minus)"},
    {11, {72, 40, 29, 29}, "Show As Is at 1x Zoom (100%) (Ctrl+1)"},
    {12, {104, 40, 29, 29}, "Fit to Window (Ctrl+0)"},
    {3, {8, 72, 29, 29}, "Get image from Wickamber"},
    {4, {40, 72, 29, 29}, "Send image to Wickamber"},
    {1, {72, 72, 29, 29}, "Undo (U or Ctrl+Z; redo: Ctrl+Shift+Z or Ctrl+Y)"},
    {2, {104, 72, 29, 29}, "Clear"},
    {15, {50, 230, 83, 19}, ""},
    {5, {50, 262, 33, 25}, ""},
    {10, {96, 262, 33, 25}, ""},
};

struct SliderRow {
  int n, top, value, min, max;
};

const SliderRow kSliderRows[] = {
    {1, 118, 2, 1, 32},  {8, 140, 255, 1, 255}, {5, 162, 255, 1, 255}, {6, 184, 15, 0, 100},
    {7, 206, 0, 0, 255}, {2, 422, 1, 1, 255},   {3, 444, 1, 1, 255},   {4, 466, 1, 1, 255},
};

// Writes an 8 x 8 wallpaper whose pixel (x, y) is (x * 30, y * 30, 77).
QString write_tile(const QTemporaryDir& dir) {
  QImage tile(8, 8, QImage::Format_RGB32);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) tile.setPixel(x, y, qRgb(x * 30, y * 30, 77));
  const QString path = dir.filePath(QStringLiteral("tile.png"));
  tile.save(path);
  return path;
}

// Closes the pop-up menu that opens next, by the keys given, from inside its event loop.
void answer_next_popup(QList<Qt::Key> keys) {
  QTimer::singleShot(0, [keys] {
    QWidget* popup = QApplication::activePopupWidget();
    if (!popup) return;
    for (Qt::Key key : keys) QTest::keyClick(popup, key);
  });
  // Never leave a test hanging in a menu that did not take the keys.
  QTimer::singleShot(3000, [] {
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
  });
}

}  // namespace

class Form2Test : public QObject {
  Q_OBJECT

 private slots:
  void theWindowIsAToolWindowOfTheCanvas() {
    PanelFixture f;
    QCOMPARE(f.panel->windowTitle(), QStringLiteral("Tarvo Tools"));
    // At least the design's 141 x 490, and wide enough that a title bar holds the title.
    QCOMPARE(f.panel->height(), 490);
    QFont bold;
    bold.setBold(true);
    QVERIFY(f.panel->width() >=
            std::max(141, QFontMetrics(bold).horizontalAdvance(f.panel->windowTitle())));
    QVERIFY(f.panel->isVisible());
    QCOMPARE(f.panel->parentWidget(), f.canvas.get());
    QVERIFY(f.panel->windowFlags().testFlag(Qt::Tool));
    // The close box hides the panel; the canvas's "Options" menu brings it back.
    f.panel->close();
    QVERIFY(!f.panel->isVisible());
    auto* show_tools = f.canvas->findChild<QAction*>(QStringLiteral("ShowToolsMenu"));
    QVERIFY(show_tools);
    show_tools->trigger();
    QVERIFY(f.panel->isVisible());
  }

  void buttonsSitWhereTheyBelongWithTheirTips() {
    PanelFixture f;
    for (const ButtonRow& row : kButtonRows) {
      kv_button* b = f.button(row.n);
      QVERIFY2(b, qPrintable(QString::number(row.n)));
      QCOMPARE(b->objectName(), QStringLiteral("kv_button%1").arg(row.n));
      QCOMPARE(b->geometry(), row.geometry);
      QCOMPARE(b->toolTip(), QString::fromUtf8(row.tip));
      QCOMPARE(b->caption(), row.n == 15 ? QStringLiteral("Mode") : QString());
      QCOMPARE(b->picture().isNull(), row.n == 15 || row.n == 5 || row.n == 10);
    }
    QCOMPARE(f.button(15)->tag(), QStringLiteral("Setting"));
    QCOMPARE(f.button(5)->backcolor(), 0x000000u);
    // The theme gives the second swatch the ordinary button fill; no code sets its colour after.
    QCOMPARE(f.button(10)->backcolor(), 12632256u);
    QCOMPARE(f.button(5)->gradient(), 1.2);
    QCOMPARE(f.button(13)->cursor().shape(), Qt::SizeAllCursor);
    QCOMPARE(f.button(14)->cursor().shape(), Qt::SizeAllCursor);
  }

  void slidersSitInTheirRowsWithTheirRanges() {
    PanelFixture f;
    for (const SliderRow& row : kSliderRows) {
      HProp* s = f.slider(row.n);
      QCOMPARE(s->geometry(), QRect(50, row.top, 80, 18));
      QCOMPARE(int(s->value()), row.value);
      QCOMPARE(int(s->min()), row.min);
      QCOMPARE(int(s->max()), row.max);
      QCOMPARE(s->backcolor(), 0x9E958Fu);
      QCOMPARE(s->forecolor(), 16777215u);  // "Scroll_Bar_Color" of the theme
    }
  }

  void labelsAndPictureBoxes() {
    PanelFixture f;
    const std::pair<const char*, QString> labels[] = {
        {"Label1", "Size"}, {"Label8", "Press"},           {"Label5", "Opacity"},
        {"Label6", "Step"}, {"Label7", "Paper"},           {"mode_label", "Mode"},
        {"Label9", "Pens"}, {"Label10", "Color triangle"}, {"Label11", "Hue"},
        {"Label2", "Red"},  {"Label3", "Green"},           {"Label4", "Blue"}};
    for (const auto& [name, text] : labels) {
      auto* label = f.panel->findChild<QLabel*>(QLatin1String(name));
      QVERIFY2(label, name);
      QCOMPARE(label->text(), text);
      QCOMPARE(label->x(), 4);
      QCOMPARE(label->width(), 40);
    }
    QCOMPARE(f.panel->findChild<QLabel*>(QStringLiteral("Label10"))->geometry(),
             QRect(4, 324, 40, 35));
    QCOMPARE(f.panel->Picker()->geometry(), QRect(50, 296, 81, 81));
    QCOMPARE(f.panel->Picture2()->geometry(), QRect(54, 300, 81, 81));
    QCOMPARE(f.panel->Picture1()->geometry(), QRect(50, 386, 81, 19));
    QVERIFY(f.panel->Picker()->isVisible());
    QVERIFY(!f.panel->Picture2()->isVisible());
    QCOMPARE(f.panel->menus(), nullptr);  // made on the mode button's first click
  }

  void theSeparatorsAreEtchedAcrossTheFullWidth() {
    PanelFixture f;
    const QImage shown = f.panel->grab().toImage();
    for (int top : {0, 106, 254, 412}) {
      for (int x : {0, 70, 140}) {
        QCOMPARE(shown.pixel(x, top), qRgb(0x40, 0x40, 0x40));
        QCOMPARE(shown.pixel(x, top + 2), qRgb(0xC0, 0xC0, 0xC0));
      }
    }
  }

  void thePanelLoadsWhenFirstShownNotWhenMade() {
    Program program;
    Form2 panel(program, nullptr);
    QVERIFY(!panel.loaded());
    panel.show_panel();  // without a host: no wallpaper, silently
    QVERIFY(panel.loaded());
    QVERIFY(panel.wallpaper().isNull());
    QVERIFY(panel.Picture2()->Point(0, 0) > 0);
  }

  void theCanvasLoadCopiesTheFourBrushSliders() {
    PanelFixture f;
    QCOMPARE(f.brush().BrushSize, 2.0f);
    QCOMPARE(f.brush().PenPress, 255.0f);
    QCOMPARE(f.brush().Opacity, 255.0f);
    QCOMPARE(f.brush().StepPercent, 15.0f);
    // The colour sliders show 1, but until one changes the paint is black and the paper off.
    QCOMPARE(f.colour(), (std::vector<int>{0, 0, 0}));
    QCOMPARE(f.colour_sliders(), (std::vector<int>{1, 1, 1}));
    QCOMPARE(f.brush().PaperGrain, 0);
  }

  void theLoadDrawsSwatchMaskStripAndTriangle() {
    PanelFixture f;
    QCOMPARE(f.button(5)->backcolor(), 0x000000u);
    QCOMPARE(f.panel->Picture2()->Point(0, 40), 0xFEFEFE);  // inside the mask
    QCOMPARE(f.panel->Picture2()->Point(80, 0), 0);         // beside it
    QCOMPARE(f.panel->Picture1()->Point(1, 5), 0xFFFFFF);   // the marker at hue 0
    QCOMPARE(f.panel->Picture1()->Point(40, 5) & 0xFF, 0);  // cyan in the middle: no red
    const int32_t tip = f.panel->Picker()->Point(80, 40);   // beside the red corner at (81, 40)
    QVERIFY((tip & 0xFF) >= 250 && ((tip >> 8) & 0xFF) <= 2 && (tip >> 16) <= 2);
    QCOMPARE(f.panel->Picker()->Point(80, 0), 0);  // no wallpaper: black around it
    QCOMPARE(f.panel->grab().toImage().pixel(20, 300), qRgb(143, 149, 158));  // the themed form
  }

  void theWallpaperTilesThePanelAndRunsOnBehindTheTriangle() {
    QTemporaryDir dir;
    PanelFixture f(write_tile(dir).toStdString());
    QCOMPARE(f.panel->wallpaper().size(), QSize(8, 8));
    const QImage shown = f.panel->grab().toImage();
    QCOMPARE(shown.pixel(20, 300), qRgb((20 % 8) * 30, (300 % 8) * 30, 77));
    QCOMPARE(shown.pixel(139, 489), qRgb((139 % 8) * 30, (489 % 8) * 30, 77));
    // The triangle box's corner at (80, 0) is panel pixel (130, 296).
    QCOMPARE(f.panel->Picker()->Point(80, 0), (130 % 8) * 30 | ((296 % 8) * 30) << 8 | 77 << 16);
  }

  void aWallpaperThatCannotBeReadIsIgnored() {
    PanelFixture f("/no/such/wallpaper.png");
    QVERIFY(f.panel->wallpaper().isNull());
    QVERIFY(f.panel->isVisible());
  }

  void presetsSetTheirValuesWhateverTheButtonAndShift() {
    PanelFixture f;
    QVERIFY(f.button(8)->value());
    QCOMPARE(f.button(15)->caption(), QStringLiteral("Mode"));
    QCOMPARE(f.brush().BlendMode, 0);
    struct Expect {
      int n;
      Qt::MouseButton mouse;
      Qt::KeyboardModifiers mods;
      int curve, emboss, mode;
      const char* caption;
    };
    const Expect presets[] = {
        {9, Qt::LeftButton, Qt::NoModifier, 1, 0, 3, "Multiply"},
        {6, Qt::RightButton, Qt::ShiftModifier, 2, 0, 3, "Multiply"},
        {7, Qt::MiddleButton, Qt::ControlModifier | Qt::AltModifier, 1, 1, 0, "Default"},
        {8, Qt::LeftButton, Qt::NoModifier, 0, 0, 0, "Default"},
        {8, Qt::LeftButton, Qt::NoModifier, 0, 0, 0, "Default"},  // again: stays pressed
    };
    for (const Expect& e : presets) {
      QTest::mousePress(f.button(e.n), e.mouse, e.mods, QPoint(10, 10));
      for (int n : {6, 7, 8, 9}) QCOMPARE(f.button(n)->value(), n == e.n);
      QTest::mouseRelease(f.button(e.n), e.mouse, e.mods, QPoint(10, 10));
      QCOMPARE(f.button(e.n)->value(), true);  // the release changes nothing
      QCOMPARE(f.brush().BrushCurve, e.curve);
      QCOMPARE(f.brush().Emboss, e.emboss);
      QCOMPARE(f.brush().BlendMode, e.mode);
      QCOMPARE(f.button(15)->caption(), QString::fromUtf8(e.caption));
    }
    QCOMPARE(f.brush().BrushSize, 2.0f);  // the sliders keep their values
    QCOMPARE(f.brush().Opacity, 255.0f);
  }

  void everyMenuItemSetsItsCodeAndCaption() {
    PanelFixture f;
    Menus& menus = f.panel->ensure_menus();
    QCOMPARE(menus.windowTitle(), QStringLiteral("Form3"));
    QVERIFY(!menus.isVisible());
    QCOMPARE(menus.ModeMenu()->title(), QStringLiteral("Mode"));
    const struct {
      const char* name;
      const char* menu;
      int code;
      const char* button;
    } items[] = {{"ModeDefault", "Default", 0, "Default"},
                 {"ModeAdd", "Add", 1, "Add"},
                 {"ModeSub", "Subtract", 2, "Subtract"},
                 {"ModeMult", "Multiply", 3, "Multiply"},
                 {"ModeDiv", "Divide", 4, "Divide"},
                 {"ModeScreen", "Screen", 5, "Screen"},
                 {"MenuGreater", "Greater than", 6, "Greater than"},
                 {"MenuLess", "Less than", 7, "Less than"},
                 {"ModeAnd", "And", 8, "AND"},
                 {"ModeOr", "Or", 9, "OR"},
                 {"ModeXor", "Xor", 10, "XOR"}};
    const QList<QAction*> actions = menus.ModeMenu()->actions();
    QCOMPARE(actions.size(), 11);
    for (int i = 0; i < 11; ++i) {
      QCOMPARE(actions[i]->objectName(), QString::fromUtf8(items[i].name));
      QCOMPARE(actions[i]->text(), QString::fromUtf8(items[i].menu));
      QVERIFY(!actions[i]->isSeparator() && !actions[i]->isCheckable() && actions[i]->isEnabled());
      f.program.brush.BlendMode = -1;
      actions[i]->trigger();
      QCOMPARE(f.brush().BlendMode, items[i].code);
      QCOMPARE(f.button(15)->caption(), QString::fromUtf8(items[i].button));
    }
  }

  void aModeAfterInkKeepsInkPressed() {
    PanelFixture f;
    QTest::mousePress(f.button(6), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    f.panel->ensure_menus().item(5)->trigger();  // "Screen"
    QVERIFY(f.button(6)->value());
    QVERIFY(!f.button(8)->value());
    QCOMPARE(f.brush().BlendMode, 5);
    QCOMPARE(f.brush().BrushCurve, 2);
    QCOMPARE(f.button(15)->caption(), QStringLiteral("Screen"));
  }

  void theModeButtonPopsUpTheMenuAndEscapeChangesNothing() {
    PanelFixture f;
    answer_next_popup({Qt::Key_Escape});
    QTest::mouseClick(f.button(15), Qt::LeftButton, Qt::NoModifier, QPoint(20, 9));
    QVERIFY(f.panel->menus());
    QCOMPARE(f.brush().BlendMode, 0);
    QCOMPARE(f.button(15)->caption(), QStringLiteral("Mode"));
  }

  void anItemChosenFromThePopUpApplies() {
    PanelFixture f;
    QList<Qt::Key> keys(9, Qt::Key_Down);  // the ninth item, "And"
    keys << Qt::Key_Return;
    answer_next_popup(keys);
    QTest::mouseClick(f.button(15), Qt::LeftButton, Qt::NoModifier, QPoint(20, 9));
    QCOMPARE(f.brush().BlendMode, 8);
    QCOMPARE(f.button(15)->caption(), QStringLiteral("AND"));
  }

  void clearUndoAndTheSwatches() {
    PanelFixture f;
    QTest::mouseClick(f.button(2), Qt::LeftButton);
    QCOMPARE(f.program.canvas.RBuffer(30, 20), 255);
    QCOMPARE(f.program.undo.records.size(), size_t{1});
    QTest::mouseClick(f.button(1), Qt::LeftButton);
    QCOMPARE(f.program.canvas.RBuffer(30, 20), 30);
    const BrushSettings before = f.brush();
    QTest::mouseClick(f.button(5), Qt::LeftButton);
    QTest::mouseClick(f.button(10), Qt::LeftButton);
    QCOMPARE(f.brush().BlendMode, before.BlendMode);
    QCOMPARE(f.brush().ColorR, before.ColorR);
    QCOMPARE(f.button(10)->backcolor(), 12632256u);
  }

  void getAndSendGoToTheHost() {
    PanelFixture f;
    f.host->calls.clear();
    QTest::mouseClick(f.button(3), Qt::LeftButton);
    QVERIFY(f.host->calls.end() !=
            std::find(f.host->calls.begin(), f.host->calls.end(), "Wik_GetRBuffer"));
    f.host->calls.clear();
    QTest::mouseClick(f.button(4), Qt::LeftButton);
    QCOMPARE(f.host->calls,
             (std::vector<std::string>{"Wik_SaveUndo", "Wik_SetRbuffer", "Wik_SetGbuffer",
                                       "Wik_SetBbuffer", "wik_Refresh"}));
  }

  void actualSizeAndFit() {
    PanelFixture f(std::string(), 100, 50);
    f.canvas->resize_client(400, 300);
    QTest::mouseClick(f.button(12), Qt::LeftButton);
    QCOMPARE(f.program.display.view.Zoom, 4.0f);
    QTest::mouseClick(f.button(11), Qt::LeftButton);
    QCOMPARE(f.program.display.view.Zoom, 1.0f);
    QCOMPARE(f.program.display.view.PanX, 0);
  }

  void thePanButtonDragsTheView() {
    PanelFixture f;
    kv_button* pan = f.button(13);
    QTest::mousePress(pan, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    testing::send_move(pan, QPointF(25, 15), Qt::LeftButton);
    QCOMPARE(f.program.display.view.PanX, 20);
    QCOMPARE(f.program.display.view.PanY, 10);
    QTest::mouseRelease(pan, Qt::LeftButton, Qt::NoModifier, QPoint(25, 15));
    QVERIFY(!f.program.stroke.MouseIsDown);
    QCOMPARE(f.program.undo.records.size(), size_t{0});  // navigation commits nothing
  }

  void theZoomButtonZoomsWithAnyButton() {
    PanelFixture f;
    kv_button* zoom = f.button(14);
    QTest::mousePress(zoom, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    testing::send_move(zoom, QPointF(105, 40), Qt::LeftButton);
    QCOMPARE(f.program.display.view.Zoom, 1.5f);  // 100 pixels to the right
    QTest::mouseRelease(zoom, Qt::LeftButton, Qt::NoModifier, QPoint(105, 40));
  }

  void everyPanelInputIsReportedAsItArrives() {
    PanelFixture f;
    testing::SinkLog log;
    f.panel->set_event_sink(&log);
    QTest::mousePress(f.button(9), Qt::RightButton, Qt::ShiftModifier, QPoint(3, 4));
    QTest::mouseRelease(f.button(9), Qt::RightButton, Qt::ShiftModifier, QPoint(3, 4));
    QTest::mouseClick(f.button(2), Qt::LeftButton, Qt::NoModifier, QPoint(6, 7));
    QTest::mouseClick(f.button(5), Qt::LeftButton, Qt::NoModifier, QPoint(6, 7));
    QTest::mousePress(f.button(13), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    testing::send_move(f.button(13), QPointF(9, 8), Qt::LeftButton);
    QTest::mouseRelease(f.button(13), Qt::LeftButton, Qt::NoModifier, QPoint(9, 8));
    f.slider(1)->setFocus();
    QTest::keyClick(f.slider(1), Qt::Key_Right);
    f.slider(2)->set_value(40);  // from code: not an input
    f.panel->ensure_menus().item(8)->trigger();
    testing::send_move(f.panel->Picker(), QPointF(2, 30), Qt::LeftButton);
    testing::send_move(f.panel->Picture1(), QPointF(27, 5), Qt::LeftButton);
    QCOMPARE(log.lines, (std::vector<std::string>{
                            "kv_button9_MouseDown 2 1 3 4", "kv_button2_Click",
                            "kv_button13_MouseDown 1 0 5 5", "kv_button13_MouseMove 1 0 9 8",
                            "kv_button13_MouseUp 1 0 9 8", "HProp1 3", "ModeAnd_Click",
                            "Picker_MouseMove 1 0 2 30", "Picture1_MouseMove 1 0 27 5"}));
  }
};

QTEST_MAIN(Form2Test)
#include "qt_form2_test.moc"
