#pragma once
// A plane is a two-dimensional array of bytes indexed (x, y). x varies fastest in memory: element
// (x, y) lies at y * columns + x, one row of columns after another, row 0 first. Planes are
// zero-filled when allocated and are moved, not copied, wherever ownership changes hands; an
// explicit copy() makes the one deliberate duplicate (the preview planes).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace tarvo {

class Plane {
 public:
  Plane() = default;
  // Allocates columns x rows zero bytes. Throws RuntimeError 7 (out of memory) when it cannot.
  Plane(int32_t columns, int32_t rows);

  Plane(Plane&&) noexcept = default;
  Plane& operator=(Plane&&) noexcept = default;
  Plane(const Plane&) = delete;
  Plane& operator=(const Plane&) = delete;

  Plane copy() const;
  // A plane over other's bytes that owns none of them, for code that reads them where a plane is
  // asked for (a child process forked to read them): it must not outlive other's bytes, and never
  // frees them.
  static Plane borrowing(const Plane& other);
  // Copies other's bytes into this plane when both have the same shape, else reallocates.
  void assign(const Plane& other);

  int32_t columns() const { return columns_; }
  int32_t rows() const { return rows_; }
  std::size_t size() const { return static_cast<std::size_t>(columns_) * rows_; }
  bool empty() const { return size() == 0; }

  uint8_t& operator()(int32_t x, int32_t y) { return bytes_.get()[index(x, y)]; }
  uint8_t operator()(int32_t x, int32_t y) const { return bytes_.get()[index(x, y)]; }
  uint8_t* row(int32_t y) { return bytes_.get() + static_cast<std::size_t>(y) * columns_; }
  const uint8_t* row(int32_t y) const {
    return bytes_.get() + static_cast<std::size_t>(y) * columns_;
  }
  uint8_t* data() { return bytes_.get(); }
  const uint8_t* data() const { return bytes_.get(); }

  void fill(uint8_t value);

 private:
  // Frees what allocate_zeroed_bytes handed out for a plane of the given byte count.
  struct FreeBytes {
    std::size_t bytes;  // value-initialised (0) in an empty plane
    bool borrowed;      // likewise false, unless the plane only borrows its bytes
    void operator()(uint8_t* p) const;
  };
  std::size_t index(int32_t x, int32_t y) const {
    return static_cast<std::size_t>(y) * columns_ + static_cast<std::size_t>(x);
  }

  int32_t columns_ = 0;
  int32_t rows_ = 0;
  std::unique_ptr<uint8_t[], FreeBytes> bytes_;
};

}  // namespace tarvo
