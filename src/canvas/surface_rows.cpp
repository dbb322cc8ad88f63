#include "canvas/surface_rows.h"

#include <algorithm>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TARVO_AVX2_KERNELS 1
#include <immintrin.h>
#else
#define TARVO_AVX2_KERNELS 0
#endif

namespace tarvo {

namespace {

bool plain_only = false;

// The loops are written once and compiled twice: as they stand for any processor, and inlined
// into the AVX2 entry points below, where the compiler vectorises them eight words at a time.
[[gnu::always_inline]] inline void interleave_loop(const uint8_t* __restrict r,
                                                   const uint8_t* __restrict g,
                                                   const uint8_t* __restrict b,
                                                   uint32_t* __restrict dst, int32_t n) {
  for (int32_t i = 0; i < n; ++i) dst[i] = surface_pixel(r[i], g[i], b[i]);
}

[[gnu::always_inline]] inline void widen_loop(const uint32_t* __restrict stretch,
                                              const int32_t* offset, uint32_t* __restrict dst,
                                              int32_t begin, int32_t n) {
  for (int32_t i = begin; i < n; ++i) dst[i] = stretch[offset[i]];
}

#if TARVO_AVX2_KERNELS

bool has_avx2() {
  static const bool yes = __builtin_cpu_supports("avx2");
  return yes;
}

[[gnu::target("avx2")]] void interleave_avx2(const uint8_t* r, const uint8_t* g, const uint8_t* b,
                                             uint32_t* dst, int32_t n) {
  interleave_loop(r, g, b, dst, n);
}

[[gnu::target("avx2")]] void widen_avx2(const uint32_t* stretch, const WideningMap& map,
                                        uint32_t* dst) {
  const auto n = static_cast<int32_t>(map.offset.size());
  const int32_t groups = static_cast<int32_t>(map.lanes.size() / 8);
  for (int32_t k = 0; k < groups; ++k) {
    const __m256i words =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(stretch + map.offset[8 * k]));
    const __m256i lanes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&map.lanes[8 * k]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + 8 * k),
                        _mm256_permutevar8x32_epi32(words, lanes));
  }
  widen_loop(stretch, map.offset.data(), dst, 8 * groups, n);
}

bool fast() {
  return !plain_only && has_avx2();
}

#endif

}  // namespace

void use_plain_surface_kernels(bool plain) {
  plain_only = plain;
}

void interleave_row(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint32_t* dst,
                    int32_t n) {
#if TARVO_AVX2_KERNELS
  if (fast()) return interleave_avx2(r, g, b, dst, n);
#endif
  interleave_loop(r, g, b, dst, n);
}

// Zoomed out, the loop stays scalar: a vector gather is slower than byte loads on processors
// whose microcode guards gathers, and the time goes into reading the sampled rows anyway.
void sample_row(const uint8_t* r, const uint8_t* g, const uint8_t* b, const int32_t* columns,
                uint32_t* dst, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    const int32_t x = columns[i];
    dst[i] = surface_pixel(r[x], g[x], b[x]);
  }
}

bool prepare_widening(const int32_t* columns, int32_t n, WideningMap& map) {
  map.offset.resize(static_cast<std::size_t>(std::max(0, n)));
  map.lanes.resize(static_cast<std::size_t>(std::max(0, n) / 8) * 8);
  map.stretch = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int64_t step = i == 0 ? 0 : int64_t{columns[i]} - columns[i - 1];
    if (step < 0 || step > 1) return false;
    map.offset[i] = i == 0 ? 0 : map.offset[i - 1] + static_cast<int32_t>(step);
  }
  // Steps of at most 1 keep each group's offsets within 7 of its first one.
  for (std::size_t i = 0; i < map.lanes.size(); ++i) {
    map.lanes[i] = map.offset[i] - map.offset[i & ~std::size_t{7}];
  }
  map.stretch = n > 0 ? map.offset[n - 1] + 1 : 0;
  return true;
}

void widen_row(const uint32_t* stretch, const WideningMap& map, uint32_t* dst) {
#if TARVO_AVX2_KERNELS
  if (fast()) return widen_avx2(stretch, map, dst);
#endif
  widen_loop(stretch, map.offset.data(), dst, 0, static_cast<int32_t>(map.offset.size()));
}

}  // namespace tarvo
