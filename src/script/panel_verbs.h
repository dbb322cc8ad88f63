#pragma once
// What each tools-panel verb of an event script drives: which kind of input, on which control,
// as the verb table records it. The player hands the event's arguments on to the panel's entry
// point of that kind.

#include <optional>

#include "script/event_script.h"

namespace tarvo {

struct PanelInput {
  using Kind = PanelKind;
  Kind kind;
  int control = 0;

  bool operator==(const PanelInput&) const = default;
};

// The panel input of a verb, or nothing for a verb of the canvas.
std::optional<PanelInput> panel_input(Verb verb);

}  // namespace tarvo
