#include "render/dab.h"

#include <emmintrin.h>  // SSE2, which every x86-64 processor has

#include <algorithm>
#include <climits>
#include <cmath>

#include "render/cpu_builds.h"
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
};

constexpr int32_t kBlock = 16;

// The dab's level at the pixels x0 .. x0 + 15 of a row at vertical offset dy, into levels: a loop
// without branches that the compiler vectorises (the square root is the exact IEEE one either way).
TARVO_CPU_INLINE void block_levels(const DabShape& dab, float dy2, int32_t x0, uint8_t* levels) {
  const auto peak = static_cast<float>(dab.peak);
  for (int32_t i = 0; i < kBlock; ++i) {
    const float dx = (static_cast<float>(x0 + i) + 0.5f) - dab.cx;
    const float rim = dab.width - std::sqrt(dx * dx + dy2);
    const float level = std::min(std::max(rim, 0.0f), 1.0f);
    levels[i] = static_cast<uint8_t>(static_cast<int32_t>(peak * level + 0.5f));
  }
}

// Raises the sixteen bytes at row + x0 to the dab's levels and records the columns it raised. A
// block already at the peak everywhere cannot be raised (no level exceeds the peak), which one
// compare tells before any level is worked out: where a stroke's dabs overlap, most of a new dab
// lies on coverage the dabs before it already brought to the peak.
TARVO_CPU_INLINE void stamp_block(uint8_t* row, const DabShape& dab, float dy2, int32_t x0,
                                  Raised& raised) {
  auto* at = reinterpret_cast<__m128i*>(row + x0);
  const __m128i old = _mm_loadu_si128(at);
  const __m128i peak = _mm_set1_epi8(static_cast<char>(dab.peak));
  if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(old, peak), old)) == 0xFFFF) return;
  alignas(16) uint8_t levels[kBlock];
  block_levels(dab, dy2, x0, levels);
  const __m128i higher = _mm_max_epu8(old, _mm_load_si128(reinterpret_cast<__m128i*>(levels)));
  const auto kept = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(old, higher)));
  if (kept == 0xFFFF) return;
  _mm_storeu_si128(at, higher);
  const uint32_t changed = ~kept & 0xFFFF;
  raised.add(x0 + __builtin_ctz(changed));
  raised.add(x0 + 31 - __builtin_clz(changed));
}

// The same for the pixels left .. right of a row narrower than a block, one at a time.
TARVO_CPU_INLINE void stamp_pixels(uint8_t* row, const DabShape& dab, float dy2, int32_t left,
                                   int32_t right, Raised& raised) {
  alignas(16) uint8_t levels[kBlock];
  for (int32_t x0 = left; x0 <= right; x0 += kBlock) {
    block_levels(dab, dy2, x0, levels);
    for (int32_t x = x0; x <= std::min(right, x0 + kBlock - 1); ++x) {
      if (levels[x - x0] > row[x]) {
        row[x] = levels[x - x0];
        raised.add(x);
      }
    }
  }
}

// Stamps the columns left .. right of one row, in blocks of sixteen from left; the last block is
// moved back to end at the row's end when it would run past it. Blocks take in pixels beyond the
// dab's reach on that row, where the levels are 0 and nothing is raised, instead of working out
// the reach row by row.
TARVO_CPU_INLINE Raised stamp_dab_row(uint8_t* row, const DabShape& dab, float dy, int32_t left,
                                      int32_t right) {
  const float dy2 = dy * dy;
  Raised raised;
  if (dab.columns < kBlock) {
    stamp_pixels(row, dab, dy2, left, right, raised);
    return raised;
  }
  for (int32_t x0 = left; x0 <= right; x0 += kBlock) {
    stamp_block(row, dab, dy2, std::min(x0, dab.columns - kBlock), raised);
  }
  return raised;
}

bool all_finite(float a, float b, float c, float d, float e) {
  return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d) &&
         std::isfinite(e);
}

}  // namespace

// The rim's arithmetic gains from the wider registers of the AVX2 build (cpu_builds.h).
TARVO_CPU_BUILDS void AAcpen(uint8_t* raster, float cx, float cy, float width, float value,
                             float strength, int32_t columns, int32_t rows,
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
  const int32_t left = std::max(0, floor_to_int(double{cx} - width - 0.5));
  const auto right = static_cast<int32_t>(
      std::min<int64_t>(columns - 1, int64_t{floor_to_int(double{cx} + width - 0.5)} + 1));
  if (left > right) return;
  for (int32_t y = y_begin; y <= y_end; ++y) {
    const float dy = (static_cast<float>(y) + 0.5f) - cy;
    if (dy * dy >= dab.width2) continue;  // the row lies beyond the dab's reach
    const Raised raised =
        stamp_dab_row(raster + static_cast<std::size_t>(y) * columns, dab, dy, left, right);
    if (changes != nullptr && raised.first <= raised.last) {
      changes->mark(y, raised.first, raised.last, rows);
    }
  }
}

}  // namespace tarvo
