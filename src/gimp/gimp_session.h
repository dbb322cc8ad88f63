#pragma once
// Running the canvas on a GIMP drawable, inside the plug-in's run procedure.

#include <string>

namespace tarvo {

struct GimpRun {
  int image = -1;
  int drawable = -1;
  bool interactive = true;  // false: replay script headless and write the result back
  std::string script;       // an event script's path (non-interactive runs)
  int gimp_read_fd = -1;    // the pipe GIMP talks to the plug-in on, watched for GIMP leaving
};

struct GimpRunResult {
  bool success = false;
  std::string message;  // what went wrong, when it did
};

// Runs the canvas session to its end. Never throws.
GimpRunResult run_on_gimp(const GimpRun& run);

// GIMP is leaving the plug-in (it quit, or it sent its quit message during a call): keeps the
// painting of a session under way as a recovery copy and says where.
void gimp_is_leaving();

}  // namespace tarvo
