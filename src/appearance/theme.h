#pragma once
// The tools panel's theme, taken from the host's stored interface preferences: application
// "wickamber", section "Startup". Colours are packed R + 256 G + 65536 B (0x00BBGGRR).

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvo {

// The form's own background, and that of check boxes and frames: never read from the settings.
inline constexpr uint32_t kThemeFormBackColor = 10392975;  // (143, 149, 158)

struct ThemeKey {
  const char* name;
  int32_t default_value;
};

// The twelve keys in reading order, with their defaults.
inline constexpr std::array<ThemeKey, 12> kThemeKeys{{
    {"Shine_Color", 14737632},            // (224, 224, 224)
    {"Shadow_Color", 2105376},            // (32, 32, 32)
    {"Button_Fill_Color", 12632256},      // (192, 192, 192)
    {"Special_Setting_Color", 12961206},  // (182, 197, 197)
    {"Special_Action_Color", 11911101},   // (189, 191, 181)
    {"Special_Tool_Color", 12697289},     // (201, 190, 193)
    {"Borderless_Buttons", 0},
    {"Scroll_Fill_Color", 10392975},  // (143, 149, 158)
    {"Scroll_Bar_Color", 16777215},   // (255, 255, 255)
    {"Borderless_Scrollers", 0},
    {"Textbox_Fill_Color", 6706517},  // (85, 85, 102)
    {"Textbox_Text_Color", 8974079},  // (255, 238, 136)
}};

struct ThemeSettings {
  int32_t Shine_Color = 14737632;
  int32_t Shadow_Color = 2105376;
  int32_t Button_Fill_Color = 12632256;
  int32_t Special_Setting_Color = 12961206;
  int32_t Special_Action_Color = 11911101;
  int32_t Special_Tool_Color = 12697289;
  int32_t Borderless_Buttons = 0;
  int32_t Scroll_Fill_Color = 10392975;
  int32_t Scroll_Bar_Color = 16777215;
  int32_t Borderless_Scrollers = 0;
  int32_t Textbox_Fill_Color = 6706517;
  int32_t Textbox_Text_Color = 8974079;

  // The field a key names, or null for an unknown key.
  int32_t* field(std::string_view key);
};

// Reads a stored value as a whole number: optional sign and decimal digits only, within 32 bits,
// surrounding spaces allowed. False for anything else.
bool parse_whole_number(std::string_view text, int32_t& value);

enum class ControlKind {
  CheckBox,
  Frame,
  TextBox,
  ComboBox,
  Button,
  Slider,
  FileListBox,
  ListBox,
  Label,
  Other
};

// A control as the theme sees it: its kind and tag, and properties set by name. A property the
// control lacks makes set() return false, and the theme goes on with the next one.
class ThemedControl {
 public:
  virtual ~ThemedControl() = default;
  virtual ControlKind kind() const = 0;
  virtual std::string tag() const = 0;
  virtual bool set(std::string_view property, double value) = 0;
  virtual void refresh() = 0;
};

class ThemedForm {
 public:
  virtual ~ThemedForm() = default;
  virtual void set_back_color(uint32_t colour) = 0;
  virtual int count() const = 0;
  virtual ThemedControl& control(int index) = 0;
};

// Applies the theme to every control of the form, each by the first rule that matches its kind:
// check boxes and frames the form colour; text, combo and list boxes the text box colours; buttons
// not tagged "Color" the button colours, the special colour of a "Setting", "Action" or "Tool" tag
// with gradient 1.3 (else 1.2) and borderless only when "Borderless_Buttons" is exactly 1; sliders
// the scroll colours, flat when "Borderless_Scrollers" is anything but 0. Labels take label_colour.
void PrefsCallback(ThemedForm& form, const ThemeSettings& settings, uint32_t label_colour);

}  // namespace tarvo
