#pragma once
// The undo stack: rectangles of the committed planes saved before they change.
//
// One record is five items in push order: blue patch, green patch, red patch, top, left. Patch
// element (i, j) holds the plane pixel (left + i, top + j). Records are appended and taken from the
// end; trimming drops the oldest from the front. Before a push, when more than MaxUndo records are
// held the oldest one goes, so at most MaxUndo + 1 records exist after a push.
//
// A record of the whole image keeps whole copies of the committed planes, spare column and row
// included: a push then copies each plane in one block, and Undo hands the record's planes to the
// canvas in place of its own instead of copying them back. Patch element (i, j) is plane pixel
// (left + i, top + j) either way; a record's bytes count its width x height pixels only.
//
// An image with alpha keeps the same rectangle of its own colours and alpha (CanvasBuffers::layer)
// in each record, beside the colour patches, and a record's bytes count seven a pixel instead of
// three.
//
// The records' bytes are bounded too: 129 whole-image records of a large image would take more
// memory than the machine has and end the program with the user's work. After a push the oldest
// records go while the stack holds more than byte_budget bytes; the newest record always stays.
//
// Undo keeps what it overwrites as a redo record, so that Redo can put it back: a redo record is a
// record like the others, saved from the planes just before Undo restored over them. Redo restores
// the newest redo record the same way and keeps what it overwrites as an undo record again. A
// push (a new change) drops every redo record first, so redo records count against the same
// byte budget and are never held at the cost of an undo record.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "canvas/canvas_buffers.h"
#include "core/undo_state.h"

namespace tarvo {

// A quarter of the machine's physical memory: the default byte budget.
std::size_t default_undo_budget();

// Drops the oldest record, keeping bytes_held in step.
void drop_oldest(UndoStack& stack);

// Saves a rectangle (image coordinates, normalised as for ClearFXbuffer) of the committed planes.
// An empty rectangle pushes nothing.
void PushUndo(UndoStack& stack, const CanvasBuffers& canvas, float left, float top, float right,
              float bottom);

// Restores the newest record into the committed planes and copies them to the previews. Returns
// false, having changed nothing, when the stack is empty. The caller redraws the image.
// Between strokes the previews are refreshed over the restored rectangle and wherever the preview
// pass has written since their last refresh (previews_differ), which leaves them equal to the
// committed planes everywhere without copying the whole image; during a stroke the previews hold
// its paint and are copied whole. A whole-
// image record's planes replace the committed planes' storage, keeping the committed planes'
// spare column and row; the storage they leave is kept for the next whole-image push.
// What the restore overwrote becomes the newest redo record.
bool restore_newest(UndoStack& stack, CanvasBuffers& canvas, bool stroke_in_progress = false);

// Redo: restores the newest redo record as restore_newest restores an undo record, and keeps what
// it overwrote as the newest undo record. Returns false, having changed nothing, when there is
// nothing to redo.
bool restore_undone(UndoStack& stack, CanvasBuffers& canvas, bool stroke_in_progress = false);

}  // namespace tarvo
