#pragma once
// The two byte lookup tables built once at start-up and only read afterwards, as plain state.
//
// CoverageCurves(m, k): shaped coverage for raw coverage m under curve k + 1 (0 the rim curve,
// 1 the hardening curve). BlendTable(p, i, k): the result of blend mode k + 1 for paint byte p and
// image byte i; the paint always comes first.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvo {

struct BrushTables {
  // Stored curve-major: curves[k][m].
  std::array<std::array<uint8_t, 256>, 2> curves{};
  // Stored plane-major so that a mode's table is one contiguous 64 KiB block indexed p * 256 + i.
  std::vector<uint8_t> blend;

  uint8_t CoverageCurves(int32_t m, int32_t k) const { return curves[k][m]; }
  uint8_t BlendTable(int32_t p, int32_t i, int32_t k) const {
    return blend[(static_cast<std::size_t>(k) << 16) | (static_cast<std::size_t>(p) << 8) |
                 static_cast<std::size_t>(i)];
  }
  const uint8_t* blend_plane(int32_t k) const {
    return blend.data() + (static_cast<std::size_t>(k) << 16);
  }
};

}  // namespace tarvo
