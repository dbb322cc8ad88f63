#pragma once

#include <QTemporaryDir>
// A loaded canvas with its tools panel, offscreen, over a fake host whose image is red = x,
// green = y, blue = 0.

#include <QApplication>
#include <QMouseEvent>
#include <memory>
#include <string>
#include <vector>

#include "app/startup.h"
#include "canvas/qt_form1.h"
#include "core/program.h"
#include "panel/qt_form2.h"
#include "panel/qt_hprop.h"
#include "panel/qt_kv_button.h"
#include "panel/qt_picture_box.h"
#include "script/event_sink.h"
#include "support/fake_host.h"

namespace tarvo::testing {

struct PanelFixture {
  Program program;
  std::unique_ptr<Form1> canvas;
  Form2* panel = nullptr;
  FakeHost* host = nullptr;

  explicit PanelFixture(const std::string& wallpaper = {}, int32_t width = 64,
                        int32_t height = 48) {
    // The panel themes itself from the user's preferences: tests read none.
    static QTemporaryDir no_preferences;
    qputenv("XDG_CONFIG_HOME", no_preferences.path().toUtf8());
    HostRegistry registry;
    registry.register_host(kHostProgId, [this, wallpaper, width, height] {
      auto made = std::make_unique<FakeHost>(width, height);
      made->wallpaper = wallpaper;
      host = made.get();
      return made;
    });
    Main(program, registry, [this](Program& p) -> CanvasWindow& {
      canvas = std::make_unique<Form1>(p);
      panel = new Form2(p, canvas.get());
      p.panel = panel;
      return *canvas;
    });
  }

  kv_button* button(int n) const { return panel->button(n); }
  HProp* slider(int n) const { return panel->slider(n); }
  const BrushSettings& brush() const { return program.brush; }
  std::vector<int> colour() const {
    return {int(brush().ColorR), int(brush().ColorG), int(brush().ColorB)};
  }
  std::vector<int> colour_sliders() const {
    return {slider(2)->value(), slider(3)->value(), slider(4)->value()};
  }
};

// A pointer move with buttons held, as the window system sends it during a drag.
inline void send_move(QWidget* w, QPointF pos, Qt::MouseButtons held) {
  QMouseEvent e(QEvent::MouseMove, pos, w->mapToGlobal(pos), Qt::NoButton, held, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

// Every input reported, as script lines would show it.
struct SinkLog : EventSink {
  std::vector<std::string> lines;
  void record(Verb verb, std::initializer_list<double> args) override {
    std::string line(verb_spec(verb).name);
    for (double a : args) line += " " + std::to_string(static_cast<int>(a));
    lines.push_back(line);
  }
};

}  // namespace tarvo::testing
