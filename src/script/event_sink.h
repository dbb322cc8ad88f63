#pragma once
// Where the canvas and the panel report each input as it arrives, so that it can be written to an
// event script. An input is the name of the handler it drives and that handler's arguments, in
// order; whole-number arguments arrive as exact doubles, single floats as the double of the same
// value.

#include <initializer_list>
#include <string_view>

namespace tarvo {

class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual void record(std::string_view verb, std::initializer_list<double> args) = 0;
};

}  // namespace tarvo
