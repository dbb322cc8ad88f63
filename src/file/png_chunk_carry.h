#pragma once
// Carrying a PNG file's ancillary chunks across a write of new pixels, at the chunk level: the file
// an encoder wrote keeps its critical chunks (the image header, palette, image data and end) and
// takes from the original file every ancillary chunk that stays true of the painted image.
//
// From the original, in the place it had relative to the palette and the image data:
//  - every safe-to-copy chunk (text, XMP, EXIF, physical pixel size, private chunks of other
//    programs with a lowercase fourth letter);
//  - the chunks that describe the colour space or the display (gAMA, cHRM, sRGB, iCCP, cICP, mDCV,
//    cLLI) and the physical scale (sCAL): painting changes the pixels, not what their values mean;
//  - the last-modification time (tIME), set to the time of the write when one is given;
//  - the chunks whose meaning depends on the pixel format (sBIT, tRNS, bKGD, hIST, sPLT, pCAL)
//    only when the written file has the original's bit depth and colour type, and for a palette
//    image the original's palette too.
// Every other unsafe-to-copy chunk of the original depends on image data that painting changed and
// is dropped (animation frames, signatures, unknown chunks with an uppercase fourth letter). Of the
// written file's own ancillary chunks only a tRNS is kept, as its pixels need it; anything else the
// encoder added (a resolution the original did not state, a colour profile made from the
// original's gamma) is dropped.

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <vector>

#include "file/png_chunks.h"

namespace tarvo {

struct PngCarryOptions {
  // When set, a tIME chunk carried from the original is given this time: the chunk records when
  // the image was last modified. Unset, the original's time is kept. No tIME is added to a file
  // whose original had none.
  std::optional<std::time_t> modified;
};

// The written PNG rebuilt with the original's ancillary chunks as described above. None when
// either file is not a well-formed PNG.
std::optional<std::vector<uint8_t>> carry_png_chunks(std::span<const uint8_t> original,
                                                     std::span<const uint8_t> written,
                                                     const PngCarryOptions& options = {});

// The original's ancillary chunks to carry, as carry_png_chunks places them, into a written PNG of
// no palette and no transparency chunk whose image header holds written_header (its 13 bytes of
// data): those that go between its header and its image data, and those between its image data
// and its end. original is the original file's chunks (read_png_chunks_but_image_data will do).
struct PngCarriedChunks {
  std::vector<PngChunk> before_image_data, after_image_data;
};
PngCarriedChunks png_chunks_to_carry(const std::vector<PngChunk>& original,
                                     std::span<const uint8_t> written_header,
                                     const PngCarryOptions& options = {});

}  // namespace tarvo
