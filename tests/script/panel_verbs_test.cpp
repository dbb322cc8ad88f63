// The tools panel's verbs: every one parses with its arguments and names the control and the kind
// of input it drives, and the canvas's verbs are not taken for panel ones.

#include "script/panel_verbs.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvo {
namespace {

using Kind = PanelInput::Kind;

PanelInput input_of(const std::string& line) {
  const auto events = parse_script_text(line + "\n", "panel.tvs");
  EXPECT_EQ(events.size(), 1u);
  const auto input = panel_input(events.at(0).verb);
  EXPECT_TRUE(input.has_value()) << line;
  return input.value_or(PanelInput{Kind::ButtonClick, -1});
}

TEST(PanelVerbs, PresetPressesAndTheNavigationDrags) {
  for (int n : {6, 7, 8, 9, 13, 14}) {
    EXPECT_EQ(input_of("kv_button" + std::to_string(n) + "_MouseDown 2 1 3.5 4"),
              (PanelInput{Kind::ButtonDown, n}));
  }
  EXPECT_EQ(input_of("kv_button13_MouseMove 1 0 9 8"), (PanelInput{Kind::ButtonMove, 13}));
  EXPECT_EQ(input_of("kv_button14_MouseUp 1 0 9 8"), (PanelInput{Kind::ButtonUp, 14}));
  // Only the buttons with handlers have verbs.
  EXPECT_THROW(parse_script_text("kv_button5_MouseDown 1 0 1 1\n", "p"), ScriptError);
  EXPECT_THROW(parse_script_text("kv_button8_MouseMove 1 0 1 1\n", "p"), ScriptError);
  EXPECT_THROW(parse_script_text("kv_button15_Click\n", "p"), ScriptError);
}

TEST(PanelVerbs, ClicksSlidersAndMenuItems) {
  for (int n : {1, 2, 3, 4, 11, 12}) {
    EXPECT_EQ(input_of("kv_button" + std::to_string(n) + "_Click"),
              (PanelInput{Kind::ButtonClick, n}));
  }
  for (int n = 1; n <= 8; ++n) {
    EXPECT_EQ(input_of("HProp" + std::to_string(n) + " 17"), (PanelInput{Kind::Slider, n}));
  }
  EXPECT_THROW(parse_script_text("HProp1 2.5\n", "p"), ScriptError);  // whole numbers only
  EXPECT_EQ(input_of("ModeDefault_Click"), (PanelInput{Kind::ModeItem, 0}));
  EXPECT_EQ(input_of("MenuGreater_Click"), (PanelInput{Kind::ModeItem, 6}));
  EXPECT_EQ(input_of("MenuLess_Click"), (PanelInput{Kind::ModeItem, 7}));
  EXPECT_EQ(input_of("ModeXor_Click"), (PanelInput{Kind::ModeItem, 10}));
}

TEST(PanelVerbs, PicksOnTheTriangleAndTheStrip) {
  EXPECT_EQ(input_of("Picker_MouseMove 1 0 2 30"), (PanelInput{Kind::PickerMove, 0}));
  EXPECT_EQ(input_of("Picture1_MouseMove 1 0 -4.25 5"), (PanelInput{Kind::HueMove, 0}));
}

TEST(PanelVerbs, CanvasVerbsAreNotPanelInputs) {
  EXPECT_FALSE(panel_input(Verb::Form_MouseDown));
  EXPECT_FALSE(panel_input(Verb::Form_Unload));
  EXPECT_FALSE(panel_input(Verb::Tablet_ProximityChange));
}

}  // namespace
}  // namespace tarvo
