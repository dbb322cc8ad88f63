#include "canvas/image_history.h"

#include "canvas/canvas_buffers.h"
#include "canvas/display_surface.h"
#include "canvas/undo_stack.h"

namespace tarvo {

namespace {

void blit_committed(Program& program) {
  CanvasBuffers& c = program.canvas;
  BlitPlanes(program.display, program.size(), c.RBuffer, c.GBuffer, c.BBuffer, 0, 0,
             c.BufferWidth - 1, c.BufferHeight - 1);
}

bool painting(const Program& program) {
  return program.stroke.MouseIsDown && program.stroke.press_mode == PressMode::Paint;
}

}  // namespace

void Undo(Program& program) {
  if (!restore_newest(program.undo, program.canvas, painting(program))) return;
  program.dabs.changes.invalidate();  // a stroke under way composites its boxes in full again
  blit_committed(program);
}

void Redo(Program& program) {
  if (!restore_undone(program.undo, program.canvas, painting(program))) return;
  program.dabs.changes.invalidate();
  blit_committed(program);
}

void Clear(Program& program) {
  CanvasBuffers& c = program.canvas;
  PushUndo(program.undo, c, 0, 0, static_cast<float>(c.BufferWidth - 1),
           static_cast<float>(c.BufferHeight - 1));
  clearbuffer(c);
  program.dabs.changes.invalidate();
  blit_committed(program);
}

}  // namespace tarvo
