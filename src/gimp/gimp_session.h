#pragma once
// Running the canvas on a GIMP drawable, inside the plug-in's run procedure.

#include <functional>
#include <string>

namespace tarvo {

// What to do when GIMP leaves the plug-in (it quit, or it sent its quit message during a call):
// the session under way keeps its painting as a recovery copy and says where. GIMP's quit
// callback reaches nothing but what the plug-in's entry holds, so the entry owns this hook and the
// session fills it while it runs.
struct GimpQuitHook {
  std::function<void()> leaving;
};

struct GimpRun {
  int image = -1;
  int drawable = -1;
  bool interactive = true;  // false: replay script headless and write the result back
  std::string script;       // an event script's path (non-interactive runs)
  int gimp_read_fd = -1;    // the pipe GIMP talks to the plug-in on, watched for GIMP leaving
  GimpQuitHook* quit_hook = nullptr;  // the entry's, filled while the session runs
};

struct GimpRunResult {
  bool success = false;
  bool cancelled = false;  // the user chose not to paint (a text layer kept as text)
  bool gimp_gone = false;  // GIMP ended meanwhile: nothing may be written to its pipe again
  std::string message;     // what went wrong, when it did
};

// GIMP ends a plug-in that is still running when GIMP quits with SIGKILL, to its process or to the
// process group the plug-in made. So that an open canvas outlives GIMP and can keep its painting,
// an interactive run calls this first: the canvas goes on in a child process in a process group of
// its own, while the process GIMP started only waits for it and ends as it ends. Returns in the
// child (or, when no child can be made, in the plug-in process itself).
void run_apart_from_gimp();

// Runs the canvas session to its end. Never throws.
GimpRunResult run_on_gimp(const GimpRun& run);

}  // namespace tarvo
