#pragma once
// A PNG encoder for large pictures that uses both cores and never holds the picture in a second
// layout. The rows are cut into strips of about a megabyte; each strip is filtered and
// deflated on its own, on the calling thread or the helper's (RowHelper), into a deflate stream
// that a sync flush ends on a byte boundary, so that the strips laid end to end are one zlib
// stream (the last one alone is finished). The stream's Adler-32 is combined from the strips'
// (adler32_combine), and each strip is an IDAT chunk of its own, whose CRC its thread computes.
// A strip starts its deflate window afresh, which costs a few hundred bytes a strip.
//
// Each row gets the filter of the five that leaves the smallest sum of its bytes taken as signed
// values (the usual heuristic, which keeps photographs and paintings small), and the stream is
// deflated at level 4 with zlib's strategy for filtered data: a photograph or a scan as small as
// level 6 makes it, at about 0.7 of its time, which the two cores halve. (Level 3 and below match
// greedily and leave a noisy photograph 15 % larger; zlib's run-length strategy is faster still but
// makes a texture that repeats every hundred pixels eight times larger, where level 4 is 14 %.)

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace tarvo {

class RowHelper;

// The picture's header: 8- or 16-bit samples of grey (colour type 0), RGB (2) or RGBA (6).
struct PngHeader {
  int32_t width = 0, height = 0;
  int bit_depth = 8;
  int colour_type = 2;

  int channels() const { return colour_type == 0 ? 1 : colour_type == 6 ? 4 : 3; }
  int bytes_per_pixel() const { return channels() * bit_depth / 8; }
  std::size_t row_bytes() const { return static_cast<std::size_t>(width) * bytes_per_pixel(); }
};

// Fills out with row y in PNG's layout: each pixel's channels in order, 16-bit samples most
// significant byte first (row_bytes() bytes). Called from two threads at once, for different rows.
using PngRowSource = std::function<void(int32_t y, uint8_t* out)>;

struct PngEncodeOptions {
  int level = 4;
  // Whole chunks (length, type, data and CRC, as in the file) written between the header and the
  // image data: the colour profile, resolution and text.
  std::span<const uint8_t> ancillary;
  // Whole chunks written between the image data and the end.
  std::span<const uint8_t> trailing;
  // Told the fraction of the rows encoded so far (0 to 1), on the calling thread.
  std::function<void(double)> progress;
};

// Takes the file's next bytes, on the calling thread; may throw, which ends the encoding.
using PngBytesSink = std::function<void(std::span<const uint8_t>)>;

// The whole PNG file. Throws RuntimeError 7 when there is no memory for it.
std::vector<uint8_t> encode_png(const PngHeader& header, const PngRowSource& rows,
                                const PngEncodeOptions& options, RowHelper* helper);

// The same file handed to out in order as its strips are deflated, so that only the strips
// deflated ahead of the next one out are held, never the file. What out throws is thrown on
// once both threads have stopped.
void encode_png_to(const PngHeader& header, const PngRowSource& rows,
                   const PngEncodeOptions& options, RowHelper* helper, const PngBytesSink& out);

}  // namespace tarvo
