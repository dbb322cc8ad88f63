#pragma once
// A small, slow PNG decoder written from the format's rules, to judge decoded pixels by something
// other than the decoder under test. It handles every colour type and bit depth, Adam7
// interlacing, palettes and tRNS transparency, and gives 8-bit RGBA: 16-bit samples rounded to
// the nearest 8-bit level, low-depth samples scaled to 0..255, colour-keyed pixels (tRNS on a
// grey or RGB image) given alpha 0 while keeping their colour. It ignores gamma and colour
// profiles, as the program does. Inflating uses Qt's zlib (qUncompress).

#include <QByteArray>
#include <QtEndian>
#include <cstdint>
#include <optional>
#include <vector>

namespace tarvo::testing {

struct ReferencePicture {
  int width = 0, height = 0;
  bool has_alpha = false;     // an alpha channel or a tRNS chunk
  std::vector<uint8_t> rgba;  // width * height * 4 bytes, rows top to bottom

  const uint8_t* pixel(int x, int y) const {
    return &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
  }
};

namespace png_reference_detail {

struct Header {
  uint32_t width = 0, height = 0;
  int depth = 0, colour_type = 0, interlace = 0;
  int channels() const {
    switch (colour_type) {
      case 0:
      case 3:
        return 1;
      case 2:
        return 3;
      case 4:
        return 2;
      default:
        return 4;
    }
  }
};

inline uint32_t be32(const QByteArray& b, qsizetype at) {
  return qFromBigEndian<uint32_t>(reinterpret_cast<const uchar*>(b.constData()) + at);
}

inline int paeth(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// Undoes the row filter in place; previous is the unfiltered row above (zeros for the first).
inline void unfilter(int filter, uint8_t* row, const uint8_t* previous, int length, int bpp) {
  for (int i = 0; i < length; ++i) {
    const int a = i >= bpp ? row[i - bpp] : 0, b = previous[i],
              c = i >= bpp ? previous[i - bpp] : 0;
    const int add = filter == 1   ? a
                    : filter == 2 ? b
                    : filter == 3 ? (a + b) / 2
                    : filter == 4 ? paeth(a, b, c)
                                  : 0;
    row[i] = static_cast<uint8_t>(row[i] + add);
  }
}

inline uint32_t sample(const uint8_t* row, int index, int depth) {
  if (depth == 16) return (uint32_t(row[2 * index]) << 8) | row[2 * index + 1];
  if (depth == 8) return row[index];
  const int per_byte = 8 / depth;
  const int shift = 8 - depth * (index % per_byte + 1);
  return (row[index / per_byte] >> shift) & ((1u << depth) - 1);
}

}  // namespace png_reference_detail

// Decodes a whole PNG file; nothing when its structure or compressed data is broken.
inline std::optional<ReferencePicture> decode_png_reference(const QByteArray& file) {
  using namespace png_reference_detail;
  if (!file.startsWith("\x89PNG\r\n\x1a\n")) return std::nullopt;
  Header h;
  QByteArray palette, transparency, data;
  for (qsizetype at = 8; at + 12 <= file.size();) {
    const qsizetype length = be32(file, at);
    const QByteArray type = file.mid(at + 4, 4), body = file.mid(at + 8, length);
    if (body.size() != length) return std::nullopt;
    if (type == "IHDR") {
      h.width = be32(body, 0);
      h.height = be32(body, 4);
      h.depth = uchar(body[8]);
      h.colour_type = uchar(body[9]);
      h.interlace = uchar(body[12]);
    } else if (type == "PLTE") {
      palette = body;
    } else if (type == "tRNS") {
      transparency = body;
    } else if (type == "IDAT") {
      data += body;
    } else if (type == "IEND") {
      break;
    }
    at += 12 + length;
  }
  // qUncompress wants the expected size in front of the zlib stream; an upper bound will do.
  QByteArray sized(4, '\0');
  qToBigEndian<uint32_t>(static_cast<uint32_t>(h.height * (h.width * 8 + 1) * 2 + 64),
                         reinterpret_cast<uchar*>(sized.data()));
  const QByteArray raw = qUncompress(sized + data);
  if (raw.isEmpty() || h.width == 0 || h.height == 0) return std::nullopt;

  ReferencePicture picture{int(h.width), int(h.height),
                           h.colour_type >= 4 || !transparency.isEmpty(),
                           std::vector<uint8_t>(std::size_t(h.width) * h.height * 4)};
  const int channels = h.channels(), bpp = std::max(1, channels * h.depth / 8);
  const uint32_t max_sample = (1u << h.depth) - 1;
  const auto level = [&](uint32_t s) {
    return uint8_t(h.depth == 16 ? (s * 255 + 32767) / 65535 : s * 255 / max_sample);
  };
  const auto key = [&](int i) {
    return transparency.size() >= 2 * (i + 1)
               ? (uint32_t(uchar(transparency[2 * i])) << 8) | uchar(transparency[2 * i + 1])
               : ~0u;
  };
  struct Pass {
    int x0, y0, dx, dy;
  };
  const std::vector<Pass> passes =
      h.interlace ? std::vector<Pass>{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                      {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}}
                  : std::vector<Pass>{{0, 0, 1, 1}};
  qsizetype at = 0;
  for (const Pass& p : passes) {
    const int pw = int(h.width) > p.x0 ? (int(h.width) - p.x0 + p.dx - 1) / p.dx : 0;
    const int ph = int(h.height) > p.y0 ? (int(h.height) - p.y0 + p.dy - 1) / p.dy : 0;
    if (pw == 0 || ph == 0) continue;
    const int stride = (pw * channels * h.depth + 7) / 8;
    std::vector<uint8_t> previous(stride, 0), row(stride);
    for (int r = 0; r < ph; ++r, at += 1 + stride) {
      if (at + 1 + stride > raw.size()) return std::nullopt;
      std::copy_n(reinterpret_cast<const uint8_t*>(raw.constData()) + at + 1, stride, row.begin());
      unfilter(uchar(raw[at]), row.data(), previous.data(), stride, bpp);
      previous = row;
      for (int c = 0; c < pw; ++c) {
        uint8_t* out =
            &picture.rgba[(std::size_t(p.y0 + r * p.dy) * h.width + p.x0 + c * p.dx) * 4];
        uint32_t s[4];
        for (int k = 0; k < channels; ++k) s[k] = sample(row.data(), c * channels + k, h.depth);
        switch (h.colour_type) {
          case 3:
            for (int k = 0; k < 3; ++k) out[k] = uchar(palette[int(s[0]) * 3 + k]);
            out[3] = s[0] < uint32_t(transparency.size()) ? uchar(transparency[s[0]]) : 255;
            break;
          case 0:
            out[0] = out[1] = out[2] = level(s[0]);
            out[3] = s[0] == key(0) ? 0 : 255;
            break;
          case 2:
            for (int k = 0; k < 3; ++k) out[k] = level(s[k]);
            out[3] = s[0] == key(0) && s[1] == key(1) && s[2] == key(2) ? 0 : 255;
            break;
          case 4:
            out[0] = out[1] = out[2] = level(s[0]);
            out[3] = level(s[1]);
            break;
          default:
            for (int k = 0; k < 4; ++k) out[k] = level(s[k]);
        }
      }
    }
  }
  return picture;
}

}  // namespace tarvo::testing
