#pragma once
// Whether a person is looking at the program's windows: a real display, and no script driving
// the program. Start-up decides it once and hands it to the windows, the hosts and recovery, which
// ask a question or show progress only when someone is there to answer; a signal that ends the
// program turns it off, so that nothing asks a question on the way out.

namespace tarvo {

struct Presence {
  bool someone_looking = false;

  // Nobody: a headless run, or a window made without a session (tests).
  static const Presence& nobody() {
    static const Presence none;
    return none;
  }
};

}  // namespace tarvo
