#pragma once
// The program's shared state: one instance of every subsystem's state, created by Main and referred
// to by every window. Tests create their own.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/brush_settings.h"
#include "core/brush_tables_state.h"
#include "core/canvas_state.h"
#include "core/dab_line_state.h"
#include "core/display_state.h"
#include "core/host.h"
#include "core/stroke_state.h"
#include "core/tablet_device.h"
#include "core/tablet_state.h"
#include "core/undo_state.h"

namespace tarvo {

inline constexpr const char* kAppTitle = "Tarvo 1.1 for Marlet - Spline based paint engine";

class EventSink;

// What canvas code, the event-script player, the recorder and the session journal ask of the tools
// panel. Until a panel exists these do nothing.
class ToolsPanel {
 public:
  virtual ~ToolsPanel() = default;
  // Sets the Red, Green and Blue sliders in that order; each raises its change chain.
  virtual void set_colour_sliders(uint8_t red, uint8_t green, uint8_t blue) = 0;
  virtual void redraw_triangle() = 0;
  virtual void show_panel() = 0;
  // Unloads the tools panel and the hidden menu window when the canvas closes.
  virtual void unload_panel() = 0;
  // Copies the Press, Size, Opacity and Step sliders, in that order, into PenPress, BrushSize,
  // Opacity and StepPercent (the canvas does this once, as it loads). A panel without sliders
  // leaves the settings as they are.
  virtual void copy_brush_sliders(BrushSettings& brush) { (void)brush; }

  // The input entry points: the panel's own controls and the event-script player both come
  // through them, so that a replayed script takes exactly the path of the user's input. n names
  // the control: kv_button<n>, HProp<n>; i is the mode menu item's position, from 0.
  virtual void button_mouse_down(int, int16_t, int16_t, float, float) {}
  virtual void button_mouse_move(int, int16_t, int16_t, float, float) {}
  virtual void button_mouse_up(int, int16_t, int16_t, float, float) {}
  virtual void button_click(int) {}
  virtual void slider_input(int, int16_t) {}
  virtual void mode_menu_click(std::size_t) {}
  virtual void picker_mouse_move(int16_t, int16_t, float, float) {}
  virtual void hue_mouse_move(int16_t, int16_t, float, float) {}

  // Where the panel reports each input before it handles it; null: nowhere.
  virtual void set_event_sink(EventSink*) {}
  virtual EventSink* event_sink() const { return nullptr; }

  // The state a session journal's prelude restores: whether preset button n is pressed, and
  // slider n's value (HProp1 .. HProp<kSliderCount>).
  static constexpr int kSliderCount = 8;
  virtual bool preset_pressed(int) const { return false; }
  virtual int16_t slider_value(int) const { return 0; }
};

struct Program {
  std::unique_ptr<Host> HostApp;
  CanvasBuffers canvas;
  PaperTexture paper;
  UndoStack undo;
  CanvasDisplay display;  // Zoom, PanX, PanY, PickMode, the display surface, the canvas window
  StrokeState stroke;
  TabletState tablet;
  BrushSettings brush;
  BrushTables tables;
  DabLineState dabs;
  ToolsPanel* panel = nullptr;
  // The tablet service, when the canvas has one; closed by the close sequence.
  TabletDevice* tablet_device = nullptr;
  // Set by the close sequence when the host's image holds the committed planes as the canvas
  // closes: the write-back succeeded, or there was nothing to write.
  bool closed_with_image_written = false;
  // Fetches the host's image as it is now and plays the session's inputs since the image was last
  // read or written over it (what a host's RepaintOntoHostImage asks for); false when it could
  // not, the user told why. Set by the session journal, which keeps those inputs. Scales other
  // than 1 fetch the image at its new size and paint the strokes scaled by them.
  std::function<bool(double scale_x, double scale_y)> repaint_onto_host;
  // What the brush size slider's value is multiplied by: 1 but while strokes are painted again
  // onto an image of another scale.
  float brush_scale = 1.0f;

  ImageSize size() const { return ImageSize{canvas.BufferWidth, canvas.BufferHeight}; }
};

}  // namespace tarvo
