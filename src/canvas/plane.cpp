#include "canvas/plane.h"

#include <sys/mman.h>

#include <cstring>
#include <new>

#include "app/runtime_error.h"

namespace tarvo {

namespace {

// Planes of at least this many bytes are mapped on their own, in huge pages where the system
// allows: a stroke walks a few dozen rows of seven planes at once, and with 4 KB pages on a wide
// image every row of every plane is another page, so the TLB, not the arithmetic, would set the
// cost of a dab.
constexpr std::size_t kMappedBytes = std::size_t{4} << 20;

// size zero bytes, lazily: fresh pages cost nothing until touched. Null when out of memory.
uint8_t* allocate_zeroed_bytes(std::size_t size) {
  if (size < kMappedBytes) return static_cast<uint8_t*>(std::calloc(size, 1));
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  madvise(p, size, MADV_HUGEPAGE);  // a hint; ignored where huge pages are off
  return static_cast<uint8_t*>(p);
}

}  // namespace

void Plane::FreeBytes::operator()(uint8_t* p) const {
  if (bytes < kMappedBytes) {
    std::free(p);
  } else {
    munmap(p, bytes);
  }
}

Plane::Plane(int32_t columns, int32_t rows) {
  if (columns < 0 || rows < 0) {
    throw RuntimeError(error_number::kOutOfMemory, "Out of memory: negative plane size");
  }
  columns_ = columns;
  rows_ = rows;
  if (size() == 0) return;
  // calloc hands back zero pages lazily, so a large fresh plane costs nothing until touched.
  bytes_ = std::unique_ptr<uint8_t[], FreeBytes>(allocate_zeroed_bytes(size()), FreeBytes{size()});
  if (!bytes_) {
    columns_ = rows_ = 0;
    throw RuntimeError(error_number::kOutOfMemory, "Out of memory: cannot allocate a plane of " +
                                                       std::to_string(columns) + " x " +
                                                       std::to_string(rows) + " bytes");
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
