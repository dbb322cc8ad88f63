#pragma once
// Undo, Redo and Clear as the canvas and the tools panel trigger them: the undo stack operations
// plus the redraw of the whole image.

#include "core/program.h"

namespace tarvo {

// Restores the newest undo record and redraws the whole image; does nothing on an empty stack.
void Undo(Program& program);

// Puts back what the last Undo took back and redraws the whole image; does nothing when nothing
// was undone since the last change.
void Redo(Program& program);

// Saves the whole image on the undo stack, clears it to white and redraws it.
void Clear(Program& program);

}  // namespace tarvo
