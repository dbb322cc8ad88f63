#pragma once
// A canvas window for engine tests: a retained client image of 0x00RRGGBB pixels that records what
// the engine asked of it.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "canvas/display_surface.h"
#include "core/canvas_window.h"

namespace tarvo::testing {

struct CopiedRect {
  int32_t src_x, src_y, dst_x, dst_y, width, height;
};

class FakeCanvasWindow : public CanvasWindow {
 public:
  static constexpr uint32_t kBackground = 0xC0C0C0;  // RGB(192, 192, 192)
  static constexpr uint32_t kUnpainted = 0x123456;

  FakeCanvasWindow(int32_t width, int32_t height)
      : width_(width),
        height_(height),
        pixels_(static_cast<std::size_t>(width) * height, kUnpainted) {}

  int32_t client_width() const override { return width_; }
  int32_t client_height() const override { return height_; }
  bool is_visible() const override { return visible; }
  WindowState window_state() const override { return state; }
  void set_caption(const std::string& text) override { caption = text; }
  void fill_box(int32_t x1, int32_t y1, int32_t x2, int32_t y2) override {
    for (int64_t y = std::max(0, std::min(y1, y2)); y <= std::min(height_ - 1, std::max(y1, y2));
         ++y)
      for (int64_t x = std::max(0, std::min(x1, x2)); x <= std::min(width_ - 1, std::max(x1, x2));
           ++x)
        at(static_cast<int32_t>(x), static_cast<int32_t>(y)) = kBackground;
  }
  void copy_from_surface(const DisplaySurface& surface, int32_t sx, int32_t sy, int32_t dx,
                         int32_t dy, int32_t w, int32_t h) override {
    copies.push_back({sx, sy, dx, dy, w, h});
    for (int64_t j = 0; j < h; ++j)
      for (int64_t i = 0; i < w; ++i) {
        const int64_t u = sx + i, v = sy + j, x = dx + i, y = dy + j;
        if (u < 0 || v < 0 || u >= surface.width() || v >= surface.height()) continue;
        if (x < 0 || y < 0 || x >= width_ || y >= height_) continue;
        at(static_cast<int32_t>(x), static_cast<int32_t>(y)) =
            surface.row(static_cast<int32_t>(v))[u] & 0xFFFFFF;
      }
  }
  // With retains_pixels, blits write the client image directly and report what they wrote; the
  // window then records the rectangle with no source (-1, -1).
  ClientPixels client_pixels() override {
    if (!retains_pixels) return {};
    return {pixels_.data(), width_};
  }
  void client_pixels_changed(int32_t x, int32_t y, int32_t w, int32_t h) override {
    copies.push_back({-1, -1, x, y, w, h});
  }
  void set_pointer(PointerShape shape) override { pointer = shape; }
  void resize_client(int32_t w, int32_t h) override {
    width_ = w;
    height_ = h;
    pixels_.assign(static_cast<std::size_t>(w) * h, kUnpainted);
  }
  void show_window() override {
    visible = true;
    ++shown;
  }
  bool ask_yes_no(const std::string& text) override {
    questions.push_back(text);
    return answer_yes;
  }

  uint32_t& at(int32_t x, int32_t y) { return pixels_[static_cast<std::size_t>(y) * width_ + x]; }
  // 0x00RRGGBB: a direct write leaves the surface's fourth byte, which carries no colour.
  uint32_t pixel(int32_t x, int32_t y) const {
    return pixels_[static_cast<std::size_t>(y) * width_ + x] & 0xFFFFFF;
  }

  bool visible = false;
  bool retains_pixels = false;
  WindowState state = WindowState::Normal;
  std::string caption;
  PointerShape pointer = PointerShape::Default;
  std::vector<CopiedRect> copies;
  std::vector<std::string> questions;
  bool answer_yes = false;
  int shown = 0;

 private:
  int32_t width_, height_;
  std::vector<uint32_t> pixels_;
};

}  // namespace tarvo::testing
