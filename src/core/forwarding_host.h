#pragma once
// A host that passes every call on to the host it wraps. A wrapper that watches or changes a few
// calls (the write-back report, the painting's history, a read-only replay) derives from it and
// overrides only those, so that every call it does not mean to change, including the ones added
// to Host later, still reaches the real host.

#include <memory>
#include <string>
#include <utility>

#include "core/host.h"

namespace tarvo {

class ForwardingHost : public Host {
 public:
  explicit ForwardingHost(std::unique_ptr<Host> inner) : inner_(std::move(inner)) {}

  int32_t Wik_GetPaperWidth() override { return inner_->Wik_GetPaperWidth(); }
  int32_t wik_GetPaperHeight() override { return inner_->wik_GetPaperHeight(); }
  Plane Wik_GetPaper() override { return inner_->Wik_GetPaper(); }
  int32_t Wik_BufferWidth() override { return inner_->Wik_BufferWidth(); }
  int32_t Wik_BufferHeight() override { return inner_->Wik_BufferHeight(); }
  Plane Wik_GetRBuffer() override { return inner_->Wik_GetRBuffer(); }
  Plane Wik_GetGBuffer() override { return inner_->Wik_GetGBuffer(); }
  Plane Wik_GetBBuffer() override { return inner_->Wik_GetBBuffer(); }
  void Wik_SaveUndo() override { inner_->Wik_SaveUndo(); }
  void Wik_SetRbuffer(const Plane& plane) override { inner_->Wik_SetRbuffer(plane); }
  void Wik_SetGbuffer(const Plane& plane) override { inner_->Wik_SetGbuffer(plane); }
  void Wik_SetBbuffer(const Plane& plane) override { inner_->Wik_SetBbuffer(plane); }
  void wik_Refresh() override { inner_->wik_Refresh(); }
  std::string Wik_WallpaperFilename() override { return inner_->Wik_WallpaperFilename(); }
  void Wik_SendFormObject(CanvasWindow& form, int16_t flags) override {
    inner_->Wik_SendFormObject(form, flags);
  }
  LayerPlanes layer_planes() override { return inner_->layer_planes(); }
  void set_layer_planes(const LayerPlanes& layer) override { inner_->set_layer_planes(layer); }
  std::string host_name() override { return inner_->host_name(); }
  std::string image_name() override { return inner_->image_name(); }
  void set_can_repaint(bool can) override { inner_->set_can_repaint(can); }
  std::string planes_file_checksum() override { return inner_->planes_file_checksum(); }
  std::string colour_profile() override { return inner_->colour_profile(); }
  bool asks_about_size() override { return inner_->asks_about_size(); }
  bool holds_other_than_sent() override { return inner_->holds_other_than_sent(); }

 protected:
  Host& inner() { return *inner_; }

 private:
  std::unique_ptr<Host> inner_;
};

}  // namespace tarvo
