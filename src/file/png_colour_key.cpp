#include "file/png_colour_key.h"

#include "file/byte_reader.h"

namespace tarvo {

namespace {

constexpr uint32_t kIhdr = 0x49484452u, kTrns = 0x74524e53u, kIdat = 0x49444154u;

// The factor that widens a sample of bits_per_sample bits to 16 bits; 0 for a depth PNG does not
// allow.
uint32_t widening_factor(uint32_t bits_per_sample) {
  switch (bits_per_sample) {
    case 1:
      return 65535;
    case 2:
      return 21845;
    case 4:
      return 4369;
    case 8:
      return 257;
    case 16:
      return 1;
    default:
      return 0;
  }
}

// Reads the key's samples; false when one does not fit the depth (the decoder ignores such keys).
bool read_key_samples(ByteReader& in, uint64_t at, uint32_t depth, int count, uint16_t* samples) {
  const uint32_t factor = widening_factor(depth);
  for (int i = 0; i < count; ++i) {
    const uint32_t sample = in.be16(at + 2 * i);
    if (factor == 0 || sample * factor > 65535) return false;
    samples[i] = static_cast<uint16_t>(sample * factor);
  }
  return true;
}

}  // namespace

PngColourKey find_png_colour_key(std::span<const uint8_t> bytes) {
  ByteReader in(bytes);
  if (in.be32(12) != kIhdr || in.ran_out()) return {};
  const uint32_t depth = in.u8(24), colour_type = in.u8(25);
  if (colour_type != 0 && colour_type != 2) return {};
  const std::size_t key_length = colour_type == 0 ? 2 : 6;
  uint64_t at = 8;
  while (in.has(12, at)) {
    const uint64_t length = in.be32(at);
    const uint32_t type = in.be32(at + 4);
    if (type == kIdat || !in.has(12 + length, at)) return {};
    if (type == kTrns) {
      if (length != key_length) return {};
      uint16_t samples[3];
      const int count = colour_type == 0 ? 1 : 3;
      if (!read_key_samples(in, at + 8, depth, count, samples)) return {};
      PngColourKey key{static_cast<std::size_t>(at), static_cast<std::size_t>(12 + length)};
      key.red = samples[0];
      key.green = samples[count == 1 ? 0 : 1];
      key.blue = samples[count == 1 ? 0 : 2];
      return key;
    }
    at += 12 + length;
  }
  return {};
}

}  // namespace tarvo
