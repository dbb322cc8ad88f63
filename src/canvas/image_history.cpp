#include "canvas/image_history.h"

#include "canvas/canvas_buffers.h"
#include "canvas/display_surface.h"
#include "canvas/undo_stack.h"

namespace tarvo {

namespace {

void blit_committed(CanvasDisplay& display, const CanvasBuffers& c) {
  BlitPlanes(display, ImageSize{c.BufferWidth, c.BufferHeight}, c.RBuffer, c.GBuffer, c.BBuffer, 0,
             0, c.BufferWidth - 1, c.BufferHeight - 1);
}

}  // namespace

void Undo(UndoStack& undo, CanvasBuffers& canvas, CoverageChanges& changes, CanvasDisplay& display,
          bool stroke_painting) {
  if (!restore_newest(undo, canvas, stroke_painting)) return;
  changes.invalidate();
  blit_committed(display, canvas);
}

void Redo(UndoStack& undo, CanvasBuffers& canvas, CoverageChanges& changes, CanvasDisplay& display,
          bool stroke_painting) {
  if (!restore_undone(undo, canvas, stroke_painting)) return;
  changes.invalidate();
  blit_committed(display, canvas);
}

void Clear(UndoStack& undo, CanvasBuffers& canvas, CoverageChanges& changes,
           CanvasDisplay& display) {
  PushUndo(undo, canvas, 0, 0, static_cast<float>(canvas.BufferWidth - 1),
           static_cast<float>(canvas.BufferHeight - 1));
  clearbuffer(canvas);
  changes.invalidate();
  blit_committed(display, canvas);
}

}  // namespace tarvo
