// libFuzzer target: the engine fed random brush settings, view values and pointer, key and tablet
// input, NaN and infinity included, on a small image. Any access outside a plane stops the run
// (built with AddressSanitizer); the coverage invariant is checked after every release.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "canvas/canvas_buffers.h"
#include "canvas/display_surface.h"
#include "canvas/image_history.h"
#include "canvas/view_navigation.h"
#include "core/program.h"
#include "render/brush_tables.h"
#include "stroke/stroke_capture.h"
#include "support/fake_canvas_window.h"
#include "tablet/tablet.h"

namespace {

using namespace tarvo;

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  bool more() const { return at < size; }
  uint8_t byte() { return at < size ? data[at++] : 0; }
  int16_t small() { return static_cast<int16_t>(byte() | (byte() << 8)); }
  int32_t word() {
    return static_cast<int32_t>(byte() | (byte() << 8) | (byte() << 16) | (uint32_t(byte()) << 24));
  }
  float number() {
    switch (byte() % 8) {
      case 0:
        return std::nanf("");
      case 1:
        return INFINITY;
      case 2:
        return -INFINITY;
      case 3: {
        float f;
        uint32_t w = static_cast<uint32_t>(word());
        std::memcpy(&f, &w, 4);
        return f;
      }
      default:
        return static_cast<float>(small()) / 64.0f;  // mostly around the image
    }
  }
};

const BrushTables& tables() {
  static const BrushTables t = make_brush_tables();
  return t;
}

void check_coverage_clear(const Program& p) {
  const Plane& fx = p.canvas.FXbuffer;
  for (size_t i = 0; i < fx.size(); ++i)
    if (fx.data()[i] != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  Program p;
  testing::FakeCanvasWindow window(40 + in.byte() % 40, 30 + in.byte() % 40);
  allocate_planes(p.canvas, 1 + in.byte() % 48, 1 + in.byte() % 40);
  p.canvas.RBuffer.fill(200);
  copy_to_previews(p.canvas);
  p.tables = tables();
  p.paper.PaperWidth = in.byte() % 9;
  p.paper.PaperHeight = in.byte() % 9;
  p.paper.PaperBuffer = Plane(p.paper.PaperWidth, p.paper.PaperHeight);
  p.paper.PaperBuffer.fill(in.byte());
  allocate_stroke_points(p.stroke);
  p.display.window = &window;
  p.undo.byte_budget = 1 << 16;
  CreateDisplaySurface(p.display, p.size());

  while (in.more()) {
    float x, y;
    switch (in.byte() % 12) {
      case 0:
        p.brush.BrushSize = in.number();
        break;
      case 1:
        p.brush.BlendMode = in.word();
        p.brush.BrushCurve = in.word();
        break;
      case 2:
        p.brush.Opacity = in.number();
        p.brush.PenPress = in.number();
        break;
      case 3:
        p.brush.StepPercent = in.number();
        p.brush.PaperGrain = in.word();
        p.brush.Emboss = in.byte() % 2;
        break;
      case 4:
        p.brush.ColorR = in.number();
        p.brush.ColorG = in.number();
        p.brush.ColorB = in.number();
        break;
      case 5:
        p.display.view.Zoom = in.number();
        p.display.view.PanX = in.small();
        p.display.view.PanY = in.small();
        CreateDisplaySurface(p.display, p.size());
        break;
      case 6:
        x = in.number();
        y = in.number();
        Form_MouseDown(p, in.byte() % 8, in.byte() % 8, x, y);
        break;
      case 7:
        x = in.number();
        y = in.number();
        Form_MouseMove(p, in.byte() % 8, in.byte() % 8, x, y);
        break;
      case 8:
        x = in.number();
        y = in.number();
        Form_MouseUp(p, in.byte() % 8, in.byte() % 8, x, y);
        if (!p.stroke.MouseIsDown) check_coverage_clear(p);
        break;
      case 9: {
        const int16_t code =
            static_cast<int16_t>(in.byte() % 4 == 0 ? key_code::kComma : 187 + in.byte() % 3);
        if (in.byte() % 2)
          Form_KeyDown(p, code, in.byte() % 8);
        else
          Form_KeyUp(p, code, in.byte() % 8);
        break;
      }
      case 10: {
        p.tablet.TabletOn = in.byte() % 2;
        p.tablet.PenInProximity = in.byte() % 2;
        p.tablet.TabletMaxX = in.word();
        p.tablet.TabletMaxY = in.word();
        TabletPacket packet{in.word(), in.word(), in.word()};
        packet.Altitude = in.small();
        Tablet_PacketArrival(p.tablet, packet, ScreenGeometry{1024, 768, in.small(), in.small()},
                             in.word());
        break;
      }
      case 11:
        switch (in.byte() % 4) {
          case 0:
            Undo(p);
            break;
          case 1:
            Clear(p);
            break;
          case 2:
            fit_to_window(p);
            break;
          default:
            actual_size(p);
            break;
        }
        break;
    }
  }
  return 0;
}
