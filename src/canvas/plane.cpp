#include "canvas/plane.h"

#include <cstring>
#include <new>

#include "app/runtime_error.h"

namespace tarvo {

Plane::Plane(int32_t columns, int32_t rows) {
  if (columns < 0 || rows < 0) {
    throw RuntimeError(error_number::kOutOfMemory, "Out of memory: negative plane size");
  }
  columns_ = columns;
  rows_ = rows;
  if (size() == 0) return;
  // calloc hands back zero pages lazily, so a large fresh plane costs nothing until touched.
  bytes_.reset(static_cast<uint8_t*>(std::calloc(size(), 1)));
  if (!bytes_) {
    columns_ = rows_ = 0;
    throw RuntimeError(error_number::kOutOfMemory,
                       "Out of memory: cannot allocate a plane of " + std::to_string(columns) +
                           " x " + std::to_string(rows) + " bytes");
  }
}

Plane Plane::copy() const {
  Plane result;
  result.assign(*this);
  return result;
}

void Plane::assign(const Plane& other) {
  if (this == &other) return;
  if (columns_ != other.columns_ || rows_ != other.rows_) {
    Plane fresh(other.columns_, other.rows_);
    *this = std::move(fresh);
  }
  if (size() > 0) std::memcpy(bytes_.get(), other.bytes_.get(), size());
}

void Plane::fill(uint8_t value) {
  if (size() > 0) std::memset(bytes_.get(), value, size());
}

}  // namespace tarvo
