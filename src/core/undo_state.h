#pragma once
// The undo stack's records, as plain state. How records are pushed, trimmed and restored is
// described with the operations in canvas/undo_stack.h.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "core/layer_planes.h"
#include "core/plane.h"

namespace tarvo {

struct UndoRecord {
  Plane blue, green, red;
  LayerPlanes layer;  // the same rectangle of the image's own colours and alpha, if it has them
  int32_t top = 0;
  int32_t left = 0;
  // The patch's extent in image pixels.
  int32_t width = 0, height = 0;
  // True when the planes are whole copies of the committed planes (a record of the whole image).
  bool whole_planes = false;
  // The change it undoes, numbered from 1 in the order the changes were made; a redo record keeps
  // the number of the change it brings back.
  uint64_t change = 0;
};

struct UndoStack {
  std::deque<UndoRecord> records;
  // Redo records, newest (the next to redo) last.
  std::deque<UndoRecord> undone;
  int32_t MaxUndo = 128;
  std::size_t byte_budget = SIZE_MAX;
  std::size_t bytes_held = 0;    // by the undo records
  std::size_t undone_bytes = 0;  // by the redo records
  uint64_t changes_made = 0;     // the number of the newest change pushed
  // The planes freed by the last Undo or Redo, kept for the next push of the same size: a fresh
  // whole-image patch costs more in page faults than in copying.
  std::vector<Plane> spare_patches;

  // The number of items of the variant list the records stand for: five per record.
  std::size_t item_count() const { return records.size() * 5; }
  bool empty() const { return records.empty(); }
};

}  // namespace tarvo
