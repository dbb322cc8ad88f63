#pragma once
// The canvas window as the benchmarks see it: a retained client image that the engine copies the
// display surface into, as the real canvas window does.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "canvas/display_surface.h"
#include "core/canvas_window.h"

namespace tarvo::bench {

// A window that keeps its client image for the engine to copy surface rows into, counting the
// bytes copied.
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
  ClientPixels client_pixels() override { return {pixels_.data(), w_}; }
  void client_pixels_changed(int32_t, int32_t, int32_t width, int32_t height) override {
    copied_bytes += static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(height);
  }
  void set_pointer(PointerShape) override {}
  void resize_client(int32_t, int32_t) override {}
  void show_window() override {}
  bool ask_yes_no(const std::string&) override { return false; }

  std::size_t copied_bytes = 0;

 private:
  int32_t w_, h_;
  std::vector<uint32_t> pixels_;
};

}  // namespace tarvo::bench
