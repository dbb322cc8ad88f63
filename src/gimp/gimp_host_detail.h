#pragma once
// Small helpers the GIMP host's source files share: its error, names and sizes in sentences,
// GEGL's rectangles and buffer references, the strips it reads and writes, and what it shows
// meanwhile. Include after gimp/gimp_api.h (GEGL before Qt).

#include <QCursor>
#include <QGuiApplication>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/runtime_error.h"
#include "gimp/gimp_api.h"

namespace tarvo::gimp_host_detail {

[[noreturn]] inline void fail(const std::string& what) {
  throw RuntimeError(error_number::kHostCallFailed, what);
}

inline std::string pdb_error() {
  return gimp_api::last_error();
}

inline std::string size_text(int32_t width, int32_t height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

inline GeglRectangle rectangle(int32_t x, int32_t y, int32_t width, int32_t height) {
  GeglRectangle rect;
  rect.x = x;
  rect.y = y;
  rect.width = width;
  rect.height = height;
  return rect;
}

// Rows a hash of the layer's own bytes covers: one row of GIMP's tiles.
inline constexpr int32_t kBandRows = 64;

// Appends to bands the hash of each band of rows rows of the layer's own bytes, stride bytes a row,
// starting at a band's first row (the last band may be short).
inline void add_band_hashes(const uint8_t* bytes, std::size_t stride, int32_t rows,
                            std::vector<uint64_t>& bands) {
  for (int32_t y = 0; y < rows; y += kBandRows) {
    const auto band_rows = static_cast<std::size_t>(std::min(kBandRows, rows - y));
    bands.push_back(std::hash<std::string_view>{}(std::string_view(
        reinterpret_cast<const char*>(bytes + stride * static_cast<std::size_t>(y)),
        stride * band_rows)));
  }
}

// Rows read or written per GEGL call: a few of GIMP's 64-row tiles, so that the progress bar moves
// and no strip buffer grows large.
inline constexpr int32_t kStripRows = 512;
static_assert(kStripRows % kBandRows == 0, "a strip holds whole bands");
// Below this many pixels a read or write is over before a progress bar would be seen.
inline constexpr int64_t kProgressPixels = 1 << 20;

// GIMP's progress bar over a number of rows, started only for large drawables.
class Progress {
 public:
  Progress(bool wanted, const char* message, int32_t width, int32_t rows)
      : on_(wanted && static_cast<int64_t>(width) * rows >= kProgressPixels), rows_(rows) {
    if (on_) gimp_api::progress_start(message);
  }
  ~Progress() {
    if (on_) gimp_api::progress_end();
  }
  void rows_done(int32_t done) const {
    if (on_) gimp_api::progress_update(static_cast<double>(done) / rows_);
  }

 private:
  bool on_;
  int32_t rows_;
};

// The busy pointer over the canvas and the panel while the layer is read or written.
class BusyPointer {
 public:
  explicit BusyPointer(bool shown) : shown_(shown) {
    if (shown_) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  }
  ~BusyPointer() {
    if (shown_) QGuiApplication::restoreOverrideCursor();
  }
  BusyPointer(const BusyPointer&) = delete;
  BusyPointer& operator=(const BusyPointer&) = delete;

 private:
  bool shown_;
};

// Owns a GeglBuffer reference.
struct BufferRef {
  GeglBuffer* buffer;
  explicit BufferRef(GeglBuffer* b) : buffer(b) {}
  ~BufferRef() {
    if (buffer) g_object_unref(buffer);
  }
  BufferRef(const BufferRef&) = delete;
  BufferRef& operator=(const BufferRef&) = delete;
};

// The item's name as a sentence quotes it.
inline std::string quoted_name(int32_t item) {
  std::string text(1, '"');
  text += gimp_api::item_name(item);
  text += '"';
  return text;
}

}  // namespace tarvo::gimp_host_detail
