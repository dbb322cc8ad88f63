#pragma once
// Where the canvas and the panel report each input as it arrives, so that it can be written to an
// event script. An input is the verb of the handler it drives and that handler's arguments, in
// order; whole-number arguments arrive as exact doubles, single floats as the double of the same
// value.

#include <initializer_list>

#include "script/event_script.h"

namespace tarvo {

class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void record(Verb verb, std::initializer_list<double> args) = 0;
};

}  // namespace tarvo
