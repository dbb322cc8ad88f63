#include "app/startup.h"

#include "canvas/canvas_buffers.h"
#include "canvas/display_surface.h"
#include "core/runtime_error.h"
#include "render/brush_tables.h"

namespace tarvo {

namespace {

void expect_shape(const Plane& plane, int32_t columns, int32_t rows, const char* what) {
  if (plane.columns() != columns || plane.rows() != rows) {
    throw RuntimeError(error_number::kHostCallFailed,
                       std::string("The host's ") + what + " plane is " +
                           std::to_string(plane.columns()) + " x " + std::to_string(plane.rows()) +
                           " bytes; expected " + std::to_string(columns) + " x " +
                           std::to_string(rows));
  }
}

void read_paper(Host& host, PaperTexture& paper) {
  const int32_t width = host.Wik_GetPaperWidth();
  const int32_t height = host.wik_GetPaperHeight();
  Plane texture = host.Wik_GetPaper();
  if (width <= 0 || height <= 0 || texture.columns() < width || texture.rows() < height) {
    throw RuntimeError(error_number::kHostCallFailed,
                       "The host's paper texture does not match its size " + std::to_string(width) +
                           " x " + std::to_string(height));
  }
  paper.PaperWidth = width;
  paper.PaperHeight = height;
  paper.PaperBuffer = std::move(texture);
}

}  // namespace

void take_host_planes(Host& host, CanvasBuffers& canvas) {
  const int32_t columns = canvas.BufferWidth + 1, rows = canvas.BufferHeight + 1;
  Plane red = host.Wik_GetRBuffer();
  expect_shape(red, columns, rows, "red");
  Plane green = host.Wik_GetGBuffer();
  expect_shape(green, columns, rows, "green");
  Plane blue = host.Wik_GetBBuffer();
  expect_shape(blue, columns, rows, "blue");
  LayerPlanes layer = host.layer_planes();
  if (!layer.empty()) {
    expect_shape(layer.red, columns, rows, "layer's red");
    expect_shape(layer.green, columns, rows, "layer's green");
    expect_shape(layer.blue, columns, rows, "layer's blue");
    expect_shape(layer.alpha, columns, rows, "alpha");
  }
  canvas.RBuffer = std::move(red);
  canvas.GBuffer = std::move(green);
  canvas.BBuffer = std::move(blue);
  canvas.layer = std::move(layer);
}

void Main(Program& program, const HostRegistry& registry, const CanvasFactory& create_canvas) {
  program.display.view.Zoom = 1.0f;
  program.display.view.PanX = 0;
  program.display.view.PanY = 0;
  const std::size_t undo_budget = program.undo.byte_budget;  // chosen on the command line
  program.undo = UndoStack{};
  program.undo.MaxUndo = 128;
  program.undo.byte_budget = undo_budget;
  program.HostApp = registry.create(kHostProgId);
  BuildCoverageCurves(program.tables);
  BuildBlendTable(program.tables);
  read_paper(*program.HostApp, program.paper);

  Host& host = *program.HostApp;
  const int32_t width = host.Wik_BufferWidth();
  const int32_t height = host.Wik_BufferHeight();
  if (width <= 0 || height <= 0) {
    throw RuntimeError(error_number::kHostCallFailed, "The host's image has no pixels (" +
                                                          std::to_string(width) + " x " +
                                                          std::to_string(height) + ")");
  }
  allocate_planes(program.canvas, width, height);
  take_host_planes(*program.HostApp, program.canvas);
  copy_to_previews(program.canvas);
  CreateDisplaySurface(program.display, program.size());
  program.display.AppTitle = kAppTitle;
  CanvasWindow& canvas_window = create_canvas(program);
  program.display.window = &canvas_window;
  host.Wik_SendFormObject(canvas_window, 0);
}

}  // namespace tarvo
