#pragma once
// Whether an encoded image file holds all the data its own structure announces.
//
// Some decoders accept a file cut short and fill the missing part of the picture with grey or
// black without reporting an error; opening such a file and writing it back would silently destroy
// the rest of the picture. This walks the container structure (not the compressed pixel data) of
// the formats where that happens and tells whether the file reaches the point where the picture
// ends:
//   png   every chunk is whole, up to and including IEND;
//   jpeg  the segments and entropy-coded scans run up to the EOI marker;
//   gif   the header, colour tables and blocks run whole up to the end of the first image's data
//         (only the first image is opened);
//   bmp   the pixel array that the header describes (uncompressed and bit-field images, and
//         run-length images that state their data size) lies wholly inside the file.
// Any other format, or a file whose structure the walk does not understand, is Unknown: the
// decoder's own verdict then decides.

#include <cstdint>
#include <span>
#include <string_view>

namespace tarvo {

enum class Completeness { Complete, Truncated, Unknown };

// format is the lower-case format name ("png", "jpeg", "jpg", "gif", "bmp", ...).
Completeness encoded_image_completeness(std::string_view format, std::span<const uint8_t> bytes);

}  // namespace tarvo
