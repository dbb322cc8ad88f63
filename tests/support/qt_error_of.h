#pragma once
// The text of the run-time error a call raises, for tests that check what the user is told.

#include <QString>
#include <functional>

#include "core/runtime_error.h"

namespace tarvo::testing {

// The error text of f, or an empty string when it raises nothing.
inline QString error_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const RuntimeError& error) {
    return QString::fromStdString(error.description());
  }
  return QString();
}

}  // namespace tarvo::testing
