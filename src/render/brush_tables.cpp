#include "render/brush_tables.h"

#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

// Blend modes 1..10 each have one 256 x 256 plane.
constexpr int32_t kBlendPlanes = 10;

// The rim curve: low coverage gives high strength (peak 250 at coverages 54..56), full coverage
// gives 82, so a stroke is strongest along its soft rim and paler inside. Hand-tuned values; no
// formula produces them.
constexpr std::array<uint8_t, 256> kRimCurve = {
    0,   5,   9,   14,  19,  24,  28,  33,  38,  42,  47,  52,  57,  61,  66,  71,   //
    76,  80,  85,  90,  94,  99,  104, 109, 113, 118, 123, 128, 132, 137, 142, 146,  //
    151, 156, 161, 165, 170, 175, 179, 184, 189, 194, 198, 203, 208, 212, 217, 222,  //
    227, 231, 236, 241, 245, 248, 250, 250, 250, 249, 247, 245, 243, 241, 239, 238,  //
    236, 234, 232, 230, 228, 226, 224, 222, 220, 218, 216, 214, 212, 210, 208, 207,  //
    205, 203, 201, 199, 197, 195, 193, 192, 190, 189, 188, 186, 185, 184, 183, 182,  //
    181, 180, 178, 177, 176, 175, 174, 173, 172, 170, 169, 168, 167, 166, 165, 164,  //
    162, 161, 160, 159, 158, 157, 155, 154, 153, 152, 151, 150, 149, 147, 146, 145,  //
    144, 143, 142, 141, 139, 138, 137, 136, 135, 134, 133, 131, 130, 129, 128, 128,  //
    127, 127, 126, 126, 126, 125, 125, 124, 124, 124, 123, 123, 122, 122, 121, 121,  //
    121, 120, 120, 119, 119, 119, 118, 118, 117, 117, 117, 116, 116, 115, 115, 115,  //
    114, 114, 113, 113, 113, 112, 112, 111, 111, 110, 110, 110, 109, 109, 108, 108,  //
    108, 107, 107, 106, 106, 106, 105, 105, 104, 104, 104, 103, 103, 102, 102, 102,  //
    101, 101, 100, 100, 100, 99,  99,  98,  98,  97,  97,  97,  96,  96,  95,  95,   //
    95,  94,  94,  93,  93,  93,  92,  92,  91,  91,  91,  90,  90,  89,  89,  89,   //
    88,  88,  87,  87,  86,  86,  86,  85,  85,  84,  84,  84,  83,  83,  82,  82,
};

// The hardening curve, coverages 0..143: roughly twice the coverage, saturating at 255 around 125
// and settling at 254 from 131 on. Coverages 144..255 are all 254.
constexpr int32_t kHardCurveListed = 144;
constexpr std::array<uint8_t, kHardCurveListed> kHardCurve = {
    0,   0,   2,   4,   6,   8,   11,  13,  15,  17,  19,  21,  23,  26,  28,  30,   //
    32,  34,  36,  38,  40,  42,  45,  47,  49,  51,  53,  55,  57,  60,  62,  64,   //
    66,  68,  70,  72,  74,  76,  79,  81,  83,  85,  87,  89,  91,  94,  96,  98,   //
    100, 102, 104, 106, 108, 110, 113, 115, 117, 119, 121, 123, 125, 128, 130, 132,  //
    134, 136, 138, 140, 142, 144, 147, 149, 151, 153, 155, 157, 159, 162, 164, 166,  //
    168, 170, 172, 174, 176, 178, 181, 183, 185, 187, 189, 191, 193, 196, 198, 200,  //
    202, 204, 206, 208, 210, 212, 215, 217, 219, 221, 223, 225, 227, 230, 232, 234,  //
    236, 238, 240, 242, 244, 246, 248, 249, 251, 252, 253, 254, 254, 255, 255, 255,  //
    255, 255, 255, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254, 254,
};
constexpr uint8_t kHardCurveTail = 254;

// Nearest integer, halves to even (the default floating-point rounding mode).
uint8_t round_byte(double v) {
  return static_cast<uint8_t>(std::nearbyint(v));
}

uint8_t divide_entry(int32_t p, int32_t i) {
  if (i == 0) return 255;
  double v = (static_cast<double>(p) / i) * 255.0;
  if (v > 255.0) v = 255.0;
  return round_byte(v);
}

uint8_t screen_entry(int32_t p, int32_t i) {
  return round_byte(((255.0 - p) / 255.0) * i + p);
}

// The result of blend mode k + 1 for paint p and image i.
uint8_t blend_entry(int32_t k, int32_t p, int32_t i) {
  switch (k) {
    case 0:
      return static_cast<uint8_t>(std::min(p + i, 255));
    case 1:
      return static_cast<uint8_t>(std::max(i - p, 0));
    case 2:
      return static_cast<uint8_t>((p * i) / 255);
    case 3:
      return divide_entry(p, i);
    case 4:
      return screen_entry(p, i);
    case 5:
      return static_cast<uint8_t>(std::max(p, i));
    case 6:
      return static_cast<uint8_t>(std::min(p, i));
    case 7:
      return static_cast<uint8_t>(p & i);
    case 8:
      return static_cast<uint8_t>(p | i);
    default:
      return static_cast<uint8_t>(p ^ i);
  }
}

}  // namespace

void BuildCoverageCurves(BrushTables& tables) {
  tables.curves[0] = kRimCurve;
  for (int32_t m = 0; m < 256; ++m) {
    tables.curves[1][m] = m < kHardCurveListed ? kHardCurve[m] : kHardCurveTail;
  }
}

void BuildBlendTable(BrushTables& tables) {
  tables.blend.assign(std::size_t{kBlendPlanes} << 16, 0);
  for (int32_t k = 0; k < kBlendPlanes; ++k) {
    uint8_t* plane = tables.blend.data() + (static_cast<std::size_t>(k) << 16);
    for (int32_t p = 0; p < 256; ++p) {
      for (int32_t i = 0; i < 256; ++i) plane[(p << 8) | i] = blend_entry(k, p, i);
    }
  }
}

BrushTables make_brush_tables() {
  BrushTables tables;
  BuildCoverageCurves(tables);
  BuildBlendTable(tables);
  return tables;
}

}  // namespace tarvo
