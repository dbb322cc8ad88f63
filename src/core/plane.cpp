#include "core/plane.h"

#include <sys/mman.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <cstring>
#include <new>

#include "core/runtime_error.h"

namespace tarvo {

namespace {

// Planes of at least this many bytes are mapped on their own, in huge pages where the system
// allows: a stroke walks a few dozen rows of seven planes at once, and with 4 KB pages on a wide
// image every row of every plane is another page, so the TLB, not the arithmetic, would set the
// cost of a dab.
constexpr std::size_t kMappedBytes = std::size_t{4} << 20;

// Smaller planes come from malloc, and most of them are undo patches: every stroke's release
// takes three, and dropping records frees them. By default the allocator maps a block of more
// than 128 KB on its own and unmaps it when freed, and gives freed memory at the top of the heap
// back to the system, so the next patches start on fresh pages, and the page faults of a patch
// take longer than copying its bytes. Below the planes' own mapping size, blocks therefore stay
// in the heap, and up to this much freed memory is kept for reuse.
constexpr std::size_t kKeptFreeBytes = std::size_t{64} << 20;

void keep_freed_plane_memory() {
#ifdef __GLIBC__
  static const bool set = [] {
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(kMappedBytes));
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(kKeptFreeBytes));
    return true;
  }();
  (void)set;
#endif
}

// size zero bytes, lazily: fresh pages cost nothing until touched. Null when out of memory.
uint8_t* allocate_zeroed_bytes(std::size_t size) {
  keep_freed_plane_memory();
  if (size < kMappedBytes) return static_cast<uint8_t*>(std::calloc(size, 1));
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  madvise(p, size, MADV_HUGEPAGE);  // a hint; ignored where huge pages are off
  return static_cast<uint8_t*>(p);
}

}  // namespace

void Plane::FreeBytes::operator()(uint8_t* p) const {
  if (borrowed) return;
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
  bytes_ = std::unique_ptr<uint8_t[], FreeBytes>(allocate_zeroed_bytes(size()),
                                                 FreeBytes{size(), false});
  if (!bytes_) {
    columns_ = rows_ = 0;
    throw RuntimeError(error_number::kOutOfMemory, "Out of memory: cannot allocate a plane of " +
                                                       std::to_string(columns) + " x " +
                                                       std::to_string(rows) + " bytes");
  }
}

Plane Plane::borrowing(const Plane& other) {
  Plane view;
  view.columns_ = other.columns_;
  view.rows_ = other.rows_;
  view.bytes_ =
      std::unique_ptr<uint8_t[], FreeBytes>(other.bytes_.get(), FreeBytes{other.size(), true});
  return view;
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
