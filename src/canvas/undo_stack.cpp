#include "canvas/undo_stack.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "canvas/row_split.h"

namespace tarvo {

namespace {

// A plane of the given shape: one the last Undo freed when it fits, else a fresh one.
Plane take_plane(UndoStack& stack, int32_t columns, int32_t rows) {
  std::vector<Plane>& spares = stack.spare_patches;
  for (auto it = spares.begin(); it != spares.end(); ++it) {
    if (it->columns() == columns && it->rows() == rows) {
      Plane plane = std::move(*it);
      spares.erase(it);
      return plane;
    }
  }
  return Plane(columns, rows);
}

bool same_shape(const Plane& a, const Plane& b) {
  return a.columns() == b.columns() && a.rows() == b.rows();
}

// True when the rectangle is the whole image of committed planes of one shape.
bool covers_whole_planes(const CanvasBuffers& canvas, const PixelRect& r) {
  return r.left == 0 && r.top == 0 && r.right == canvas.BufferWidth &&
         r.bottom == canvas.BufferHeight && same_shape(canvas.RBuffer, canvas.GBuffer) &&
         same_shape(canvas.RBuffer, canvas.BBuffer);
}

UndoRecord cut_record(UndoStack& stack, const CanvasBuffers& canvas, const PixelRect& r) {
  UndoRecord record;
  record.top = r.top;
  record.left = r.left;
  record.width = r.width();
  record.height = r.height();
  record.whole_planes = covers_whole_planes(canvas, r);
  const Plane* from[3] = {&canvas.BBuffer, &canvas.GBuffer, &canvas.RBuffer};
  Plane* to[3] = {&record.blue, &record.green, &record.red};
  RowCopy copies[3];
  for (int i = 0; i < 3; ++i) {
    if (record.whole_planes) {
      *to[i] = take_plane(stack, from[i]->columns(), from[i]->rows());
      copies[i] = RowCopy{from[i], to[i], 0, 0, 0, 0, from[i]->columns()};
    } else {
      *to[i] = take_plane(stack, r.width(), r.height());
      copies[i] = RowCopy{from[i], to[i], r.left, r.top, 0, 0, r.width()};
    }
  }
  copy_rows(canvas.helper, copies, 3, record.whole_planes ? from[0]->rows() : r.height());
  if (!canvas.layer.empty()) {
    if (record.whole_planes) {
      record.layer = canvas.layer.copy();
      return record;
    }
    const Plane* layer_from[4] = {&canvas.layer.red, &canvas.layer.green, &canvas.layer.blue,
                                  &canvas.layer.alpha};
    Plane* layer_to[4] = {&record.layer.red, &record.layer.green, &record.layer.blue,
                          &record.layer.alpha};
    RowCopy layer_copies[4];
    for (int i = 0; i < 4; ++i) {
      *layer_to[i] = Plane(r.width(), r.height());
      layer_copies[i] = RowCopy{layer_from[i], layer_to[i], r.left, r.top, 0, 0, r.width()};
    }
    copy_rows(canvas.helper, layer_copies, 4, r.height());
  }
  return record;
}

// A whole-image record whose planes still have the shape of the committed planes and previews.
bool can_hand_back(const UndoRecord& record, const CanvasBuffers& canvas) {
  return record.whole_planes && same_shape(record.red, canvas.RBuffer) &&
         (record.layer.empty() || same_shape(record.layer.alpha, canvas.RBuffer)) &&
         same_shape(record.green, canvas.GBuffer) && same_shape(record.blue, canvas.BBuffer) &&
         same_shape(canvas.RPreview, canvas.RBuffer) &&
         same_shape(canvas.GPreview, canvas.GBuffer) && same_shape(canvas.BPreview, canvas.BBuffer);
}

// Gives `now` the bytes of `before` beyond the image's width x height pixels (the spare column and
// row) in rows [begin, end).
void keep_spare_edges(const Plane& before, Plane& now, int32_t width, int32_t height, int32_t begin,
                      int32_t end) {
  for (int32_t y = begin; y < end; ++y) {
    if (y < height) {
      for (int32_t x = width; x < now.columns(); ++x) now(x, y) = before(x, y);
    } else {
      std::memcpy(now.row(y), before.row(y), static_cast<std::size_t>(now.columns()));
    }
  }
}

// The record's planes become the committed planes and the record keeps the storage they replace.
// The committed planes keep their spare column and row, and the previews are refreshed whole.
// The spare bytes are taken from the previews, which hold the same ones (every refresh of the
// previews copies whole planes and nothing else writes them), in one pass with the refresh: each
// chunk of rows first saves the preview's spare bytes into the new committed rows, then copies
// those rows over the preview, so the strided accesses land in lines the copy touches anyway.
void hand_back(UndoRecord& record, CanvasBuffers& canvas) {
  Plane* patch[3] = {&record.blue, &record.green, &record.red};
  Plane* committed[3] = {&canvas.BBuffer, &canvas.GBuffer, &canvas.RBuffer};
  Plane* preview[3] = {&canvas.BPreview, &canvas.GPreview, &canvas.RPreview};
  for (int i = 0; i < 3; ++i) std::swap(*patch[i], *committed[i]);
  // The image as it was, with or without alpha (a fetch may have brought or dropped it).
  std::swap(record.layer, canvas.layer);
  canvas.previews_differ = PixelRect{};
  const int32_t w = canvas.BufferWidth, h = canvas.BufferHeight;
  const auto refresh = [&](int32_t begin, int32_t end) {
    for (int i = 0; i < 3; ++i) {
      Plane& now = *committed[i];
      keep_spare_edges(*preview[i], now, w, h, begin, end);
      std::memcpy(preview[i]->row(begin), now.row(begin),
                  static_cast<std::size_t>(now.columns()) * (end - begin));
    }
  };
  share_rows_with_helper(canvas.helper, canvas.RBuffer.rows(),
                         int64_t{3} * canvas.RBuffer.columns(), refresh);
}

// Writes the patches into the committed planes and, when `previews` is set, into the previews'
// same rectangle.
void paste_record(const UndoRecord& record, CanvasBuffers& canvas, bool previews) {
  const Plane* patch[3] = {&record.blue, &record.green, &record.red};
  Plane* targets[6] = {&canvas.BBuffer,  &canvas.GBuffer,  &canvas.RBuffer,
                       &canvas.BPreview, &canvas.GPreview, &canvas.RPreview};
  RowCopy copies[6];
  const int32_t count = previews ? 6 : 3;
  for (int32_t i = 0; i < count; ++i) {
    copies[i] = RowCopy{patch[i % 3], targets[i], 0, 0, record.left, record.top, record.width};
  }
  copy_rows(canvas.helper, copies, count, record.height);
  if (!record.layer.empty() && !canvas.layer.empty()) {
    const Plane* from[4] = {&record.layer.red, &record.layer.green, &record.layer.blue,
                            &record.layer.alpha};
    Plane* to[4] = {&canvas.layer.red, &canvas.layer.green, &canvas.layer.blue,
                    &canvas.layer.alpha};
    RowCopy layer_copies[4];
    for (int i = 0; i < 4; ++i) {
      layer_copies[i] = RowCopy{from[i], to[i], 0, 0, record.left, record.top, record.width};
    }
    copy_rows(canvas.helper, layer_copies, 4, record.height);
  }
}

// Three bytes a pixel, seven for an image with alpha (its own colours and alpha besides).
std::size_t bytes_per_pixel(bool layer) {
  return layer ? 7 : 3;
}

std::size_t record_bytes(const UndoRecord& r) {
  return bytes_per_pixel(!r.layer.empty()) * static_cast<std::size_t>(r.width) *
         static_cast<std::size_t>(r.height);
}

// Writes the record into the committed planes and returns what it overwrote, as a record of the
// same rectangle. A whole-image record hands its planes over and takes the committed ones.
UndoRecord swap_into_canvas(UndoRecord record, CanvasBuffers& canvas, bool stroke_in_progress) {
  if (can_hand_back(record, canvas)) {
    hand_back(record, canvas);
    return record;
  }
  const PixelRect rect{record.left, record.top, record.left + record.width,
                       record.top + record.height};
  UndoStack scratch;
  UndoRecord overwritten = cut_record(scratch, canvas, rect);
  paste_record(record, canvas, !stroke_in_progress);
  if (stroke_in_progress) {
    copy_to_previews(canvas);
  } else {
    // Usually the last stroke's previews, all inside the rectangle just pasted.
    refresh_differing_previews(canvas, rect);
  }
  return overwritten;
}

// A list of records and the bytes its records hold.
struct RecordList {
  std::deque<UndoRecord>& records;
  std::size_t& bytes;
};

// Restores the newest record of `from` and keeps what it overwrote as the newest of `to`.
bool restore_from(UndoStack& stack, RecordList from, RecordList to, CanvasBuffers& canvas,
                  bool stroke_in_progress) {
  if (from.records.empty()) return false;
  UndoRecord record = std::move(from.records.back());
  from.records.pop_back();
  const uint64_t change = record.change;
  from.bytes -= record_bytes(record);
  stack.spare_patches.clear();
  to.records.push_back(swap_into_canvas(std::move(record), canvas, stroke_in_progress));
  to.records.back().change = change;
  // The same rectangle, though not always as many bytes: a fetch may have brought or dropped
  // the alpha in between.
  to.bytes += record_bytes(to.records.back());
  return true;
}

// Drops every redo record. The newest one's planes are kept for the push that follows, when they
// are small enough: a fresh whole-image patch costs more in page faults than in copying.
void drop_undone(UndoStack& stack) {
  if (stack.undone.empty()) return;
  UndoRecord& newest = stack.undone.back();
  stack.spare_patches.clear();
  if (record_bytes(newest) <= stack.byte_budget / 4) {
    stack.spare_patches.push_back(std::move(newest.red));
    stack.spare_patches.push_back(std::move(newest.green));
    stack.spare_patches.push_back(std::move(newest.blue));
  }
  stack.undone.clear();
  stack.undone_bytes = 0;
}

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
  drop_undone(stack);  // a new change: what was undone can no longer be redone
  if (stack.item_count() / 5 > static_cast<std::size_t>(stack.MaxUndo)) drop_oldest(stack);
  const std::size_t bytes =
      bytes_per_pixel(!canvas.layer.empty()) * static_cast<std::size_t>(r.width()) * r.height();
  // Make room before copying, so the old records and the new one are never all held at once.
  while (!stack.records.empty() && stack.bytes_held + bytes > stack.byte_budget) drop_oldest(stack);
  UndoRecord record = cut_record(stack, canvas, r);
  record.change = ++stack.changes_made;
  stack.spare_patches.clear();
  stack.bytes_held += bytes;
  stack.records.push_back(std::move(record));
}

bool restore_newest(UndoStack& stack, CanvasBuffers& canvas, bool stroke_in_progress) {
  return restore_from(stack, {stack.records, stack.bytes_held}, {stack.undone, stack.undone_bytes},
                      canvas, stroke_in_progress);
}

bool restore_undone(UndoStack& stack, CanvasBuffers& canvas, bool stroke_in_progress) {
  return restore_from(stack, {stack.undone, stack.undone_bytes}, {stack.records, stack.bytes_held},
                      canvas, stroke_in_progress);
}

}  // namespace tarvo
