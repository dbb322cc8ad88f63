#include "file/png_chunk_carry.h"

#include <algorithm>
#include <initializer_list>
#include <string_view>

#include "file/png_chunks.h"

namespace tarvo {

namespace {

bool is_one_of(const std::string& type, std::initializer_list<std::string_view> types) {
  return std::find(types.begin(), types.end(), type) != types.end();
}

// Unsafe-to-copy chunks that stay true when the pixels change.
bool describes_colour_or_scale(const std::string& type) {
  return is_one_of(type, {"gAMA", "cHRM", "sRGB", "iCCP", "cICP", "mDCV", "cLLI", "sCAL"});
}

// Chunks whose values are read in the terms of the pixel format: sample depths, sample values,
// palette indices.
bool depends_on_pixel_format(const std::string& type) {
  return is_one_of(type, {"sBIT", "tRNS", "bKGD", "hIST", "sPLT", "pCAL"});
}

bool must_precede_palette(const std::string& type) {
  return is_one_of(type, {"cHRM", "gAMA", "iCCP", "sBIT", "sRGB", "cICP", "mDCV", "cLLI"});
}

bool must_follow_palette(const std::string& type) {
  return is_one_of(type, {"bKGD", "hIST", "tRNS"});
}

bool must_precede_image_data(const std::string& type) {
  return must_precede_palette(type) || must_follow_palette(type) ||
         is_one_of(type, {"pHYs", "sPLT", "oFFs", "pCAL", "sCAL", "eXIf"});
}

const PngChunk* find_chunk(const std::vector<PngChunk>& chunks, std::string_view type) {
  const auto found =
      std::find_if(chunks.begin(), chunks.end(), [&](const PngChunk& c) { return c.type == type; });
  return found == chunks.end() ? nullptr : &*found;
}

// Whether both files hold their pixels alike: the same bit depth and colour type in the image
// header, and for a palette image the same palette.
bool same_pixel_format(const std::vector<PngChunk>& original, std::span<const uint8_t> b,
                       const PngChunk* palette_b) {
  const std::vector<uint8_t>& a = original.front().data;
  if (a.size() < 10 || b.size() < 10 || a[8] != b[8] || a[9] != b[9]) return false;
  if (a[9] != 3) return true;
  const PngChunk* palette_a = find_chunk(original, "PLTE");
  return palette_a && palette_b && palette_a->data == palette_b->data;
}

bool keeps(const PngChunk& chunk, bool same_format, bool written_has_transparency) {
  if (chunk.critical()) return false;
  if (depends_on_pixel_format(chunk.type)) {
    return same_format && !(chunk.type == "tRNS" && written_has_transparency);
  }
  return chunk.safe_to_copy() || describes_colour_or_scale(chunk.type) || chunk.type == "tIME";
}

std::vector<uint8_t> time_chunk_data(std::time_t when) {
  std::tm utc{};
  gmtime_r(&when, &utc);
  const int year = utc.tm_year + 1900;
  return {static_cast<uint8_t>(year >> 8),
          static_cast<uint8_t>(year),
          static_cast<uint8_t>(utc.tm_mon + 1),
          static_cast<uint8_t>(utc.tm_mday),
          static_cast<uint8_t>(utc.tm_hour),
          static_cast<uint8_t>(utc.tm_min),
          static_cast<uint8_t>(std::min(utc.tm_sec, 60))};
}

// The original's kept ancillary chunks, by where they go: before the palette, between the palette
// and the image data, after the image data. A chunk keeps its place unless the ordering rules
// require an earlier one.
struct CarriedChunks {
  std::vector<PngChunk> before_palette, before_image_data, after_image_data;
};

CarriedChunks carried_chunks(const std::vector<PngChunk>& original, bool same_format,
                             bool written_has_transparency, const PngCarryOptions& options) {
  CarriedChunks carried;
  bool seen_palette = false, seen_image_data = false;
  for (const PngChunk& chunk : original) {
    seen_palette = seen_palette || chunk.type == "PLTE";
    seen_image_data = seen_image_data || chunk.type == "IDAT";
    if (!keeps(chunk, same_format, written_has_transparency)) continue;
    std::vector<PngChunk>* group = &carried.after_image_data;
    if (must_precede_palette(chunk.type) ||
        (!must_follow_palette(chunk.type) && !seen_palette && !seen_image_data)) {
      group = &carried.before_palette;
    } else if (must_precede_image_data(chunk.type) || !seen_image_data) {
      group = &carried.before_image_data;
    }
    group->push_back(chunk);
    if (chunk.type == "tIME" && options.modified)
      group->back().data = time_chunk_data(*options.modified);
  }
  return carried;
}

void append(std::vector<PngChunk>& out, const std::vector<PngChunk>& chunks) {
  out.insert(out.end(), chunks.begin(), chunks.end());
}

}  // namespace

std::optional<std::vector<uint8_t>> carry_png_chunks(std::span<const uint8_t> original,
                                                     std::span<const uint8_t> written,
                                                     const PngCarryOptions& options) {
  const auto original_chunks = read_png_chunks(original);
  const auto written_chunks = read_png_chunks(written);
  if (!original_chunks || !written_chunks) return std::nullopt;
  const PngChunk* transparency = find_chunk(*written_chunks, "tRNS");
  const CarriedChunks carried =
      carried_chunks(*original_chunks,
                     same_pixel_format(*original_chunks, written_chunks->front().data,
                                       find_chunk(*written_chunks, "PLTE")),
                     transparency != nullptr, options);

  std::vector<PngChunk> out{written_chunks->front()};
  append(out, carried.before_palette);
  if (const PngChunk* palette = find_chunk(*written_chunks, "PLTE")) out.push_back(*palette);
  append(out, carried.before_image_data);
  if (transparency) out.push_back(*transparency);
  for (const PngChunk& chunk : *written_chunks) {
    if (chunk.type == "IDAT") out.push_back(chunk);
  }
  append(out, carried.after_image_data);
  out.push_back(written_chunks->back());
  return write_png_chunks(out);
}

PngCarriedChunks png_chunks_to_carry(const std::vector<PngChunk>& original,
                                     std::span<const uint8_t> written_header,
                                     const PngCarryOptions& options) {
  PngCarriedChunks result;
  if (original.empty() || original.front().type != "IHDR") return result;
  CarriedChunks carried = carried_chunks(
      original, same_pixel_format(original, written_header, nullptr), false, options);
  result.before_image_data = std::move(carried.before_palette);
  append(result.before_image_data, carried.before_image_data);
  result.after_image_data = std::move(carried.after_image_data);
  return result;
}

}  // namespace tarvo
