#pragma once
// Small helpers the GIMP host's source files share: its error, names and sizes in sentences, and
// GEGL's rectangles and buffer references. Include after gimp/gimp_api.h (GEGL before Qt).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

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

// The hash of one band: its rows of the layer's own bytes, one after another.
inline uint64_t band_hash(const uint8_t* bytes, std::size_t size) {
  return std::hash<std::string_view>{}(
      std::string_view(reinterpret_cast<const char*>(bytes), size));
}

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
