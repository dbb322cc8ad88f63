#pragma once
// The start routine and the image taken from the host.

#include <functional>

#include "core/program.h"

namespace tarvo {

// Creates the canvas window object for the program (not shown). The window must outlive the run.
using CanvasFactory = std::function<CanvasWindow&(Program&)>;

// The start routine: view and undo defaults, the host object, the tables, the paper and the image,
// the planes, the display surface, then hands the canvas window to the host. Any error ends it.
void Main(Program& program, const HostRegistry& registry, const CanvasFactory& create_canvas);

// Takes the host's three colour planes as the committed image. Raises an error, leaving the
// program's planes as they were, when a plane does not have the expected shape.
void take_host_planes(Host& host, CanvasBuffers& canvas);

}  // namespace tarvo
