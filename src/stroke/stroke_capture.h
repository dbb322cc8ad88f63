#pragma once
// The canvas pointer handlers: each press, move and release goes to view navigation (Shift and Ctrl
// held), to the colour pick (comma key held) or to painting. Positions are canvas client pixels;
// while the pen is near the tablet they are replaced by the pen's position, written back into X
// and Y. Button is the button mask (1 left, 2 right, 4 middle; in a move the buttons held), Shift
// the modifier mask.
//
// The mode is fixed by the press: a drag that starts navigating keeps navigating until its release,
// whatever the modifiers do meanwhile. A second press during a drag and a release without a press
// on the canvas are ignored.

#include <cstdint>

#include "core/program.h"

namespace tarvo {

void Form_MouseDown(Program& program, int16_t Button, int16_t Shift, float& X, float& Y);
void Form_MouseMove(Program& program, int16_t Button, int16_t Shift, float& X, float& Y);
void Form_MouseUp(Program& program, int16_t Button, int16_t Shift, float& X, float& Y);

// Makes the committed colour under client position (X, Y) the paint colour, through the panel's
// colour sliders; a position outside the image does nothing.
void colour_pick(const ViewState& view, const CanvasBuffers& canvas, ToolsPanel* panel, float X,
                 float Y);

}  // namespace tarvo
