#pragma once
// Decoding a plain PNG a row at a time: 8-bit grey, RGB or RGBA, not interlaced, with no palette
// and no transparency key. Those are the files whose decoded rows are the picture's own bytes, with
// nothing to look up, unpack or key between them, so that a host can split each row into its
// planes as it comes and never hold the file or a decoded picture whole.
//
// The image data is read, checked and inflated on a thread of its own, up to a few megabytes of
// rows ahead of the calling thread, which undoes each row's filter and hands it on: the decode's
// two costs, inflating and unfiltering, run on both cores.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "file/png_chunks.h"
#include "file/png_encoder.h"

namespace tarvo {

// Reads the file's next bytes into into: how many it read, at most size, and 0 only at the end.
// May throw, which ends the decode as damaged.
using PngByteSource = std::function<std::size_t(uint8_t* into, std::size_t size)>;

struct PlainPng {
  PngHeader header;
  std::vector<PngChunk> before;  // the chunks between the header and the image data, in order
  std::vector<PngChunk> after;   // the chunks between the image data and the end, in order
};

enum class PlainPngResult {
  kDecoded,
  kNotPlain,  // a kind of PNG this decoder leaves to another (or not a PNG at all)
  kDamaged,   // a CRC, the compressed data, the data's length or the chunks' order is wrong
};

// The header of a plain PNG from the file's first 33 bytes (the signature and IHDR), or none when
// they are not a plain PNG's.
std::optional<PngHeader> plain_png_header(std::span<const uint8_t> start);

// Decodes the PNG that source reads, from its first byte to the end of its IEND chunk. The
// signature and the chunks up to the image data are read on the calling thread; when the file is
// plain, start(header) is called there, then row(y, pixels) for each row in order (row_bytes()
// bytes, valid during the call), while the rest of the file is read on the inflating thread. A
// result other than kDecoded may come after some rows were handed on; whatever start or row
// throws ends the decode and is thrown on.
PlainPngResult decode_plain_png(const PngByteSource& source, PlainPng& png,
                                const std::function<void(const PngHeader&)>& start,
                                const std::function<void(int32_t y, const uint8_t* pixels)>& row);

}  // namespace tarvo
