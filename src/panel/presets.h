#pragma once
// The four brush presets. A preset sets the response curve, the relief and the blend mode, and the
// caption of the mode button; it leaves the sliders and the colour alone.

#include <array>
#include <cstdint>
#include <string_view>

namespace tarvo {

struct BrushPreset {
  std::string_view tip;           // the preset button's tool tip, which names the preset
  int32_t button;                 // n of the preset's button kv_button<n>
  int32_t BrushCurve;             // 0 unchanged coverage, 1 rim curve, 2 hardening curve
  int32_t Emboss;                 // 1 adds relief shading
  int32_t BlendMode;              // blend-mode code
  std::string_view mode_caption;  // what the mode button shows after the preset
};

// In the order the panel lays them out, left to right; "Pen" is pressed at start and matches the
// start values of the brush settings.
inline constexpr std::array<BrushPreset, 4> kBrushPresets{{
    {"Pen", 8, 0, 0, 0, "Default"},
    {"Water brush", 9, 1, 0, 3, "Multiply"},
    {"Ink", 6, 2, 0, 3, "Multiply"},
    {"Gel brush", 7, 1, 1, 0, "Default"},
}};

// The preset of button kv_button<n>, or null when that button is not a preset.
constexpr const BrushPreset* preset_for_button(int n) {
  for (const BrushPreset& preset : kBrushPresets) {
    if (preset.button == n) return &preset;
  }
  return nullptr;
}

}  // namespace tarvo
