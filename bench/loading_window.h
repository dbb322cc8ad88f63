#pragma once
// The canvas window as a host shows it at start-up, for the start-up benchmarks: the load
// sequence's stroke list and first full frame into a 1920 x 1080 retained client image. Making and
// showing widgets, and the tools panel, are left out.

#include "core/program.h"
#include "retained_window.h"
#include "stroke/stroke_capture.h"

namespace tarvo::bench {

class LoadingWindow : public RetainedWindow {
 public:
  explicit LoadingWindow(Program& program) : RetainedWindow(1920, 1080), program_(program) {}
  void show_window() override {
    allocate_stroke_points(program_.stroke);
    const CanvasBuffers& c = program_.canvas;
    displaybuffers(program_.display, program_.size(), c.RBuffer, c.GBuffer, c.BBuffer);
  }

 private:
  Program& program_;
};

}  // namespace tarvo::bench
