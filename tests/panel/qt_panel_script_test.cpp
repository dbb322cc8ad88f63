// Panel input in event scripts: a session that uses the panel is recorded line by line, and its
// replay into a fresh canvas and panel ends in the same brush settings, panel state and image.

#include <QTemporaryDir>
#include <QtTest>
#include <fstream>
#include <sstream>

#include "qt_panel_fixture.h"
#include "script/event_script.h"
#include "script/qt_script_player.h"
#include "script/qt_script_recorder.h"

using namespace tarvo;
using tarvo::testing::PanelFixture;
using tarvo::testing::send_move;

namespace {

std::string read_all(const QString& path) {
  std::ifstream in(path.toStdString());
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Uses every kind of panel input, then paints a stroke with what it set.
void use_the_panel(PanelFixture& f) {
  QTest::mousePress(f.button(6), Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
  QTest::mouseRelease(f.button(6), Qt::LeftButton, Qt::NoModifier, QPoint(4, 4));
  f.panel->ensure_menus().item(5)->trigger();
  f.slider(1)->setFocus();
  for (int i = 0; i < 4; ++i) QTest::keyClick(f.slider(1), Qt::Key_Right);
  QTest::mousePress(f.slider(5), Qt::LeftButton, Qt::NoModifier, QPoint(40, 9));
  send_move(f.panel->Picture1(), QPointF(27, 9), Qt::LeftButton);
  send_move(f.panel->Picker(), QPointF(30, 40), Qt::LeftButton);
  QTest::mousePress(f.button(13), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  send_move(f.button(13), QPointF(8, 9), Qt::LeftButton);
  QTest::mouseRelease(f.button(13), Qt::LeftButton, Qt::NoModifier, QPoint(8, 9));
  f.canvas->mouse_down(1, 0, 10, 20);
  for (int x = 12; x <= 50; x += 2) f.canvas->mouse_move(1, 0, float(x), 22);
  f.canvas->mouse_up(1, 0, 50, 22);
  QTest::mouseClick(f.button(1), Qt::LeftButton);  // undo, then paint again
  f.canvas->mouse_down(1, 0, 10, 30);
  for (int x = 12; x <= 50; x += 2) f.canvas->mouse_move(1, 0, float(x), 30);
  f.canvas->mouse_up(1, 0, 50, 30);
}

struct State {
  BrushSettings brush;
  std::vector<int> sliders;
  QString caption;
  std::vector<bool> presets;
  uint64_t image = 0;
};

State state_of(const PanelFixture& f) {
  State s{f.brush(), {}, f.button(15)->caption(), {}, 1469598103934665603ull};
  for (int n = 1; n <= 8; ++n) s.sliders.push_back(f.slider(n)->value());
  for (int n : {6, 7, 8, 9}) s.presets.push_back(f.button(n)->value());
  for (const Plane* plane :
       {&f.program.canvas.RBuffer, &f.program.canvas.GBuffer, &f.program.canvas.BBuffer}) {
    for (int32_t y = 0; y < f.program.canvas.BufferHeight; ++y)
      for (int32_t x = 0; x < f.program.canvas.BufferWidth; ++x)
        s.image = (s.image ^ (*plane)(x, y)) * 1099511628211ull;
  }
  return s;
}

}  // namespace

class PanelScriptTest : public QObject {
  Q_OBJECT

 private slots:
  void aSessionWithThePanelReplaysToTheSameState() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("panel.tvs"));
    State live;
    {
      PanelFixture f;
      ScriptRecorder recorder(path);
      recorder.attach(*f.canvas);
      use_the_panel(f);
      live = state_of(f);
      f.canvas->set_event_sink(nullptr);
      f.panel->set_event_sink(nullptr);
    }
    const std::string text = read_all(path);
    for (const char* line :
         {"kv_button6_MouseDown 1 0 4 4\n", "ModeScreen_Click\n", "HProp1 6\n", "HProp5 130\n",
          "Picture1_MouseMove 1 0 27 9\n", "Picker_MouseMove 1 0 30 40\n",
          "kv_button13_MouseMove 1 0 8 9\n", "kv_button1_Click\n"}) {
      QVERIFY2(text.find(line) != std::string::npos, line);
    }
    QCOMPARE(live.brush.BrushCurve, 2);
    QCOMPARE(live.brush.BlendMode, 5);
    QCOMPARE(live.brush.BrushSize, 6.0f);
    QVERIFY(live.image != state_of(PanelFixture()).image);  // the session painted

    PanelFixture replayed;
    ScriptPlayer(*replayed.canvas).play(read_script_file(path.toStdString()));
    const State again = state_of(replayed);
    QCOMPARE(again.sliders, live.sliders);
    QCOMPARE(again.caption, live.caption);
    QCOMPARE(again.presets, live.presets);
    QCOMPARE(again.brush.ColorR, live.brush.ColorR);
    QCOMPARE(again.brush.ColorG, live.brush.ColorG);
    QCOMPARE(again.brush.ColorHue, live.brush.ColorHue);
    QCOMPARE(again.brush.Opacity, live.brush.Opacity);
    QCOMPARE(again.brush.BlendMode, live.brush.BlendMode);
    QCOMPARE(replayed.program.display.view.PanX, 3);
    QCOMPARE(again.image, live.image);
  }
};

QTEST_MAIN(PanelScriptTest)
#include "qt_panel_script_test.moc"
