#pragma once
// Carrying an image file's metadata across a write of new pixels: after an encoder has written the
// painted picture, everything the original file held besides its pixels is copied into the
// written file, in every format that can hold it.
//
// - EXIF, XMP, IPTC, the ICC colour profile and the comment go through exiv2, each where the
//   written format can hold it (JPEG, PNG, TIFF, WebP; WebP holds no IPTC or comment). They
//   replace whatever the encoder wrote of its own. EXIF's embedded thumbnail, a small copy of the
//   old pixels, is dropped, and the stated pixel dimensions are set to the written picture's.
// - A PNG written over a PNG is rebuilt at the chunk level instead (png_chunk_carry.h), which
//   keeps every chunk exiv2 does not know (tIME, gAMA, cHRM, sRGB, pHYs, private chunks, ...).
// - Where the pixels were read with the file's orientation applied, so that a picture taken
//   sideways was painted and written upright, Exif.Image.Orientation and Xmp.tiff.Orientation
//   become 1 (upright). Where the pixels were read as stored, the orientation is kept.

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvo {

struct MetadataCarryOptions {
  // The pixels were turned upright as they were read, by the orientation the original states.
  bool orientation_applied = false;
  // When set, a PNG's tIME chunk, if the original had one, is given this time of modification.
  std::optional<std::time_t> modified;
};

struct MetadataCarry {
  std::vector<uint8_t> bytes;  // the written file with the original's metadata
  // Empty when all the metadata was carried, or the original had none that could be. Else what
  // was not kept and why: either one kind ("its colour profile could not be kept"), and bytes hold
  // the rest, or all of it ("its metadata could not be kept: REASON"), and bytes are the written
  // file unchanged.
  std::string problem;
};

// The written file (the new pixels as an encoder wrote them) with the metadata of original (the
// file as it was before the write). An original that is empty or of a format exiv2 does not read
// (BMP, PGM, ...) carries nothing.
MetadataCarry carry_metadata(std::span<const uint8_t> original, std::span<const uint8_t> written,
                             const MetadataCarryOptions& options);

}  // namespace tarvo
