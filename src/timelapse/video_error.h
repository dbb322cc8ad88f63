#pragma once
// The one error a time-lapse video raises: its message is a single line that names the output and
// says what went wrong ("cannot write paint.avi: unknown video format ..."), ready to print as it
// is. Whatever raised it has removed everything it had written of the output.

#include <stdexcept>

namespace tarvo {

class VideoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tarvo
