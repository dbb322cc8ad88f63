#pragma once
// Every exchange of image data with the host after start-up: re-reading the paper, fetching the
// image again, sending it back, and the write-back when the canvas closes.

#include <string>

#include "app/program.h"

namespace tarvo {

// The close question, shown when the host's image size no longer matches the canvas.
inline constexpr const char* kSizeChangedQuestion =
    "Can't copy buffer back to Project Wickamber because the buffer size has changed\r"
    "Loose all changes?";

// "Options" > "Get paper": the next strokes use the host's current paper texture.
void get_paper(Program& program);

// Fetches the host's image as the committed planes, after saving the whole image on the undo stack
// so that the fetch can be undone. Planes of another size than the canvas are refused: the canvas,
// its undo stack and the host are left as they were, and a sentence for the user naming both sizes
// is returned (empty on success).
std::string GetImage(Program& program);

// Hands the committed planes to the host: Wik_SaveUndo, the three set calls, wik_Refresh.
void SendImage(Program& program);

// The close sequence. Sets cancel when the user chooses to keep the canvas open. A host error during
// the size check or the write-back skips the rest of it; the teardown always runs.
void Form_Unload(Program& program, bool& cancel);

}  // namespace tarvo
