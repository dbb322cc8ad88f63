#pragma once
// Every exchange of image data with the host after start-up: re-reading the paper, fetching the
// image again, sending it back, and the write-back when the canvas closes.

#include <functional>
#include <string>

#include "core/program.h"

namespace tarvo {

// The close question, shown when the host's image (image_name, as Host::image_name gives it) has a
// size (host_width x host_height) that no longer matches the canvas. Lines break with a carriage
// return.
std::string size_changed_question(const std::string& image_name, int32_t host_width,
                                  int32_t host_height, const ImageSize& canvas);

// "Options" > "Get paper": the next strokes use the host's current paper texture.
void get_paper(Program& program);

// Fetches the host's image as the committed planes, after saving the whole image on the undo stack
// so that the fetch can be undone. Planes of another size than the canvas are refused: the canvas,
// its undo stack and the host are left as they were, and a sentence for the user naming both sizes
// is returned (empty on success).
std::string GetImage(Program& program);
// Fetches the host's image at the size it has now, which may differ from the canvas's: the canvas
// takes that size, and its undo stack starts empty (the records hold pixels of the old size).
// Returns a sentence for the user when the image cannot be fetched (empty on success).
std::string GetImageOfNewSize(Program& program);

// Hands the committed planes to the host: Wik_SaveUndo, the three set calls, wik_Refresh. Returns
// false when the host could not take them (ImageNotWritten: the host has told the user and kept a
// copy); the canvas then goes on as it was. Any other host error is raised. A host that found its
// image changed elsewhere and was asked to take the session's strokes onto it as it is now
// (RepaintOntoHostImage) gets them through Program::repaint_onto_host, and the planes again.
bool SendImage(Program& program);
// The same with the host, the planes it is given and the repaint it may ask for, for a caller that
// needs to know why the planes were not taken.
void send_or_raise(Host& host, const CanvasBuffers& canvas,
                   const std::function<bool(double, double)>& repaint_onto_host);

// The close sequence. Sets cancel when the user chooses to keep the canvas open, which is also what
// happens when the image could not be written while someone is looking. Any other host error during
// the size check or the write-back skips the rest of it; the teardown always runs. Sets
// closed_with_image_written when the host's image holds the planes as the canvas closes.
void Form_Unload(Program& program, bool& cancel);

}  // namespace tarvo
