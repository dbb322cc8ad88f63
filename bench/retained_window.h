#pragma once
// The canvas window as the benchmarks see it: a retained client image that the engine copies the
// display surface into, as the real canvas window does.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "canvas/canvas_window.h"
#include "canvas/display_surface.h"

namespace tarvo::bench {

// A window that keeps its client image and copies surface rows into it with memcpy, counting the
// bytes moved.
class RetainedWindow : public CanvasWindow {
 public:
  RetainedWindow(int32_t w, int32_t h) : w_(w), h_(h), pixels_(static_cast<std::size_t>(w) * h) {}
  int32_t client_width() const override { return w_; }
  int32_t client_height() const override { return h_; }
  bool is_visible() const override { return true; }
  WindowState window_state() const override { return WindowState::Normal; }
  void set_caption(const std::string&) override {}
  void fill_box(int32_t x1, int32_t y1, int32_t x2, int32_t y2) override {
    const int32_t l = std::max(0, std::min(x1, x2)), r = std::min(w_ - 1, std::max(x1, x2));
    const int32_t t = std::max(0, std::min(y1, y2)), b = std::min(h_ - 1, std::max(y1, y2));
    for (int32_t y = t; y <= b && l <= r; ++y) {
      std::fill_n(&pixels_[static_cast<std::size_t>(y) * w_ + l], r - l + 1, 0xFFC0C0C0u);
    }
  }
  void copy_from_surface(const DisplaySurface& s, int32_t sx, int32_t sy, int32_t dx, int32_t dy,
                         int32_t w, int32_t h) override {
    clip(sx, dx, w, s.width(), w_);
    clip(sy, dy, h, s.height(), h_);
    if (w <= 0 || h <= 0) return;
    const std::size_t bytes = static_cast<std::size_t>(w) * 4;
    for (int32_t j = 0; j < h; ++j) {
      std::memcpy(&pixels_[static_cast<std::size_t>(dy + j) * w_ + dx], s.row(sy + j) + sx, bytes);
    }
    copied_bytes += bytes * static_cast<std::size_t>(h);
  }
  void set_pointer(PointerShape) override {}
  void resize_client(int32_t, int32_t) override {}
  void show_window() override {}
  bool ask_yes_no(const std::string&) override { return false; }

  std::size_t copied_bytes = 0;

 private:
  // Moves a source and destination span together so both lie inside their extents.
  static void clip(int32_t& src, int32_t& dst, int32_t& length, int32_t src_end, int32_t dst_end) {
    const int32_t skip = std::max({0, -src, -dst});
    src += skip;
    dst += skip;
    length = std::min({length - skip, src_end - src, dst_end - dst});
  }

  int32_t w_, h_;
  std::vector<uint32_t> pixels_;
};

}  // namespace tarvo::bench
