#pragma once
// Where every control of the tools panel sits and what it carries at design time, in pixels
// (left, top, width, height) on the panel's 141 x 490 client area. Colours are packed 0x00BBGGRR.

#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "panel/qt_icons.h"

namespace tarvo::panel_layout {

inline QString to_qstring(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

// The pan and zoom buttons, which pass their drags on to the canvas.
constexpr bool is_navigation_button(int n) {
  return n == 13 || n == 14;
}

// The keys that do what a button does, named in its tool tip after the design's text.
constexpr std::string_view keys_of_button(int n) {
  switch (n) {
    case 1:
      return "U or Ctrl+Z; redo: Ctrl+Shift+Z or Ctrl+Y";
    case 11:
      return "Ctrl+1";
    case 12:
      return "Ctrl+0";
    case 13:
      return "Shift+Ctrl+drag on the canvas, or the wheel";
    case 14:
      return "Shift+Ctrl+right drag on the canvas, Ctrl+wheel, Ctrl+plus or minus";
    default:
      return {};
  }
}

struct ButtonSpec {
  int n;  // kv_button<n>
  int left, top, width, height;
  std::string_view tip;
  std::optional<PanelIcon> icon;
  int button_type = 0;
  int mousepointer = 0;
  std::optional<uint32_t> backcolor = std::nullopt;
  std::optional<double> gradient = std::nullopt;
  std::string_view caption = {};
  std::string_view tag = {};
};

inline const std::array<ButtonSpec, 15> kButtons{{
    {8, 8, 8, 29, 29, "Pen", PanelIcon::Pen, 1},
    {9, 40, 8, 29, 29, "Water brush", PanelIcon::WaterBrush, 1},
    {6, 72, 8, 29, 29, "Ink", PanelIcon::Ink, 1},
    {7, 104, 8, 29, 29, "Gel brush", PanelIcon::GelBrush, 1},
    {13, 8, 40, 29, 29, "dynamically Pan", PanelIcon::Pan, 0, 15},
    {14, 40, 40, 29, 29, "dynamically zoom", PanelIcon::Zoom, 0, 15},
    {11, 72, 40, 29, 29, "Show As Is at 1x Zoom (100%)", PanelIcon::ActualSize},
    {12, 104, 40, 29, 29, "Fit to Window", PanelIcon::Fit},
    {3, 8, 72, 29, 29, "Get image from Wickamber", PanelIcon::GetImage},
    {4, 40, 72, 29, 29, "Send image to Wickamber", PanelIcon::SendImage},
    {1, 72, 72, 29, 29, "Undo", PanelIcon::Undo},
    {2, 104, 72, 29, 29, "Clear", PanelIcon::Clear},
    {.n = 15,
     .left = 50,
     .top = 230,
     .width = 83,
     .height = 19,
     .tip = {},
     .icon = std::nullopt,
     .caption = "Mode",
     .tag = "Setting"},
    {.n = 5,
     .left = 50,
     .top = 262,
     .width = 33,
     .height = 25,
     .tip = {},
     .icon = std::nullopt,
     .backcolor = 0x000000,
     .gradient = 1.1},
    {.n = 10,
     .left = 96,
     .top = 262,
     .width = 33,
     .height = 25,
     .tip = {},
     .icon = std::nullopt,
     .backcolor = 0xFFFFFF,
     .gradient = 1.1},
}};

// Every slider is 80 x 18 at x 50. Unset values keep the control's defaults.
struct SliderSpec {
  int n;  // HProp<n>
  int top;
  std::optional<int16_t> value, min, max;
};

inline constexpr int kSliderLeft = 50, kSliderWidth = 80, kSliderHeight = 18;
inline constexpr uint32_t kSliderBackColor = 0x9E958F;
inline constexpr uint32_t kSliderForeColor = 0xE0E0E0;

inline const std::array<SliderSpec, 8> kSliders{{
    {1, 118, 2, 1, 32},
    {8, 140, 255, 1, 255},
    {5, 162, 255, 1, 255},
    {6, 184, 15, std::nullopt, std::nullopt},
    {7, 206, std::nullopt, std::nullopt, 255},
    {2, 422, 1, 1, 255},
    {3, 444, 1, 1, 255},
    {4, 466, 1, 1, 255},
}};

struct LabelSpec {
  std::string_view name, text;
  int top;
  int height = 19;  // one line; taller labels wrap
};

inline constexpr int kLabelLeft = 4, kLabelWidth = 40, kLabelLineHeight = 19;

inline constexpr std::array<LabelSpec, 12> kLabels{{
    {"Label1", "Size", 118},
    {"Label8", "Press", 140},
    {"Label5", "Opacity", 162},
    {"Label6", "Step", 184},
    {"Label7", "Paper", 206},
    {"mode_label", "Mode", 232},
    {"Label9", "Pens", 268},
    {"Label10", "Color triangle", 324, 35},
    {"Label11", "Hue", 386},
    {"Label2", "Red", 422},
    {"Label3", "Green", 446},
    {"Label4", "Blue", 468},
}};

// The picture boxes: the triangle, its hidden mask (offset by four pixels, never shown) and the
// hue strip, all on the menu-text colour of the standard scheme, black.
struct BoxSpec {
  int left, top, width, height;
};
inline constexpr BoxSpec kPicker{50, 296, 81, 81};
inline constexpr BoxSpec kPicture2{54, 300, 81, 81};
inline constexpr BoxSpec kPicture1{50, 386, 81, 19};
inline constexpr uint32_t kPictureBackColor = 0x000000;

// The etched rules: a dark line with a light one two pixels below it, across the full width.
inline constexpr std::array<int, 4> kSeparatorTops{0, 106, 254, 412};
inline constexpr int kSeparatorRight = 142;
inline constexpr uint32_t kSeparatorDark = 0x404040;
inline constexpr uint32_t kSeparatorLight = 0xC0C0C0;

inline constexpr uint32_t kPanelBackColor = 0x808080;

}  // namespace tarvo::panel_layout
