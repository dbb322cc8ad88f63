#include "script/panel_verbs.h"

namespace tarvo {

std::optional<PanelInput> panel_input(Verb verb) {
  const VerbSpec& spec = verb_spec(verb);
  if (spec.panel == PanelKind::None) return std::nullopt;
  return PanelInput{spec.panel, spec.control};
}

}  // namespace tarvo
