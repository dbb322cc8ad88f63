#pragma once
// The colour key of a grey or RGB PNG: a tRNS chunk that makes every pixel of one exact colour
// fully transparent.
//
// Qt 6.4 decodes such files unreliably: for 16-bit RGB files the alpha it produces depends on
// uninitialised memory, and for low-depth grey files it replaces the key pixels' colour with
// black. The file host therefore removes the chunk before decoding and applies the key itself,
// comparing each decoded pixel, widened to 16 bits, with the key widened the same way (a sample s
// of depth d becomes s * 65535 / (2^d - 1), exactly).

#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvo {

struct PngColourKey {
  std::size_t chunk_offset = 0;  // offset of the tRNS chunk (its length field) in the file
  std::size_t chunk_size = 0;    // the whole chunk, 12 + data length; 0 when there is no key
  uint16_t red = 0, green = 0, blue = 0;  // widened to 16 bits; a grey key sets all three

  bool present() const { return chunk_size != 0; }
};

// The key of a grey (colour type 0) or RGB (type 2) PNG, from a well-formed tRNS chunk before the
// first IDAT; no key for palette and alpha files, files without the chunk, or malformed ones.
PngColourKey find_png_colour_key(std::span<const uint8_t> bytes);

}  // namespace tarvo
