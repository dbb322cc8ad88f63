#include "file/png_chunks.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <fstream>

#include "file/byte_reader.h"

namespace tarvo {

namespace {

constexpr std::array<uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// A chunk type is four ASCII letters.
bool is_chunk_type(std::span<const uint8_t> type) {
  return std::all_of(type.begin(), type.end(),
                     [](uint8_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
}

// The CRC of a chunk covers its type and data, not its length.
uint32_t chunk_crc(std::span<const uint8_t> type_and_data) {
  return static_cast<uint32_t>(
      crc32(0L, type_and_data.data(), static_cast<uInt>(type_and_data.size())));
}

void append_be32(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void append_chunks(std::vector<uint8_t>& out, const std::vector<PngChunk>& chunks) {
  for (const PngChunk& chunk : chunks) {
    append_be32(out, static_cast<uint32_t>(chunk.data.size()));
    const std::size_t type_at = out.size();
    out.insert(out.end(), chunk.type.begin(), chunk.type.begin() + 4);
    out.insert(out.end(), chunk.data.begin(), chunk.data.end());
    append_be32(out, chunk_crc(std::span(out).subspan(type_at)));
  }
}

}  // namespace

bool is_png(std::span<const uint8_t> bytes) {
  return bytes.size() >= kSignature.size() &&
         std::equal(kSignature.begin(), kSignature.end(), bytes.begin());
}

std::optional<std::vector<PngChunk>> read_png_chunks(std::span<const uint8_t> bytes) {
  if (!is_png(bytes)) return std::nullopt;
  ByteReader reader(bytes);
  std::vector<PngChunk> chunks;
  uint64_t at = kSignature.size();
  while (true) {
    const uint32_t length = reader.be32(at);
    if (reader.ran_out() || !reader.has(uint64_t{length} + 12, at)) return std::nullopt;
    const std::span<const uint8_t> type_and_data = bytes.subspan(at + 4, length + 4);
    if (!is_chunk_type(type_and_data.first(4))) return std::nullopt;
    if (reader.be32(at + 8 + length) != chunk_crc(type_and_data)) return std::nullopt;
    PngChunk& chunk = chunks.emplace_back();
    chunk.type.assign(type_and_data.begin(), type_and_data.begin() + 4);
    chunk.data.assign(type_and_data.begin() + 4, type_and_data.end());
    at += uint64_t{length} + 12;
    if (chunk.type == "IEND") break;
  }
  if (chunks.front().type != "IHDR") return std::nullopt;
  return chunks;
}

std::optional<std::vector<PngChunk>> read_png_chunks_but_image_data(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  const auto file_size = static_cast<uint64_t>(std::max<std::streamoff>(file.tellg(), 0));
  file.seekg(0);
  uint64_t at = 0;
  const auto read = [&](uint8_t* into, std::size_t size) {
    file.read(reinterpret_cast<char*>(into), static_cast<std::streamsize>(size));
    at += static_cast<uint64_t>(file.gcount());
    return static_cast<std::size_t>(file.gcount()) == size;
  };
  std::array<uint8_t, 8> signature{};
  if (!file || !read(signature.data(), signature.size()) || !is_png(signature)) return std::nullopt;
  std::vector<PngChunk> chunks;
  std::vector<uint8_t> piece(std::size_t{1} << 20);
  while (true) {
    std::array<uint8_t, 8> length_and_type{};
    if (!read(length_and_type.data(), length_and_type.size())) return std::nullopt;
    const uint32_t length = ByteReader(length_and_type).be32(0);
    if (uint64_t{length} + 4 > file_size - at) return std::nullopt;  // runs past the end
    const std::span<const uint8_t> type = std::span(length_and_type).subspan(4);
    if (!is_chunk_type(type)) return std::nullopt;
    PngChunk& chunk = chunks.emplace_back();
    chunk.type.assign(type.begin(), type.end());
    uLong crc = crc32(0L, type.data(), 4);
    if (chunk.type == "IDAT") {
      for (uint32_t left = length; left > 0;) {
        const std::size_t size = std::min<std::size_t>(left, piece.size());
        if (!read(piece.data(), size)) return std::nullopt;
        crc = crc32(crc, piece.data(), static_cast<uInt>(size));
        left -= static_cast<uint32_t>(size);
      }
    } else {
      chunk.data.resize(length);
      if (!read(chunk.data.data(), length)) return std::nullopt;
      // zlib takes a null buffer (an empty chunk's) as asking for the initial value.
      if (length > 0) crc = crc32(crc, chunk.data.data(), static_cast<uInt>(length));
    }
    std::array<uint8_t, 4> stated{};
    if (!read(stated.data(), stated.size()) || ByteReader(stated).be32(0) != crc) {
      return std::nullopt;
    }
    if (chunk.type == "IEND") break;
  }
  if (chunks.front().type != "IHDR") return std::nullopt;
  return chunks;
}

std::vector<uint8_t> write_png_chunks(const std::vector<PngChunk>& chunks) {
  std::vector<uint8_t> out(kSignature.begin(), kSignature.end());
  append_chunks(out, chunks);
  return out;
}

std::vector<uint8_t> png_chunk_bytes(const std::vector<PngChunk>& chunks) {
  std::vector<uint8_t> out;
  append_chunks(out, chunks);
  return out;
}

}  // namespace tarvo
