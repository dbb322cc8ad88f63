#pragma once
// A host that passes every call on to another one and remembers how the last write-back went.
// The close sequence traps host errors and goes on, as it must for the user; a replay, which has
// no user to see the window stay as it was, needs to know whether the image was really written.

#include <functional>
#include <memory>
#include <string>

#include "core/host.h"

namespace tarvo {

struct WriteBackReport {
  bool attempted = false;  // a write-back (Wik_SaveUndo .. wik_Refresh) was started
  bool written = false;    // the last wik_Refresh returned normally
  std::string error;       // what the host raised during the last write-back, if anything
};

class WriteBackWatch : public Host {
 public:
  // The report outlives the host: Main hands the host to the program, the caller keeps the report.
  WriteBackWatch(std::unique_ptr<Host> inner, std::shared_ptr<WriteBackReport> report);

  // Runs after each write-back that the host finished without an error.
  void set_on_written(std::function<void()> hook) { on_written_ = std::move(hook); }

  int32_t Wik_GetPaperWidth() override { return inner_->Wik_GetPaperWidth(); }
  int32_t wik_GetPaperHeight() override { return inner_->wik_GetPaperHeight(); }
  Plane Wik_GetPaper() override { return inner_->Wik_GetPaper(); }
  int32_t Wik_BufferWidth() override { return inner_->Wik_BufferWidth(); }
  int32_t Wik_BufferHeight() override { return inner_->Wik_BufferHeight(); }
  Plane Wik_GetRBuffer() override { return inner_->Wik_GetRBuffer(); }
  Plane Wik_GetGBuffer() override { return inner_->Wik_GetGBuffer(); }
  Plane Wik_GetBBuffer() override { return inner_->Wik_GetBBuffer(); }
  void Wik_SaveUndo() override;
  void Wik_SetRbuffer(const Plane& plane) override;
  void Wik_SetGbuffer(const Plane& plane) override;
  void Wik_SetBbuffer(const Plane& plane) override;
  void wik_Refresh() override;
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

 private:
  // Runs one write-back call, noting what it raised before passing the error on.
  template <typename Call>
  void watched(Call call);

  std::unique_ptr<Host> inner_;
  std::shared_ptr<WriteBackReport> report_;
  std::function<void()> on_written_;
};

// Wraps whatever the registry creates under kHostProgId in a WriteBackWatch reporting to report.
void watch_write_back(HostRegistry& registry, HostRegistry::Factory inner,
                      std::shared_ptr<WriteBackReport> report);

}  // namespace tarvo
