#include "script/panel_verbs.h"

namespace tarvo {

namespace {

using Kind = PanelInput::Kind;

}  // namespace

std::optional<PanelInput> panel_input(Verb verb) {
  switch (verb) {
    case Verb::kv_button6_MouseDown:
      return PanelInput{Kind::ButtonDown, 6};
    case Verb::kv_button7_MouseDown:
      return PanelInput{Kind::ButtonDown, 7};
    case Verb::kv_button8_MouseDown:
      return PanelInput{Kind::ButtonDown, 8};
    case Verb::kv_button9_MouseDown:
      return PanelInput{Kind::ButtonDown, 9};
    case Verb::kv_button13_MouseDown:
      return PanelInput{Kind::ButtonDown, 13};
    case Verb::kv_button13_MouseMove:
      return PanelInput{Kind::ButtonMove, 13};
    case Verb::kv_button13_MouseUp:
      return PanelInput{Kind::ButtonUp, 13};
    case Verb::kv_button14_MouseDown:
      return PanelInput{Kind::ButtonDown, 14};
    case Verb::kv_button14_MouseMove:
      return PanelInput{Kind::ButtonMove, 14};
    case Verb::kv_button14_MouseUp:
      return PanelInput{Kind::ButtonUp, 14};
    case Verb::kv_button1_Click:
      return PanelInput{Kind::ButtonClick, 1};
    case Verb::kv_button2_Click:
      return PanelInput{Kind::ButtonClick, 2};
    case Verb::kv_button3_Click:
      return PanelInput{Kind::ButtonClick, 3};
    case Verb::kv_button4_Click:
      return PanelInput{Kind::ButtonClick, 4};
    case Verb::kv_button11_Click:
      return PanelInput{Kind::ButtonClick, 11};
    case Verb::kv_button12_Click:
      return PanelInput{Kind::ButtonClick, 12};
    case Verb::HProp1:
      return PanelInput{Kind::Slider, 1};
    case Verb::HProp2:
      return PanelInput{Kind::Slider, 2};
    case Verb::HProp3:
      return PanelInput{Kind::Slider, 3};
    case Verb::HProp4:
      return PanelInput{Kind::Slider, 4};
    case Verb::HProp5:
      return PanelInput{Kind::Slider, 5};
    case Verb::HProp6:
      return PanelInput{Kind::Slider, 6};
    case Verb::HProp7:
      return PanelInput{Kind::Slider, 7};
    case Verb::HProp8:
      return PanelInput{Kind::Slider, 8};
    case Verb::ModeDefault_Click:
      return PanelInput{Kind::ModeItem, 0};
    case Verb::ModeAdd_Click:
      return PanelInput{Kind::ModeItem, 1};
    case Verb::ModeSub_Click:
      return PanelInput{Kind::ModeItem, 2};
    case Verb::ModeMult_Click:
      return PanelInput{Kind::ModeItem, 3};
    case Verb::ModeDiv_Click:
      return PanelInput{Kind::ModeItem, 4};
    case Verb::ModeScreen_Click:
      return PanelInput{Kind::ModeItem, 5};
    case Verb::MenuGreater_Click:
      return PanelInput{Kind::ModeItem, 6};
    case Verb::MenuLess_Click:
      return PanelInput{Kind::ModeItem, 7};
    case Verb::ModeAnd_Click:
      return PanelInput{Kind::ModeItem, 8};
    case Verb::ModeOr_Click:
      return PanelInput{Kind::ModeItem, 9};
    case Verb::ModeXor_Click:
      return PanelInput{Kind::ModeItem, 10};
    case Verb::Picker_MouseMove:
      return PanelInput{Kind::PickerMove, 0};
    case Verb::Picture1_MouseMove:
      return PanelInput{Kind::HueMove, 0};
    default:
      return std::nullopt;
  }
}

}  // namespace tarvo
