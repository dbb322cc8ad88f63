#pragma once
// Undo, Redo and Clear as the canvas and the tools panel trigger them: the undo stack operations
// plus the redraw of the whole image. Each also drops what the coverage of a stroke under way
// knew of the planes, so that the stroke composites its boxes in full again.

#include "core/canvas_state.h"
#include "core/coverage_changes.h"
#include "core/display_state.h"
#include "core/program.h"
#include "core/undo_state.h"

namespace tarvo {

// Restores the newest undo record and redraws the whole image; does nothing on an empty stack.
// While a stroke is painting, its previews are kept.
void Undo(UndoStack& undo, CanvasBuffers& canvas, CoverageChanges& changes, CanvasDisplay& display,
          bool stroke_painting);

// Puts back what the last Undo took back and redraws the whole image; does nothing when nothing
// was undone since the last change.
void Redo(UndoStack& undo, CanvasBuffers& canvas, CoverageChanges& changes, CanvasDisplay& display,
          bool stroke_painting);

// Saves the whole image on the undo stack, clears it to white and redraws it.
void Clear(UndoStack& undo, CanvasBuffers& canvas, CoverageChanges& changes,
           CanvasDisplay& display);

// The same on the program's own state, as the key handlers and the tools panel's buttons call them.
inline void Undo(Program& p) {
  Undo(p.undo, p.canvas, p.dabs.changes, p.display, stroke_on_screen(p.stroke));
}
inline void Redo(Program& p) {
  Redo(p.undo, p.canvas, p.dabs.changes, p.display, stroke_on_screen(p.stroke));
}
inline void Clear(Program& p) {
  Clear(p.undo, p.canvas, p.dabs.changes, p.display);
}

}  // namespace tarvo
