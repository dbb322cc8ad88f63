#include "canvas/undo_stack.h"

#include <unistd.h>

#include <cstring>

namespace tarvo {

namespace {

Plane cut_patch(UndoStack& stack, const Plane& plane, const PixelRect& r) {
  Plane patch;
  if (!stack.spare_patches.empty() && stack.spare_patches.back().columns() == r.width() &&
      stack.spare_patches.back().rows() == r.height()) {
    patch = std::move(stack.spare_patches.back());
    stack.spare_patches.pop_back();
  } else {
    patch = Plane(r.width(), r.height());
  }
  for (int32_t j = 0; j < r.height(); ++j) {
    std::memcpy(patch.row(j), plane.row(r.top + j) + r.left, r.width());
  }
  return patch;
}

// Writes the patch into the committed plane and its preview: outside a stroke the two are equal
// everywhere, so the rectangle is all the preview needs.
void paste_patch(Plane& plane, Plane& preview, const Plane& patch, int32_t left, int32_t top) {
  for (int32_t j = 0; j < patch.rows(); ++j) {
    std::memcpy(plane.row(top + j) + left, patch.row(j), patch.columns());
    std::memcpy(preview.row(top + j) + left, patch.row(j), patch.columns());
  }
}

std::size_t record_bytes(const UndoRecord& r) { return r.red.size() + r.green.size() + r.blue.size(); }

}  // namespace

std::size_t default_undo_budget() {
  const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page <= 0) return std::size_t{1} << 30;
  return static_cast<std::size_t>(pages) * static_cast<std::size_t>(page) / 4;
}

void drop_oldest(UndoStack& stack) {
  if (stack.records.empty()) return;
  stack.bytes_held -= record_bytes(stack.records.front());
  stack.records.pop_front();
}

void PushUndo(UndoStack& stack, const CanvasBuffers& canvas, float left, float top, float right,
              float bottom) {
  const PixelRect r =
      normalise_rect(left, top, right, bottom, canvas.BufferWidth, canvas.BufferHeight);
  if (r.empty()) return;
  if (stack.item_count() / 5 > static_cast<std::size_t>(stack.MaxUndo)) drop_oldest(stack);
  const std::size_t bytes = std::size_t{3} * r.width() * r.height();
  // Make room before copying, so the old records and the new one are never all held at once.
  while (!stack.records.empty() && stack.bytes_held + bytes > stack.byte_budget) drop_oldest(stack);
  UndoRecord record{cut_patch(stack, canvas.BBuffer, r), cut_patch(stack, canvas.GBuffer, r),
                    cut_patch(stack, canvas.RBuffer, r), r.top, r.left};
  stack.spare_patches.clear();
  stack.bytes_held += bytes;
  stack.records.push_back(std::move(record));
}

bool restore_newest(UndoStack& stack, CanvasBuffers& canvas, bool stroke_in_progress) {
  if (stack.records.empty()) return false;
  UndoRecord record = std::move(stack.records.back());
  stack.records.pop_back();
  stack.bytes_held -= record_bytes(record);
  paste_patch(canvas.RBuffer, canvas.RPreview, record.red, record.left, record.top);
  paste_patch(canvas.GBuffer, canvas.GPreview, record.green, record.left, record.top);
  paste_patch(canvas.BBuffer, canvas.BPreview, record.blue, record.left, record.top);
  if (stroke_in_progress) copy_to_previews(canvas);
  stack.spare_patches.clear();
  if (record.red.size() * 3 <= stack.byte_budget / 4) {
    stack.spare_patches.push_back(std::move(record.red));
    stack.spare_patches.push_back(std::move(record.green));
    stack.spare_patches.push_back(std::move(record.blue));
  }
  return true;
}

}  // namespace tarvo
