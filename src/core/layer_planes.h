#pragma once
// An image with transparency as its host holds it: every pixel's own colour, not composited over
// anything, and its alpha, 0 (transparent) to 255 (opaque), in planes shaped as the colour planes
// the host hands out (one spare column and row). All four are empty for an image without alpha.
//
// The host's colour planes hold such an image as it looks over white (over_white in host.h); these
// planes are what a painted pixel of it really becomes, so that paint laid over transparency keeps
// its own colour at every alpha, which eight bits over white cannot tell apart.

#include "core/plane.h"

namespace tarvo {

struct LayerPlanes {
  Plane red, green, blue, alpha;

  bool empty() const { return alpha.empty(); }
  LayerPlanes copy() const { return {red.copy(), green.copy(), blue.copy(), alpha.copy()}; }
};

}  // namespace tarvo
