#pragma once
// Bounds-checked reading of integers from a span of file bytes: a read outside the span answers
// 0 and marks the reader as having run out, so that a walk over a file's structure can read on and
// test ran_out() once.

#include <cstdint>
#include <span>

namespace tarvo {

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  // Whether count bytes from offset at lie inside the span.
  bool has(uint64_t count, uint64_t at) const {
    return at <= bytes_.size() && count <= bytes_.size() - at;
  }
  uint32_t u8(uint64_t at) { return has(1, at) ? bytes_[at] : run_out(); }
  uint32_t be16(uint64_t at) { return (u8(at) << 8) | u8(at + 1); }
  uint32_t be32(uint64_t at) { return (be16(at) << 16) | be16(at + 2); }
  uint32_t le16(uint64_t at) { return u8(at) | (u8(at + 1) << 8); }
  uint32_t le32(uint64_t at) { return le16(at) | (le16(at + 2) << 16); }
  uint64_t size() const { return bytes_.size(); }
  bool ran_out() const { return ran_out_; }

 private:
  uint32_t run_out() {
    ran_out_ = true;
    return 0;
  }

  std::span<const uint8_t> bytes_;
  bool ran_out_ = false;
};

}  // namespace tarvo
