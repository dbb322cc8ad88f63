#pragma once
// What each tools-panel verb of an event script drives: which kind of input, on which control.
// The player hands the event's arguments on to the panel's entry point of that kind.

#include <cstddef>
#include <optional>

#include "script/event_script.h"

namespace tarvo {

struct PanelInput {
  enum class Kind {
    ButtonDown,   // kv_button<control>_MouseDown: button shift x y
    ButtonMove,   // kv_button<control>_MouseMove
    ButtonUp,     // kv_button<control>_MouseUp
    ButtonClick,  // kv_button<control>_Click
    Slider,       // HProp<control>: the value the user gave
    ModeItem,     // the mode menu's item at position control, from 0
    PickerMove,   // Picker_MouseMove: button shift x y
    HueMove,      // Picture1_MouseMove: button shift x y
  };
  Kind kind;
  int control = 0;

  bool operator==(const PanelInput&) const = default;
};

// The panel input of a verb, or nothing for a verb of the canvas.
std::optional<PanelInput> panel_input(Verb verb);

}  // namespace tarvo
