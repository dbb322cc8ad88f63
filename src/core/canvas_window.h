#pragma once
// What the engine asks of the canvas window. Client coordinates are pixels with (0, 0) at the
// top-left of the client area; colours are packed 0x00BBGGRR.

#include <cstddef>
#include <cstdint>
#include <string>

namespace tarvo {

struct DisplaySurface;

// A window's retained client image: client row y starts at bits + y * stride, its pixels laid out
// as the display surface's.
struct ClientPixels {
  uint32_t* bits = nullptr;
  std::ptrdiff_t stride = 0;  // in pixels
};

enum class WindowState { Normal, Minimized, Maximized };
enum class PointerShape { Default, Arrow, Crosshair, SizeAll };

class CanvasWindow {
 public:
  virtual ~CanvasWindow() = default;

  virtual int32_t client_width() const = 0;
  virtual int32_t client_height() const = 0;
  virtual bool is_visible() const = 0;
  virtual WindowState window_state() const = 0;
  virtual void set_caption(const std::string& caption) = 0;
  // Fills the box spanned by two corners, both inclusive and in either order, with the window's
  // background colour. Parts outside the client area are clipped.
  virtual void fill_box(int32_t x1, int32_t y1, int32_t x2, int32_t y2) = 0;
  // Copies width x height surface pixels from (src_x, src_y) to the client position
  // (dst_x, dst_y), clipped to both, and schedules a repaint of that rectangle. The default copies
  // into client_pixels() and reports the rectangle to client_pixels_changed().
  virtual void copy_from_surface(const DisplaySurface& surface, int32_t src_x, int32_t src_y,
                                 int32_t dst_x, int32_t dst_y, int32_t width, int32_t height);
  // The client image, when the window retains one in memory that the engine may write directly.
  // A blit then copies each surface row on as soon as it has rendered it, while the row is still in
  // the processor's cache, from whichever core rendered it; the window's own code does not run
  // meanwhile. A window that has none returns no bits and must override copy_from_surface.
  virtual ClientPixels client_pixels() { return {}; }
  // The client rectangle written through client_pixels(): schedules its repaint.
  virtual void client_pixels_changed(int32_t /*x*/, int32_t /*y*/, int32_t /*width*/,
                                     int32_t /*height*/) {}
  virtual void set_pointer(PointerShape shape) = 0;
  // Resizes the window so that its client area is width x height pixels.
  virtual void resize_client(int32_t width, int32_t height) = 0;
  // Shows the window (the host's side of handing it the canvas).
  virtual void show_window() = 0;
  // A message box with Yes and No buttons, no icon and the application's title; No is the default
  // button. Returns true for Yes.
  virtual bool ask_yes_no(const std::string& text) = 0;
};

}  // namespace tarvo
