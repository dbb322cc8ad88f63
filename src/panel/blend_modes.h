#pragma once
// The items of the blend-mode menu, in menu order. Codes follow neither the menu order nor the
// alphabet: "Greater than" and "Less than" are 6 and 7, the bitwise modes 8 to 10. The caption the
// mode button shows is the menu caption, except for the bitwise modes, which it spells in capitals.

#include <array>
#include <cstdint>
#include <string_view>

namespace tarvo {

struct ModeMenuItem {
  std::string_view name;            // the menu item's name; its click handler is name + "_Click"
  std::string_view menu_caption;    // what the menu shows
  int32_t code;                     // the BlendMode it selects
  std::string_view button_caption;  // what the mode button shows once it is chosen
};

inline constexpr std::array<ModeMenuItem, 11> kModeMenuItems{{
    {"ModeDefault", "Default", 0, "Default"},
    {"ModeAdd", "Add", 1, "Add"},
    {"ModeSub", "Subtract", 2, "Subtract"},
    {"ModeMult", "Multiply", 3, "Multiply"},
    {"ModeDiv", "Divide", 4, "Divide"},
    {"ModeScreen", "Screen", 5, "Screen"},
    {"MenuGreater", "Greater than", 6, "Greater than"},
    {"MenuLess", "Less than", 7, "Less than"},
    {"ModeAnd", "And", 8, "AND"},
    {"ModeOr", "Or", 9, "OR"},
    {"ModeXor", "Xor", 10, "XOR"},
}};

// The mode button's caption before any preset or menu choice, although the mode is then 0.
inline constexpr std::string_view kModeButtonStartCaption = "Mode";

}  // namespace tarvo
