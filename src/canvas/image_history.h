#pragma once
// Undo and Clear as the canvas and the tools panel trigger them: the undo stack operations plus the
// redraw of the whole image.

#include "app/program.h"

namespace tarvo {

// Restores the newest undo record and redraws the whole image; does nothing on an empty stack.
void Undo(Program& program);

// Saves the whole image on the undo stack, clears it to white and redraws it.
void Clear(Program& program);

}  // namespace tarvo
