#pragma once
// The per-pixel compositing of the segment renderer, one row span at a time. Internal to
// segment_renderer.cpp; kept apart so that the hot loop reads on one screen.
//
// Pixel contract: every plane is bytes 0..255. For coverage m (after paper), strength
// a = strength[m]; a == 0 leaves the pixel untouched (it keeps whatever each output plane holds).
// Otherwise, per channel with paint byte P, image byte I and the mode's value v = Mode(P, I),
//   out = (a * v + (255 - a) * I) div 255,
// then, with relief, out + (u - l) clamped to 0..255, where u and l are the paper-reduced raw
// coverages at (x + 1, y + 1) and (x - 1, y - 1).
//
// Over an image with alpha (the kAlpha kernels) the image bytes are the image as it looks over
// white, beside each pixel's own colour C and alpha A (the layer rows), and the stroke's strength
// becomes coverage: paint of strength a is laid "over" the pixel. A pixel with A = 255 gets the
// opaque arithmetic above, byte for byte, and keeps A. Any other pixel gets
//   A' = A + round(a * (255 - A) / 255),
//   C' = round((255 a v + (255 - a) A C) / (255 A')), plus the relief, clamped to 0..255,
// with v = Mode(P, C), or v = P over full transparency (A = 0), where there is nothing to combine
// with: an edge over transparency has exactly the paint's colour and alpha a. The image byte
// becomes over_white(C', A'), so that the canvas shows exactly what the layer holds. The division
// is done in single precision, whose operands and quotient are exact to far below a level and
// which every build rounds alike.
//
// A span is done in chunks of kChunk pixels and two passes: table lookups (strength, relief slope,
// and the Divide table) fill small buffers, then plain 16-bit arithmetic that the compiler
// vectorises blends, mixes, shades and selects. The untouched rule becomes a select, so that pass
// reads each output byte it may keep; the result is the same byte for byte.

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "render/cpu_builds.h"

namespace tarvo::composite {

// Everything fixed for one call.
struct CallTables {
  const uint8_t* strength;     // 256: coverage after paper -> strength a
  const uint8_t* grain;        // 256: paper byte -> coverage taken away (null: no paper)
  const uint8_t* blend[3];     // 256 each, table modes only: image byte -> v, per channel
  uint8_t paint[3];            // paint bytes, red, green, blue
  int32_t paper_width;         // tile width of the paper
  bool grain_applied = false;  // the paper rows hold the grain already: no lookup through grain
  bool strength_is_coverage = false;  // strength[m] == m for every m: no lookup through strength
};

// The rows of one image row y. The *_up rows are y - 1, the *_down rows y + 1 (relief only); the
// paper rows are those of the paper tile rows matching y, y - 1 and y + 1.
struct RowPointers {
  const uint8_t *fx, *fx_up, *fx_down;
  const uint8_t *paper, *paper_up, *paper_down;
  const uint8_t* image[3];
  uint8_t *out_a[3], *out_b[3];  // out_b may equal out_a when only one plane set is written
  // kAlpha kernels only: the committed image's own colour and alpha rows, and where a commit
  // writes the painted ones (the same rows; null in a preview pass, which writes what shows).
  const uint8_t* layer[3];
  const uint8_t* alpha;
  uint8_t* out_layer[3];
  uint8_t* out_alpha;
};

inline constexpr int32_t kChunk = 256;

// What the lookup pass hands to the arithmetic pass for one chunk.
struct ChunkValues {
  uint8_t a[kChunk];
  uint8_t v[3][kChunk];          // table modes only
  int16_t slope[kChunk];         // relief only
  uint8_t m[kChunk];             // paper only: coverage less the grain
  uint8_t u[kChunk], l[kChunk];  // paper and relief: the neighbours less the grain
  uint8_t grown[kChunk];         // kAlpha only: the alpha after painting
  uint8_t own[kChunk];           // kAlpha only: the colour the mode combines with the paint
  uint8_t unused[kChunk];        // kAlpha only: where a preview pass writes the colour laid over
};

// out[i] = table[in[i]], eight bytes a word: plain scalar lookups (a vectorised gather emulation
// is slower). Byte k of the word is the byte at i + k on either byte order, as extract and insert
// use the same shift.
TARVO_CPU_INLINE void look_up_bytes(const uint8_t* __restrict table, const uint8_t* __restrict in,
                                    uint8_t* __restrict out, int32_t n) {
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t word;
    std::memcpy(&word, in + i, 8);
    uint64_t result = 0;
    for (int k = 0; k < 8; ++k) result |= uint64_t{table[(word >> (8 * k)) & 0xFF]} << (8 * k);
    std::memcpy(out + i, &result, 8);
  }
  for (; i < n; ++i) out[i] = table[in[i]];
}

// out[i] = coverage[i] less the grain of the paper under pixel x + i, never below 0. The paper row
// is the tile row under the pixels; x >= 0.
TARVO_CPU_INLINE void reduce_by_paper(const CallTables& c, const uint8_t* paper_row, int32_t x,
                                      int32_t n, const uint8_t* __restrict coverage,
                                      uint8_t* __restrict out) {
  uint8_t grain[kChunk];
  int32_t px = x % c.paper_width;
  for (int32_t i = 0; i < n;) {  // runs of the paper row between wraps
    const int32_t run = std::min(n - i, c.paper_width - px);
    if (c.grain_applied) {
      std::memcpy(grain + i, paper_row + px, static_cast<std::size_t>(run));
    } else {
      look_up_bytes(c.grain, paper_row + px, grain + i, run);
    }
    i += run;
    px = 0;
  }
  for (int32_t i = 0; i < n; ++i) {
    out[i] = static_cast<uint8_t>(coverage[i] > grain[i] ? coverage[i] - grain[i] : 0);
  }
}

// Pass one: strength, and with relief the slope, of pixels x .. x + n - 1.
template <bool kPaper, bool kRelief>
TARVO_CPU_INLINE void look_up_coverage(const RowPointers& row, const CallTables& c, int32_t x,
                                       int32_t n, ChunkValues& out) {
  const uint8_t* coverage = row.fx + x;
  if constexpr (kPaper) {
    reduce_by_paper(c, row.paper, x, n, coverage, out.m);
    coverage = out.m;
  }
  if (c.strength_is_coverage) {
    std::memcpy(out.a, coverage, static_cast<std::size_t>(n));
  } else {
    look_up_bytes(c.strength, coverage, out.a, n);
  }
  if constexpr (kRelief) {
    const uint8_t* u = row.fx_down + x + 1;
    const uint8_t* l = row.fx_up + x - 1;
    if constexpr (kPaper) {
      reduce_by_paper(c, row.paper_down, x + 1, n, u, out.u);
      reduce_by_paper(c, row.paper_up, x - 1, n, l, out.l);
      u = out.u;
      l = out.l;
    }
    for (int32_t i = 0; i < n; ++i) out.slope[i] = static_cast<int16_t>(u[i] - l[i]);
  }
}

// Pass two for one channel. Each pixel reads and writes only its own index in every plane, so the
// loop carries no dependence even where an output plane is the image plane itself. Without
// kTwoOutputs out_b is out_a (the preview pass, the commit) and is written once.
// The rows one channel of a kAlpha kernel reads and writes besides the image row.
struct LayerChannel {
  const uint8_t* colour;
  const uint8_t* alpha;
  uint8_t* out;  // in a preview pass, a scratch row: the store stays unconditional
};

// kAlpha, pixels of alpha below 255: the own colour laid over, C' (the header's formula).
TARVO_CPU_INLINE int32_t colour_over(uint16_t a, uint16_t v, uint16_t was, uint16_t colour,
                                     uint16_t grown) {
  const int32_t premultiplied = 255 * a * v + (255 - a) * was * colour;
  const int32_t alpha = grown == 0 ? 1 : grown;  // grown is 0 only where a is 0: kept anyway
  const float own = static_cast<float>(premultiplied) / static_cast<float>(255 * alpha);
  return std::min(static_cast<int32_t>(own + 0.5f), 255);
}

template <class Mode, bool kRelief, bool kTwoOutputs, bool kAlpha>
TARVO_CPU_INLINE void mix_channel(const ChunkValues& values, const uint8_t* table_v, uint16_t paint,
                                  const uint8_t* image, uint8_t* out_a, uint8_t* out_b, int32_t n,
                                  const LayerChannel& layer = {}) {
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC ivdep
#endif
  for (int32_t i = 0; i < n; ++i) {
    const uint16_t a = values.a[i];
    const uint16_t base = image[i];
    uint16_t v;
    if constexpr (Mode::kTable) {
      v = table_v[i];
    } else if constexpr (kAlpha && Mode::kCode != 0) {
      v = Mode::apply(paint, values.own[i]);
    } else {
      v = Mode::apply(paint, base);
    }
    const auto mixed = static_cast<uint16_t>(a * v + (255 - a) * base);
    auto result = static_cast<int16_t>(mixed / 255);
    if constexpr (kRelief) {
      const auto shaded = static_cast<int16_t>(result + values.slope[i]);
      result = std::min<int16_t>(std::max<int16_t>(shaded, 0), 255);
    }
    // keep = 0xFF where a is 0: masks, so that both stores are unconditional.
    const auto keep = static_cast<uint8_t>((a != 0) - 1);
    if constexpr (kAlpha) {
      const uint16_t was = layer.alpha[i], grown = values.grown[i];
      const uint16_t laid = was == 0 ? paint : v;  // nothing to combine with
      int32_t colour = colour_over(a, laid, was, layer.colour[i], grown);
      if constexpr (kRelief) colour = std::clamp(colour + values.slope[i], 0, 255);
      const auto shown = static_cast<int16_t>((colour * grown + 255 * (255 - grown) + 127) / 255);
      const bool opaque = was == 255;
      const auto own = static_cast<uint8_t>(opaque ? result : colour);
      result = opaque ? result : shown;
      layer.out[i] = static_cast<uint8_t>((layer.out[i] & keep) | (own & ~keep));
    }
    const auto byte = static_cast<uint8_t>(result);
    out_a[i] = static_cast<uint8_t>((out_a[i] & keep) | (byte & ~keep));
    if constexpr (kTwoOutputs) out_b[i] = static_cast<uint8_t>((out_b[i] & keep) | (byte & ~keep));
  }
}

// kAlpha: the alpha each pixel of the chunk has once painted, A + round(a * (255 - A) / 255).
TARVO_CPU_INLINE void grow_alpha(const uint8_t* __restrict strength,
                                 const uint8_t* __restrict alpha, uint8_t* __restrict grown,
                                 int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    const uint16_t a = strength[i], was = alpha[i];
    grown[i] = static_cast<uint8_t>(was + static_cast<uint16_t>(a * (255 - was) + 127) / 255);
  }
}

// kAlpha: the colour of one channel that a mode combines with the paint: the image byte of an
// opaque pixel, as without alpha; else the pixel's own colour (unused over full transparency).
TARVO_CPU_INLINE void own_colour(const uint8_t* image, const uint8_t* colour, const uint8_t* alpha,
                                 uint8_t* __restrict own, int32_t n) {
  for (int32_t i = 0; i < n; ++i) own[i] = alpha[i] == 255 ? image[i] : colour[i];
}

// kAlpha: a commit keeps the grown alpha of the pixels it paints.
TARVO_CPU_INLINE void store_alpha(const ChunkValues& values, uint8_t* out, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    if (values.a[i] != 0) out[i] = values.grown[i];
  }
}

template <class Mode, bool kPaper, bool kRelief, bool kAlpha>
TARVO_CPU_BUILDS void composite_span(const RowPointers& row, const CallTables& c, int32_t x_begin,
                                     int32_t x_end) {
  if (x_begin > x_end) return;
  ChunkValues values;
  for (int32_t x = x_begin; x <= x_end; x += kChunk) {
    const int32_t n = std::min(x_end - x + 1, kChunk);
    look_up_coverage<kPaper, kRelief>(row, c, x, n, values);
    if constexpr (kAlpha) grow_alpha(values.a, row.alpha + x, values.grown, n);
    for (int ch = 0; ch < 3; ++ch) {
      const uint8_t* mode_input = row.image[ch] + x;
      LayerChannel layer{};
      if constexpr (kAlpha) {
        layer = {row.layer[ch] + x, row.alpha + x,
                 row.out_layer[ch] ? row.out_layer[ch] + x : values.unused};
        if constexpr (Mode::kCode != 0) {
          own_colour(row.image[ch] + x, layer.colour, layer.alpha, values.own, n);
          mode_input = values.own;
        }
      }
      if constexpr (Mode::kTable) look_up_bytes(c.blend[ch], mode_input, values.v[ch], n);
      uint8_t* const out_a = row.out_a[ch] + x;
      uint8_t* const out_b = row.out_b[ch] + x;
      if (out_a == out_b) {
        mix_channel<Mode, kRelief, false, kAlpha>(values, values.v[ch], c.paint[ch],
                                                  row.image[ch] + x, out_a, out_b, n, layer);
      } else {
        mix_channel<Mode, kRelief, true, kAlpha>(values, values.v[ch], c.paint[ch],
                                                 row.image[ch] + x, out_a, out_b, n, layer);
      }
    }
    if constexpr (kAlpha) {
      if (row.out_alpha) store_alpha(values, row.out_alpha + x, n);
    }
  }
}

using SpanFunction = void (*)(const RowPointers&, const CallTables&, int32_t, int32_t);

// The plain and the relief span of a mode, with or without paper.
struct Kernels {
  SpanFunction plain, relief;
};

template <class Mode, bool kAlpha>
Kernels kernels_for(bool paper) {
  if (paper) {
    return {composite_span<Mode, true, false, kAlpha>, composite_span<Mode, true, true, kAlpha>};
  }
  return {composite_span<Mode, false, false, kAlpha>, composite_span<Mode, false, true, kAlpha>};
}

}  // namespace tarvo::composite
