#pragma once
// Plays an event script into the canvas window: each event goes to the window's entry point of
// the same name, in order, exactly as the window's own event handlers pass live input on, so a
// replayed script takes the user's code path (and reaches the window's event sink, if any).

#include <cstddef>
#include <span>

#include "script/event_script.h"

namespace tarvo {

class Form1;
class ToolsPanel;

struct PlayResult {
  std::size_t played = 0;  // events dispatched
  // A Form_Unload closed the canvas, at closed_at_line; the events after it were not played.
  bool canvas_closed = false;
  int32_t closed_at_line = 0;
};

class ScriptPlayer {
 public:
  // Panel verbs go to panel, or, when it is null, to the tools panel of the canvas's program.
  explicit ScriptPlayer(Form1& form, ToolsPanel* panel = nullptr);

  // Dispatches the events in order and returns when they are all played or the canvas has closed.
  // An error raised by a handler passes through, as it would from the event loop.
  PlayResult play(std::span<const ScriptEvent> events);

 private:
  // Returns false when the event closed the canvas.
  bool dispatch(const ScriptEvent& event);
  bool close_canvas();
  // A tools-panel verb; raises std::runtime_error when there is no panel to take it.
  void dispatch_panel(const ScriptEvent& event);

  Form1& form_;
  ToolsPanel* panel_ = nullptr;
};

}  // namespace tarvo
