#pragma once
// Turns a recorded pen session into an event script. The session format has one sample a line:
// time in seconds, x, y (canvas pixels) and pressure 0..1, as four numbers separated by white
// space. Pressure 0 means the pen is up (hovering); any pressure above 0 means it touches.
//
// The pointer conversion paints the session with the mouse handlers: a press at the first sample
// that touches, a move with the button held for every further touching sample, a release at the
// first sample that lifts again (at that sample's position), moves with no button while the pen
// hovers (the handlers ignore them, but the script stays faithful to the session), and a final
// release at the last sample when the session ends with the pen down. Time is not carried over:
// the handlers do not read it. Pressure is not carried either: pointer events paint at the
// pressure of the mouse.

#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "script/event_script.h"

namespace tarvo {

struct SessionSample {
  double time = 0.0;         // seconds from the start of the session
  float x = 0.0f, y = 0.0f;  // canvas pixels
  float pressure = 0.0f;     // 0 .. 1; 0 while the pen is up

  bool touching() const { return pressure > 0.0f; }
};

// Reads every sample. Blank lines are skipped; a line that is not four finite numbers raises
// ScriptError naming file_name and the line.
std::vector<SessionSample> parse_session(std::istream& in, const std::string& file_name);
std::vector<SessionSample> read_session_file(const std::string& path);

// How a session becomes pointer events.
struct PointerConversion {
  float offset_x = 0.0f, offset_y = 0.0f;  // added to every position
  int16_t button = 1;                      // the button that paints
  int16_t shift = 0;                       // modifier mask sent with every event
};

std::vector<ScriptEvent> session_to_pointer_events(std::span<const SessionSample> samples,
                                                   const PointerConversion& conversion = {});

}  // namespace tarvo
