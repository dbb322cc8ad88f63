#pragma once
// The program's shared state: one instance of every subsystem's state, created by Main and referred
// to by every window. Tests create their own.

#include <functional>
#include <memory>
#include <string>

#include "app/host.h"
#include "canvas/canvas_buffers.h"
#include "canvas/display_surface.h"
#include "canvas/undo_stack.h"
#include "render/brush_settings.h"
#include "render/brush_tables.h"
#include "render/dab_line_state.h"
#include "stroke/stroke_state.h"
#include "tablet/tablet.h"
#include "tablet/tablet_state.h"

namespace tarvo {

inline constexpr const char* kAppTitle = "Tarvo 1.1 for Marlet - Spline based paint engine";

// What canvas code asks of the tools panel. Until a panel exists these do nothing.
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

  ImageSize size() const { return ImageSize{canvas.BufferWidth, canvas.BufferHeight}; }
};

// Creates the canvas window object for the program (not shown). The window must outlive the run.
using CanvasFactory = std::function<CanvasWindow&(Program&)>;

// The start routine: view and undo defaults, the host object, the tables, the paper and the image,
// the planes, the display surface, then hands the canvas window to the host. Any error ends it.
void Main(Program& program, const HostRegistry& registry, const CanvasFactory& create_canvas);

// Takes the host's three colour planes as the committed image. Raises an error, leaving the program's
// planes as they were, when a plane does not have the expected shape.
void take_host_planes(Program& program);

}  // namespace tarvo
