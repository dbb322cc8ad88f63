#include "core/runtime_error.h"

namespace tarvo {

std::string run_time_error_report(const RuntimeError& error) {
  return "Run-time error '" + std::to_string(error.number()) + "':\n\n" + error.description();
}

}  // namespace tarvo
