#include "render/dab.h"

#include <emmintrin.h>  // SSE2, which every x86-64 processor has

#include <algorithm>
#include <climits>
#include <cmath>

#include "render/render_math.h"

namespace tarvo {

namespace {

// The coverage byte at the dab's flat centre. The small allowance keeps a strength of
// PenPress / 255 (a float) from landing one below PenPress when multiplied back by 255.
int32_t dab_peak(float value, float strength) {
  const double level = static_cast<double>(value) * strength;
  if (!(level > 0.0)) return 0;
  return std::min(255, floor_to_int(level + 1e-3));
}

struct DabShape {
  float cx, cy;
  float width, width2;  // radius and its square
  int32_t peak;
  int32_t columns;  // of the raster
};

// The columns of one row that a stamp raised: first > last when none.
struct Raised {
  int32_t first = INT32_MAX, last = -1;
  void add(int32_t x) {
    first = std::min(first, x);
    last = std::max(last, x);
  }
  void add(const Raised& r) {
    first = std::min(first, r.first);
    last = std::max(last, r.last);
  }
};

// The helpers below are inlined into AAcpen, so that each of its builds (see there) has them
// compiled for its own instruction set.
#define TARVO_DAB_INLINE [[gnu::always_inline]] inline

// Raises row[x] to level(x) for x = begin .. end - 1 and returns the columns it raised. Whole
// blocks of sixteen bytes (level_block(x) gives the levels from x on) run while they end by
// block_limit (>= end): past end the levels must be 0, which raises nothing, so such a block
// writes back the bytes it read. A block whose bytes all stay is told by one compare.
template <class Level, class LevelBlock>
TARVO_DAB_INLINE Raised raise_run(uint8_t* row, int32_t begin, int32_t end, int32_t block_limit,
                                  Level level, LevelBlock level_block) {
  Raised raised;
  int32_t x = begin;
  for (; x < end && x + 16 <= block_limit; x += 16) {
    auto* at = reinterpret_cast<__m128i*>(row + x);
    const __m128i old = _mm_loadu_si128(at);
    const __m128i higher = _mm_max_epu8(old, level_block(x));
    const auto kept = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(old, higher)));
    if (kept == 0xFFFF) continue;
    _mm_storeu_si128(at, higher);
    const uint32_t changed = ~kept & 0xFFFF;
    raised.add(x + __builtin_ctz(changed));
    raised.add(x + 31 - __builtin_clz(changed));
  }
  for (; x < end; ++x) {  // without a branch on the pixel, whose outcome no predictor guesses
    const uint8_t old = row[x];
    const uint8_t v = std::max(old, level(x));
    row[x] = v;
    raised.last = v != old ? x : raised.last;
    raised.first = v != old && raised.first > x ? x : raised.first;
  }
  return raised;
}

// The pixels a row of the rim is computed for at a time.
constexpr int32_t kRimChunk = 64;

// Raises the coverage of the pixels x_begin..x_end (inclusive) of one row at vertical offset dy to
// peak * clamp(width - r, 0, 1). The levels of a chunk are computed first, in a loop without
// branches that the compiler vectorises (the square root is the exact IEEE one either way), and
// padded with zeros to whole blocks, which may then run on to the end of the image row.
TARVO_DAB_INLINE Raised stamp_row(uint8_t* row, const DabShape& dab, float dy, int32_t x_begin,
                                  int32_t x_end) {
  const float dy2 = dy * dy;
  const auto peak = static_cast<float>(dab.peak);
  Raised raised;
  alignas(16) uint8_t levels[kRimChunk];
  for (int32_t x0 = x_begin; x0 <= x_end; x0 += kRimChunk) {
    const int32_t n = std::min(kRimChunk, x_end - x0 + 1);
    const int32_t padded = std::min(kRimChunk, (n + 15) & ~15);
    for (int32_t i = 0; i < n; ++i) {
      const float dx = (static_cast<float>(x0 + i) + 0.5f) - dab.cx;
      const float rim = dab.width - std::sqrt(dx * dx + dy2);
      const float level = std::min(std::max(rim, 0.0f), 1.0f);
      levels[i] = static_cast<uint8_t>(static_cast<int32_t>(peak * level + 0.5f));
    }
    for (int32_t i = n; i < padded; ++i) levels[i] = 0;
    const uint8_t* at = levels - x0;  // indexed by column
    raised.add(raise_run(
        row, x0, x0 + n, std::min(dab.columns, x0 + padded), [at](int32_t x) { return at[x]; },
        [at](int32_t x) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + x)); }));
  }
  return raised;
}

// Raises x_begin..x_end of a row to at least peak: the flat interior of the dab.
TARVO_DAB_INLINE Raised raise_span(uint8_t* row, uint8_t peak, int32_t x_begin, int32_t x_end) {
  const __m128i block = _mm_set1_epi8(static_cast<char>(peak));
  return raise_run(
      row, x_begin, x_end + 1, x_end + 1, [peak](int32_t) { return peak; },
      [block](int32_t) { return block; });
}

// Dabs at most this wide are stamped by the rim formula across the whole row; wider ones split
// each row into rim, flat interior and rim.
constexpr float kSplitWidth = 6.0f;

// Stamps one row: the pixels whose centre lies at least 0.01 px inside the flat interior
// (r < width - 1, where the rim formula gives the peak exactly) are raised to the peak in one plain
// loop, the rim on either side pixel by pixel. The margin keeps float rounding out of the split, so
// the result is what stamp_row gives for the whole row.
TARVO_DAB_INLINE Raised stamp_dab_row(uint8_t* row, const DabShape& dab, float dy, int32_t x_begin,
                                      int32_t x_end) {
  if (dab.width <= kSplitWidth) return stamp_row(row, dab, dy, x_begin, x_end);
  const double inner = static_cast<double>(dab.width) - 1.0;
  const double inner_span2 = inner * inner - static_cast<double>(dy) * dy;
  if (inner_span2 <= 0.0) return stamp_row(row, dab, dy, x_begin, x_end);
  const double half = std::sqrt(inner_span2) - 0.01;
  const int32_t flat_begin = std::max(x_begin, ceil_to_int(dab.cx - half - 0.5));
  const int32_t flat_end = std::min(x_end, floor_to_int(dab.cx + half - 0.5));
  if (flat_begin > flat_end) return stamp_row(row, dab, dy, x_begin, x_end);
  Raised raised = stamp_row(row, dab, dy, x_begin, flat_begin - 1);
  raised.add(raise_span(row, static_cast<uint8_t>(dab.peak), flat_begin, flat_end));
  raised.add(stamp_row(row, dab, dy, flat_end + 1, x_end));
  return raised;
}

// A dab whose every row fits in one block of sixteen columns inside the raster is stamped a block
// per row, the levels of all sixteen computed by the rim formula (the columns beyond the dab's
// reach get 0, raising nothing): none of the per-row bounds and splits a wide dab needs, and the
// same bytes. The squared column offsets are the same for every row. False, with nothing written,
// when the dab does not fit.
TARVO_DAB_INLINE bool stamp_narrow_dab(uint8_t* raster, const DabShape& dab, int32_t y_begin,
                                       int32_t y_end, int32_t rows, CoverageChanges* changes) {
  constexpr int32_t kBlock = 16;
  const int32_t left = floor_to_int(double{dab.cx} - dab.width - 0.5);
  const int64_t right = int64_t{floor_to_int(double{dab.cx} + dab.width - 0.5)} + 1;
  if (dab.columns < kBlock || left < 0 || right >= dab.columns || right - left >= kBlock) {
    return false;
  }
  const int32_t x0 = std::min(left, dab.columns - kBlock);
  float dx2[kBlock];
  for (int32_t i = 0; i < kBlock; ++i) {
    const float dx = (static_cast<float>(x0 + i) + 0.5f) - dab.cx;
    dx2[i] = dx * dx;
  }
  const auto peak = static_cast<float>(dab.peak);
  for (int32_t y = y_begin; y <= y_end; ++y) {
    const float dy = (static_cast<float>(y) + 0.5f) - dab.cy;
    const float dy2 = dy * dy;
    alignas(16) uint8_t levels[kBlock];
    for (int32_t i = 0; i < kBlock; ++i) {
      const float rim = dab.width - std::sqrt(dx2[i] + dy2);
      const float level = std::min(std::max(rim, 0.0f), 1.0f);
      levels[i] = static_cast<uint8_t>(static_cast<int32_t>(peak * level + 0.5f));
    }
    const uint8_t* at = levels - x0;  // indexed by column
    const Raised raised = raise_run(
        raster + static_cast<std::size_t>(y) * dab.columns, x0, x0 + kBlock, x0 + kBlock,
        [at](int32_t x) { return at[x]; },
        [at](int32_t x) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + x)); });
    if (changes != nullptr && raised.first <= raised.last) {
      changes->mark(y, raised.first, raised.last, rows);
    }
  }
  return true;
}

bool all_finite(float a, float b, float c, float d, float e) {
  return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d) &&
         std::isfinite(e);
}

}  // namespace

// Built twice, for processors with AVX2 and for any x86-64, and chosen when the program loads: the
// rim's arithmetic and the row bounds gain from the wider registers and rounding instructions.
__attribute__((target_clones("avx2", "default"))) void AAcpen(uint8_t* raster, float cx, float cy,
                                                              float width, float value,
                                                              float strength, int32_t columns,
                                                              int32_t rows,
                                                              CoverageChanges* changes) {
  if (raster == nullptr || columns <= 0 || rows <= 0) return;
  if (!all_finite(cx, cy, width, value, strength) || !(width > 0.0f)) return;
  const int32_t peak = dab_peak(value, strength);
  if (peak <= 0) return;

  const DabShape dab{cx, cy, width, width * width, peak, columns};
  // A pixel can be reached only when its centre lies within width: x + 0.5 in (cx - w, cx + w).
  const int32_t y_begin = std::max(0, floor_to_int(double{cy} - width - 0.5));
  const auto y_end = static_cast<int32_t>(
      std::min<int64_t>(rows - 1, int64_t{floor_to_int(double{cy} + width - 0.5)} + 1));
  if (stamp_narrow_dab(raster, dab, y_begin, y_end, rows, changes)) return;
  for (int32_t y = y_begin; y <= y_end; ++y) {
    const float dy = (static_cast<float>(y) + 0.5f) - cy;
    const float span2 = dab.width2 - dy * dy;
    if (span2 <= 0.0f) continue;
    const double half = std::sqrt(static_cast<double>(span2));
    const int32_t x_begin = std::max(0, floor_to_int(cx - half - 0.5));
    const auto x_end = static_cast<int32_t>(
        std::min<int64_t>(columns - 1, int64_t{floor_to_int(cx + half - 0.5)} + 1));
    if (x_begin > x_end) continue;
    const Raised raised =
        stamp_dab_row(raster + static_cast<std::size_t>(y) * columns, dab, dy, x_begin, x_end);
    if (changes != nullptr && raised.first <= raised.last) {
      changes->mark(y, raised.first, raised.last, rows);
    }
  }
}

}  // namespace tarvo
