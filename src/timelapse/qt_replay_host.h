#pragma once
// The hosts a time-lapse replays a painting with. Neither writes anything anywhere: a replay only
// watches the canvas.
//
// HistoryReplayHost hands the canvas what the painting's host handed over when it was painted: the
// image the session started from, then at each "Get image" the image kept in the history, and the
// papers likewise. ReadOnlyHost passes reads on to another host (the file host, for a script
// replayed over an image file) and drops the write-backs.

#include <QString>
#include <deque>
#include <memory>
#include <vector>

#include "core/forwarding_host.h"
#include "file/qt_image_file.h"
#include "history/qt_history_store.h"

namespace tarvo {

// The canvas of a replay is loaded without being shown on any screen.
void load_hidden(CanvasWindow& form);

class HistoryReplayHost : public Host {
 public:
  // start: the planes the session began with. The entry's handovers give the papers and the later
  // images, read from their files when the canvas asks for them.
  HistoryReplayHost(HostImage start, const HistoryEntry& entry);

  // The next "Get image" was left out of the replay: its image is not handed over.
  void skip_image();

  int32_t Wik_GetPaperWidth() override;
  int32_t wik_GetPaperHeight() override;
  Plane Wik_GetPaper() override;
  int32_t Wik_BufferWidth() override { return width_; }
  int32_t Wik_BufferHeight() override { return height_; }
  Plane Wik_GetRBuffer() override;
  Plane Wik_GetGBuffer() override;
  Plane Wik_GetBBuffer() override;
  void Wik_SaveUndo() override {}
  void Wik_SetRbuffer(const Plane&) override {}
  void Wik_SetGbuffer(const Plane&) override {}
  void Wik_SetBbuffer(const Plane&) override {}
  void wik_Refresh() override {}
  std::string Wik_WallpaperFilename() override { return {}; }
  void Wik_SendFormObject(CanvasWindow& form, int16_t) override { load_hidden(form); }

 private:
  // The image the next fetch hands over, read when first needed.
  HostImage& next_image();
  void load_paper();

  int32_t width_ = 0, height_ = 0;
  HostImage image_;
  bool image_ready_ = false;
  std::deque<QString> image_files_;
  std::deque<QString> paper_files_;
  Plane paper_;
  int32_t paper_width_ = 0, paper_height_ = 0;
  bool paper_ready_ = false;
};

// The host a replay over an image file reads from: the file's image and paper as its host hands
// them out, over white (no layer planes, as the replay has always painted), and nothing written.
class ReadOnlyHost : public ForwardingHost {
 public:
  explicit ReadOnlyHost(std::unique_ptr<Host> inner) : ForwardingHost(std::move(inner)) {}

  void Wik_SaveUndo() override {}
  void Wik_SetRbuffer(const Plane&) override {}
  void Wik_SetGbuffer(const Plane&) override {}
  void Wik_SetBbuffer(const Plane&) override {}
  void wik_Refresh() override {}
  std::string Wik_WallpaperFilename() override { return {}; }
  void Wik_SendFormObject(CanvasWindow& form, int16_t) override { load_hidden(form); }
  LayerPlanes layer_planes() override { return {}; }
  void set_layer_planes(const LayerPlanes&) override {}
  std::string host_name() override { return Host::host_name(); }
  std::string image_name() override { return Host::image_name(); }
  void set_can_repaint(bool) override {}
  std::string planes_file_checksum() override { return {}; }
};

// The planes of an image file kept in the history (a PNG of RGB). Raises RuntimeError.
HostImage read_history_image(const QString& file);

}  // namespace tarvo
