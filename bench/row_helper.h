#pragma once
// The second thread a benchmark's program shares its whole-image passes with, as the application
// lends its own: one for the whole run.

#include "canvas/row_split.h"

namespace tarvo::bench {

inline RowHelper& row_helper() {
  static RowHelper helper;
  return helper;
}

}  // namespace tarvo::bench
