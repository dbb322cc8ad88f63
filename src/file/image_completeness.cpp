#include "file/image_completeness.h"

#include "file/byte_reader.h"

namespace tarvo {

namespace {

// Chunks are length (4, big-endian), type (4), data (length), CRC (4).
Completeness png_completeness(ByteReader& in) {
  uint64_t at = 8;  // after the signature
  while (in.has(8, at)) {
    const uint64_t length = in.be32(at);
    const uint32_t type = in.be32(at + 4);
    if (length > 0x7fffffffu) return Completeness::Unknown;
    if (!in.has(12 + length, at)) return Completeness::Truncated;
    if (type == 0x49454e44u) return Completeness::Complete;  // "IEND"
    at += 12 + length;
  }
  return Completeness::Truncated;
}

// After a start-of-scan header: skips entropy-coded bytes, in which 0xFF is followed by a stuffed
// zero, a restart marker or fill bytes. Returns the offset of the next real marker's 0xFF, or the
// file size when the scan runs to the end.
uint64_t skip_entropy_data(ByteReader& in, uint64_t at) {
  while (in.has(2, at)) {
    if (in.u8(at) != 0xff) {
      ++at;
      continue;
    }
    const uint32_t next = in.u8(at + 1);
    if (next == 0x00 || (next >= 0xd0 && next <= 0xd7)) {
      at += 2;
    } else if (next == 0xff) {
      ++at;
    } else {
      return at;
    }
  }
  return in.size();
}

Completeness jpeg_completeness(ByteReader& in) {
  const uint32_t start = in.be16(0);
  if (in.ran_out()) return Completeness::Truncated;
  if (start != 0xffd8) return Completeness::Unknown;
  uint64_t at = 2;
  while (in.has(2, at)) {
    if (in.u8(at) != 0xff) return Completeness::Unknown;
    while (in.has(2, at) && in.u8(at + 1) == 0xff) ++at;  // fill bytes before a marker
    const uint32_t marker = in.u8(at + 1);
    at += 2;
    if (marker == 0xd9) return Completeness::Complete;                   // end of image
    if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) continue;  // no length
    const uint32_t length = in.be16(at);
    if (in.ran_out()) return Completeness::Truncated;
    if (length < 2) return Completeness::Unknown;
    at += length;
    if (at > in.size()) return Completeness::Truncated;
    if (marker == 0xda) at = skip_entropy_data(in, at);  // start of scan
  }
  return Completeness::Truncated;
}

// Data sub-blocks: a size byte, that many bytes, ... up to a zero size byte. Returns the offset
// after the terminator, or 0 when the blocks run past the end.
uint64_t skip_gif_sub_blocks(ByteReader& in, uint64_t at) {
  while (true) {
    const uint32_t block_size = in.u8(at);
    if (in.ran_out()) return 0;
    ++at;
    if (block_size == 0) return at;
    at += block_size;
  }
}

uint64_t gif_colour_table_bytes(uint32_t packed) {
  return (packed & 0x80) ? 3u * (2u << (packed & 7)) : 0;
}

Completeness gif_completeness(ByteReader& in) {
  uint64_t at = 13 + gif_colour_table_bytes(in.u8(10));  // header and logical screen
  while (true) {
    const uint32_t introducer = in.u8(at);
    if (in.ran_out()) return Completeness::Truncated;
    if (introducer == 0x21) {  // extension: label, then sub-blocks
      at = skip_gif_sub_blocks(in, at + 2);
    } else if (introducer == 0x2c) {  // image: descriptor, local table, code size, sub-blocks
      at += 10 + gif_colour_table_bytes(in.u8(at + 9)) + 1;
      return skip_gif_sub_blocks(in, at) == 0 ? Completeness::Truncated : Completeness::Complete;
    } else {
      return Completeness::Unknown;  // the trailer before any image, or not a block at all
    }
    if (at == 0) return Completeness::Truncated;
  }
}

Completeness bmp_completeness(ByteReader& in) {
  const uint64_t pixel_offset = in.le32(10);
  const uint32_t header_size = in.le32(14);
  if (in.ran_out()) return Completeness::Truncated;
  if (header_size < 40) return Completeness::Unknown;  // the old core header: leave it to Qt
  const int64_t width = static_cast<int32_t>(in.le32(18));
  const int64_t height = static_cast<int32_t>(in.le32(22));
  const uint32_t bits = in.le16(28);
  const uint32_t compression = in.le32(30);
  const uint64_t data_size = in.le32(34);
  if (in.ran_out()) return Completeness::Truncated;
  if (width <= 0 || height == 0 || bits == 0 || bits > 32) return Completeness::Unknown;
  uint64_t needed = 0;
  if (compression == 0 || compression == 3 || compression == 6) {  // RGB, bit fields
    const uint64_t row_bytes = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
    needed = row_bytes * static_cast<uint64_t>(height < 0 ? -height : height);
  } else if ((compression == 1 || compression == 2) && data_size > 0) {  // run lengths
    needed = data_size;
  } else {
    return Completeness::Unknown;
  }
  return in.has(needed, pixel_offset) ? Completeness::Complete : Completeness::Truncated;
}

}  // namespace

Completeness encoded_image_completeness(std::string_view format, std::span<const uint8_t> bytes) {
  ByteReader in(bytes);
  if (format == "png") return png_completeness(in);
  if (format == "jpeg" || format == "jpg") return jpeg_completeness(in);
  if (format == "gif") return gif_completeness(in);
  if (format == "bmp") return bmp_completeness(in);
  return Completeness::Unknown;
}

}  // namespace tarvo
