#include "appearance/theme.h"

#include <charconv>
#include <exception>

namespace tarvo {

int32_t* ThemeSettings::field(std::string_view key) {
  int32_t* fields[] = {&Shine_Color,           &Shadow_Color,         &Button_Fill_Color,
                       &Special_Setting_Color, &Special_Action_Color, &Special_Tool_Color,
                       &Borderless_Buttons,    &Scroll_Fill_Color,    &Scroll_Bar_Color,
                       &Borderless_Scrollers,  &Textbox_Fill_Color,   &Textbox_Text_Color};
  for (std::size_t i = 0; i < kThemeKeys.size(); ++i) {
    if (key == kThemeKeys[i].name) return fields[i];
  }
  return nullptr;
}

bool parse_whole_number(std::string_view text, int32_t& value) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  int32_t parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

namespace {

void theme_button(ThemedControl& c, const ThemeSettings& s) {
  const std::string tag = c.tag();
  if (tag == "Color") return;
  c.set("Highlight", s.Shine_Color);
  c.set("Shadow", s.Shadow_Color);
  c.set("BackColor", s.Button_Fill_Color);
  c.set("Gradient", 1.2);
  if (tag == "Setting") {
    c.set("BackColor", s.Special_Setting_Color);
    c.set("Gradient", 1.3);
  } else if (tag == "Action") {
    c.set("BackColor", s.Special_Action_Color);
    c.set("Gradient", 1.3);
  } else if (tag == "Tool") {
    c.set("BackColor", s.Special_Tool_Color);
    c.set("Gradient", 1.3);
  }
  c.set("Borderless", s.Borderless_Buttons == 1 ? 1.0 : 0.0);
  c.refresh();
}

void theme_slider(ThemedControl& c, const ThemeSettings& s) {
  c.set("BackColor", s.Scroll_Fill_Color);
  c.set("ForeColor", s.Scroll_Bar_Color);
  if (s.Borderless_Scrollers == 0) {
    c.set("Highlight", s.Shine_Color);
    c.set("Shadow", s.Shadow_Color);
  } else {
    c.set("Highlight", s.Scroll_Fill_Color);
    c.set("Shadow", s.Scroll_Fill_Color);
  }
  c.refresh();
}

void theme_control(ThemedControl& c, const ThemeSettings& s, uint32_t label_colour) {
  switch (c.kind()) {
    case ControlKind::CheckBox:
    case ControlKind::Frame:
      c.set("BackColor", kThemeFormBackColor);
      return;
    case ControlKind::TextBox:
    case ControlKind::ComboBox:
      c.set("BackColor", s.Textbox_Fill_Color);
      c.set("ForeColor", s.Textbox_Text_Color);
      return;
    case ControlKind::Label:
      c.set("ForeColor", label_colour);
      return;
    case ControlKind::Button:
      theme_button(c, s);
      return;
    case ControlKind::Slider:
      theme_slider(c, s);
      return;
    case ControlKind::FileListBox:
    case ControlKind::ListBox:
      c.set("ForeColor", s.Textbox_Text_Color);
      c.set("BackColor", s.Textbox_Fill_Color);
      return;
    case ControlKind::Other:
      return;
  }
}

}  // namespace

void PrefsCallback(ThemedForm& form, const ThemeSettings& settings, uint32_t label_colour) {
  form.set_back_color(kThemeFormBackColor);
  for (int i = 0; i < form.count(); ++i) {
    // One control failing never stops the theme half-way.
    try {
      theme_control(form.control(i), settings, label_colour);
    } catch (const std::exception&) {
    }
  }
}

}  // namespace tarvo
