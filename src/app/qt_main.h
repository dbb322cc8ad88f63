#pragma once

namespace tarvo {

// The whole program: command line, start-up, the event loop. Returns the exit status.
int run_tarvo(int argc, char** argv);

}  // namespace tarvo
