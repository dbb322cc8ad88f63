#pragma once
// The host's own window, that the canvas and the tools panel stay above and open over. A host
// names it in the terms of the window system it runs on: an X11 window id, or on Wayland a handle
// that the host exported through xdg-foreign. Either may be empty: the canvas then floats free.

#include <cstdint>
#include <string>

namespace tarvo {

struct HostWindow {
  uint64_t x11_id = 0;         // 0: none
  std::string wayland_handle;  // empty: none
  // Where the window shows the image, from the top-left corner of its client area, in the
  // window's pixels: past the docks at its left and the menu bar and tabs at its top. 0: the
  // window's own corner (the canvas then only keeps clear of a menu bar).
  int32_t image_left = 0;
  int32_t image_top = 0;

  bool empty() const { return x11_id == 0 && wayland_handle.empty(); }
};

}  // namespace tarvo
