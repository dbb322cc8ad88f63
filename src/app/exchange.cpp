#include "app/exchange.h"

#include <exception>

#include "canvas/canvas_buffers.h"
#include "canvas/display_surface.h"
#include "canvas/undo_stack.h"
#include "core/runtime_error.h"
#include "tablet/tablet.h"

namespace tarvo {

void get_paper(Program& program) {
  Host& host = *program.HostApp;
  PaperTexture fresh;
  fresh.PaperWidth = host.Wik_GetPaperWidth();
  fresh.PaperHeight = host.wik_GetPaperHeight();
  fresh.PaperBuffer = host.Wik_GetPaper();
  if (fresh.PaperWidth <= 0 || fresh.PaperHeight <= 0 ||
      fresh.PaperBuffer.columns() < fresh.PaperWidth ||
      fresh.PaperBuffer.rows() < fresh.PaperHeight) {
    throw RuntimeError(error_number::kHostCallFailed,
                       "The host's paper texture does not match its size " +
                           std::to_string(fresh.PaperWidth) + " x " +
                           std::to_string(fresh.PaperHeight));
  }
  program.paper = std::move(fresh);
  program.dabs.changes.invalidate();  // a stroke under way composites its boxes in full again
}

std::string GetImage(Program& program) {
  CanvasBuffers& canvas = program.canvas;
  Plane red, green, blue;
  LayerPlanes layer;
  try {
    red = program.HostApp->Wik_GetRBuffer();
    green = program.HostApp->Wik_GetGBuffer();
    blue = program.HostApp->Wik_GetBBuffer();
    layer = program.HostApp->layer_planes();
  } catch (const ImageNotWritten& error) {
    // The host is gone, and has said so: the canvas keeps its picture.
    return "The image was not fetched: " + std::string(error.what()) +
           ". The canvas keeps its picture.";
  }
  const int32_t columns = canvas.BufferWidth + 1, rows = canvas.BufferHeight + 1;
  const bool own = !layer.empty();  // an image without alpha has no layer planes
  for (const Plane* plane :
       {&red, &green, &blue, &layer.red, &layer.green, &layer.blue, &layer.alpha}) {
    if (!own && plane != &red && plane != &green && plane != &blue) continue;
    if (plane->columns() != columns || plane->rows() != rows) {
      // The host's image has another size: the canvas, its undo stack and the host stay as they
      // are. The whole-image record is pushed only once the planes are known to fit.
      return "The image was not fetched: it is now " + std::to_string(plane->columns() - 1) +
             " x " + std::to_string(plane->rows() - 1) + " pixels, while the canvas is " +
             std::to_string(canvas.BufferWidth) + " x " + std::to_string(canvas.BufferHeight) +
             " pixels. The canvas keeps its picture.";
    }
  }
  PushUndo(program.undo, canvas, 0, 0, static_cast<float>(canvas.BufferWidth - 1),
           static_cast<float>(canvas.BufferHeight - 1));
  canvas.RBuffer = std::move(red);
  canvas.GBuffer = std::move(green);
  canvas.BBuffer = std::move(blue);
  canvas.layer = std::move(layer);
  copy_to_previews(canvas);
  program.dabs.changes.invalidate();  // a stroke under way composites its boxes in full again
  displaybuffers(program.display, program.size(), canvas.RBuffer, canvas.GBuffer, canvas.BBuffer);
  return {};
}

std::string GetImageOfNewSize(Program& program) {
  Host& host = *program.HostApp;
  int32_t width = 0, height = 0;
  Plane red, green, blue;
  LayerPlanes layer;
  try {
    width = host.Wik_BufferWidth();
    height = host.Wik_BufferHeight();
    red = host.Wik_GetRBuffer();
    green = host.Wik_GetGBuffer();
    blue = host.Wik_GetBBuffer();
    layer = host.layer_planes();
  } catch (const ImageNotWritten& error) {
    return "The image was not fetched: " + std::string(error.what()) +
           ". The canvas keeps its picture.";
  }
  for (const Plane* plane :
       {&red, &green, &blue, &layer.red, &layer.green, &layer.blue, &layer.alpha}) {
    if (layer.empty() && plane != &red && plane != &green && plane != &blue) continue;
    if (width <= 0 || height <= 0 || plane->columns() != width + 1 || plane->rows() != height + 1) {
      return "The image was not fetched: the host handed out planes that do not match its size " +
             std::to_string(width) + " x " + std::to_string(height) +
             ". The canvas keeps its picture.";
    }
  }
  allocate_planes(program.canvas, width, height);
  CanvasBuffers& canvas = program.canvas;
  canvas.RBuffer = std::move(red);
  canvas.GBuffer = std::move(green);
  canvas.BBuffer = std::move(blue);
  canvas.layer = std::move(layer);
  copy_to_previews(canvas);
  UndoStack& undo = program.undo;
  undo.records.clear();
  undo.undone.clear();
  undo.spare_patches.clear();
  undo.bytes_held = 0;
  undo.undone_bytes = 0;
  program.dabs.changes.invalidate();
  ReleaseDisplaySurface(program.display.surface);
  CreateDisplaySurface(program.display, program.size());
  displaybuffers(program.display, program.size(), canvas.RBuffer, canvas.GBuffer, canvas.BBuffer);
  return {};
}

void send_or_raise(Host& host, const CanvasBuffers& canvas,
                   const std::function<bool(double, double)>& repaint_onto_host) {
  for (;;) {
    try {
      host.Wik_SaveUndo();
      host.Wik_SetRbuffer(canvas.RBuffer);
      host.Wik_SetGbuffer(canvas.GBuffer);
      host.Wik_SetBbuffer(canvas.BBuffer);
      if (!canvas.layer.empty()) host.set_layer_planes(canvas.layer);
      host.wik_Refresh();
      return;
    } catch (const RepaintOntoHostImage& wanted) {
      // The strokes go onto the host's image as it is now (repainting canvas), and that is sent:
      // the host asks again should its image change once more meanwhile.
      if (!repaint_onto_host || !repaint_onto_host(wanted.scale_x(), wanted.scale_y())) {
        throw ImageNotWritten(wanted.description(), true);
      }
    }
  }
}

bool SendImage(Program& program) {
  try {
    send_or_raise(*program.HostApp, program.canvas, program.repaint_onto_host);
  } catch (const ImageNotWritten&) {
    return false;
  }
  return true;
}

std::string size_changed_question(const std::string& image_name, int32_t host_width,
                                  int32_t host_height, const ImageSize& canvas) {
  return image_name + " was changed by another program since it was opened: its size is now " +
         std::to_string(host_width) + " x " + std::to_string(host_height) + ", the canvas is " +
         std::to_string(canvas.BufferWidth) + " x " + std::to_string(canvas.BufferHeight) +
         ".\rClose without writing? Your painting is kept in the recovery folder.";
}

namespace {

// Steps 2 and 3 of the close: returns false when the canvas stays open.
bool size_check_and_write_back(Program& program) {
  Host& host = *program.HostApp;
  int32_t host_width = 0, host_height = 0;
  try {
    host_width = host.Wik_BufferWidth();
    host_height = host.Wik_BufferHeight();
  } catch (const ImageNotWritten&) {
    return true;  // the host is gone and has said so: the session keeps a recovery copy
  }
  // A host that asks about another size itself does so as the image is sent, with its choices.
  if ((host_width != program.canvas.BufferWidth || host_height != program.canvas.BufferHeight) &&
      !host.asks_about_size()) {
    const bool yes =
        program.display.window && program.display.window->ask_yes_no(size_changed_question(
                                      host.image_name(), host_width, host_height, program.size()));
    if (!yes) return false;
    return true;  // close without writing back; the session keeps a recovery copy
  }
  try {
    send_or_raise(*program.HostApp, program.canvas, program.repaint_onto_host);
  } catch (const ImageNotWritten& error) {
    // The user chose to keep painting, and the canvas stays open; with no one to ask, the close
    // goes on and the painting stays in the recovery folder.
    return !error.keep_painting();
  }
  program.closed_with_image_written = true;
  return true;
}

void teardown(Program& program) {
  ReleaseDisplaySurface(program.display.surface);
  close_tablet(program.tablet_device);
  if (program.panel) program.panel->unload_panel();
}

}  // namespace

void Form_Unload(Program& program, bool& cancel) {
  cancel = false;
  program.closed_with_image_written = false;
  try {
    if (program.HostApp && !size_check_and_write_back(program)) {
      cancel = true;
      if (program.panel) program.panel->show_panel();
      return;
    }
  } catch (const std::exception&) {
    // A failing host never keeps the canvas open; the write-back is abandoned.
  }
  teardown(program);
}

}  // namespace tarvo
