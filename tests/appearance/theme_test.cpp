#include "appearance/theme.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

namespace tarvo {
namespace {

// A control that records the properties it was given; it lacks those not in `has`.
struct Control : ThemedControl {
  ControlKind k;
  std::string t;
  std::vector<std::string> has;
  std::map<std::string, double> set_to;
  int refreshed = 0;
  Control(ControlKind kind, std::string tag, std::vector<std::string> props)
      : k(kind), t(std::move(tag)), has(std::move(props)) {}
  ControlKind kind() const override { return k; }
  std::string tag() const override { return t; }
  bool set(std::string_view p, double v) override {
    for (const auto& h : has)
      if (h == p) {
        set_to[std::string(p)] = v;
        return true;
      }
    return false;
  }
  void refresh() override { ++refreshed; }
};

const std::vector<std::string> kButtonProps{"BackColor", "ForeColor", "Highlight",
                                            "Shadow",    "Gradient",  "Borderless"};

struct Form : ThemedForm {
  uint32_t back = 0;
  std::vector<std::unique_ptr<Control>> controls;
  Control& add(ControlKind k, std::string tag = {}, std::vector<std::string> props = kButtonProps) {
    controls.push_back(std::make_unique<Control>(k, std::move(tag), std::move(props)));
    return *controls.back();
  }
  void set_back_color(uint32_t c) override { back = c; }
  int count() const override { return static_cast<int>(controls.size()); }
  ThemedControl& control(int i) override { return *controls[i]; }
};

TEST(Theme, DefaultsGiveTheTableColoursAndTheFixedFormBackground) {
  Form f;
  Control& button = f.add(ControlKind::Button);
  Control& slider = f.add(ControlKind::Slider);
  Control& text = f.add(ControlKind::TextBox);
  PrefsCallback(f, ThemeSettings{}, 0x101010);
  EXPECT_EQ(f.back, 10392975u);
  EXPECT_EQ(button.set_to["BackColor"], 12632256);
  EXPECT_EQ(button.set_to["Highlight"], 14737632);
  EXPECT_EQ(button.set_to["Gradient"], 1.2);
  EXPECT_EQ(button.set_to["Borderless"], 0);
  EXPECT_EQ(button.refreshed, 1);
  EXPECT_EQ(slider.set_to["BackColor"], 10392975);
  EXPECT_EQ(slider.set_to["ForeColor"], 16777215);
  EXPECT_EQ(slider.set_to["Shadow"], 2105376);
  EXPECT_EQ(text.set_to["ForeColor"], 8974079);
}

TEST(Theme, TagsGiveSpecialColoursAndColorTaggedButtonsKeepTheirOwn) {
  Form f;
  Control& setting = f.add(ControlKind::Button, "Setting");
  Control& tool = f.add(ControlKind::Button, "Tool");
  Control& colour = f.add(ControlKind::Button, "Color");
  PrefsCallback(f, ThemeSettings{}, 0);
  EXPECT_EQ(setting.set_to["BackColor"], 12961206);
  EXPECT_EQ(setting.set_to["Gradient"], 1.3);
  EXPECT_EQ(tool.set_to["BackColor"], 12697289);
  EXPECT_TRUE(colour.set_to.empty());
  EXPECT_EQ(colour.refreshed, 0);
}

TEST(Theme, BorderlessButtonsOnlyAtOneButFlatSlidersAtAnythingButZero) {
  Form f;
  Control& button = f.add(ControlKind::Button);
  Control& slider = f.add(ControlKind::Slider);
  ThemeSettings s;
  s.Borderless_Buttons = 2;
  s.Borderless_Scrollers = 2;
  s.Scroll_Fill_Color = 123;
  PrefsCallback(f, s, 0);
  EXPECT_EQ(button.set_to["Borderless"], 0);
  EXPECT_EQ(slider.set_to["Highlight"], 123);
  EXPECT_EQ(slider.set_to["Shadow"], 123);
  s.Borderless_Buttons = 1;
  PrefsCallback(f, s, 0);
  EXPECT_EQ(button.set_to["Borderless"], 1);
}

TEST(Theme, AMissingPropertyIsSkippedAndTheRestStillRuns) {
  Form f;
  Control& partial = f.add(ControlKind::Button, "", {"BackColor"});
  Control& after = f.add(ControlKind::Slider);
  PrefsCallback(f, ThemeSettings{}, 0);
  EXPECT_EQ(partial.set_to.size(), 1u);
  EXPECT_EQ(partial.refreshed, 1);
  EXPECT_EQ(after.set_to["BackColor"], 10392975);
}

TEST(ThemeSettingsReading, OnlyWholeNumbersAreAccepted) {
  int32_t v = 7;
  EXPECT_TRUE(parse_whole_number(" 14737632 ", v));
  EXPECT_EQ(v, 14737632);
  EXPECT_TRUE(parse_whole_number("-5", v));
  EXPECT_EQ(v, -5);
  for (const char* bad : {"", "red", "1.5", "0x10", "99999999999", "12abc", "--1"}) {
    EXPECT_FALSE(parse_whole_number(bad, v)) << bad;
  }
  ThemeSettings s;
  ASSERT_NE(s.field("Shadow_Color"), nullptr);
  EXPECT_EQ(*s.field("Shadow_Color"), 2105376);
  EXPECT_EQ(s.field("Nope"), nullptr);
}

}  // namespace
}  // namespace tarvo
