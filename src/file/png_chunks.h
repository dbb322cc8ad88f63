#pragma once
// A PNG file as its list of chunks: reading the chunks out of a file's bytes and writing a list of
// chunks back into a file with the signature and each chunk's length and CRC.
//
// A chunk's type is four ASCII letters whose case carries its properties: a lowercase first letter
// marks an ancillary chunk (a decoder may ignore it), an uppercase one a critical chunk; a
// lowercase fourth letter marks a chunk that an editor may copy into a file whose image data it
// changed (safe to copy), an uppercase one a chunk that depends on the image data.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvo {

struct PngChunk {
  std::string type;  // four ASCII letters
  std::vector<uint8_t> data;

  bool critical() const { return (type[0] & 0x20) == 0; }
  bool safe_to_copy() const { return (type[3] & 0x20) != 0; }
};

// Whether bytes begin with the PNG signature.
bool is_png(std::span<const uint8_t> bytes);

// The chunks of a PNG file, from IHDR to IEND inclusive, in the file's order. None when bytes are
// not a PNG file, a chunk runs past the end, a CRC does not match or no IEND ends the chunks;
// anything after IEND is ignored.
std::optional<std::vector<PngChunk>> read_png_chunks(std::span<const uint8_t> bytes);

// The chunks of the PNG file at path as read_png_chunks gives them, except that each image data
// chunk (IDAT) keeps its place but not its data, which is read a piece at a time only to check its
// CRC: the file is never held whole. None as read_png_chunks, or when the file cannot be read.
std::optional<std::vector<PngChunk>> read_png_chunks_but_image_data(const std::string& path);

// The PNG file made of the signature and chunks, each with its length and CRC.
std::vector<uint8_t> write_png_chunks(const std::vector<PngChunk>& chunks);

// The chunks as they lie in a file, each with its length and CRC, without the signature.
std::vector<uint8_t> png_chunk_bytes(const std::vector<PngChunk>& chunks);

}  // namespace tarvo
