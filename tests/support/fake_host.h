#pragma once
// A host for tests: holds an image and a paper texture, logs every call by name, and can be told to
// fail at a named call or to report another image size.

#include <optional>
#include <string>
#include <vector>

#include "core/canvas_window.h"
#include "core/host.h"
#include "core/runtime_error.h"

namespace tarvo::testing {

class FakeHost : public Host {
 public:
  FakeHost(int32_t width, int32_t height) { set_image(width, height, 0); }

  // A gradient image: red = x, green = y, blue = seed.
  void set_image(int32_t width, int32_t height, uint8_t seed) {
    width_ = width;
    height_ = height;
    red_ = Plane(width + 1, height + 1);
    green_ = Plane(width + 1, height + 1);
    blue_ = Plane(width + 1, height + 1);
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) {
        red_(x, y) = static_cast<uint8_t>(x);
        green_(x, y) = static_cast<uint8_t>(y);
        blue_(x, y) = seed;
      }
  }

  int32_t Wik_GetPaperWidth() override { return call("Wik_GetPaperWidth"), paper_width; }
  int32_t wik_GetPaperHeight() override { return call("wik_GetPaperHeight"), paper_height; }
  Plane Wik_GetPaper() override {
    call("Wik_GetPaper");
    Plane paper(paper_width, paper_height);
    paper.fill(paper_value);
    return paper;
  }
  int32_t Wik_BufferWidth() override { return call("Wik_BufferWidth"), width_; }
  int32_t Wik_BufferHeight() override { return call("Wik_BufferHeight"), height_; }
  Plane Wik_GetRBuffer() override { return call("Wik_GetRBuffer"), red_.copy(); }
  Plane Wik_GetGBuffer() override { return call("Wik_GetGBuffer"), green_.copy(); }
  Plane Wik_GetBBuffer() override { return call("Wik_GetBBuffer"), blue_.copy(); }
  void Wik_SaveUndo() override { call("Wik_SaveUndo"); }
  void Wik_SetRbuffer(const Plane& p) override { call("Wik_SetRbuffer"), red_.assign(p); }
  void Wik_SetGbuffer(const Plane& p) override { call("Wik_SetGbuffer"), green_.assign(p); }
  void Wik_SetBbuffer(const Plane& p) override { call("Wik_SetBbuffer"), blue_.assign(p); }
  void wik_Refresh() override { call("wik_Refresh"); }
  std::string Wik_WallpaperFilename() override { return call("Wik_WallpaperFilename"), wallpaper; }
  void Wik_SendFormObject(CanvasWindow& form, int16_t) override {
    call("Wik_SendFormObject");
    form.show_window();
  }

  const Plane& red() const { return red_; }
  const Plane& green() const { return green_; }
  const Plane& blue() const { return blue_; }

  std::vector<std::string> calls;
  std::string fail_at;  // the name of a call that raises an error
  // With fail_at, the error is ImageNotWritten, as a host raises when it could not write its image
  // (kept_painting: the user was asked and chose to keep painting).
  std::optional<bool> not_written_kept_painting;
  int32_t paper_width = 4, paper_height = 4;
  uint8_t paper_value = 0;
  std::string wallpaper;
  std::string profile;  // the image's ICC profile; empty: sRGB
  std::string colour_profile() override { return profile; }

 private:
  void call(const std::string& name) {
    calls.push_back(name);
    if (name != fail_at) return;
    if (not_written_kept_painting) throw ImageNotWritten("not written", *not_written_kept_painting);
    throw RuntimeError(error_number::kHostCallFailed, "host failed at " + name);
  }

  int32_t width_ = 0, height_ = 0;
  Plane red_, green_, blue_;
};

}  // namespace tarvo::testing
