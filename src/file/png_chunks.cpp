#include "file/png_chunks.h"

#include <zlib.h>

#include <algorithm>
#include <array>

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

std::vector<uint8_t> write_png_chunks(const std::vector<PngChunk>& chunks) {
  std::vector<uint8_t> out(kSignature.begin(), kSignature.end());
  for (const PngChunk& chunk : chunks) {
    append_be32(out, static_cast<uint32_t>(chunk.data.size()));
    const std::size_t type_at = out.size();
    out.insert(out.end(), chunk.type.begin(), chunk.type.begin() + 4);
    out.insert(out.end(), chunk.data.begin(), chunk.data.end());
    append_be32(out, chunk_crc(std::span(out).subspan(type_at)));
  }
  return out;
}

}  // namespace tarvo
