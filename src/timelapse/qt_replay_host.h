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

#include "core/host.h"
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

class ReadOnlyHost : public Host {
 public:
  explicit ReadOnlyHost(std::unique_ptr<Host> inner) : inner_(std::move(inner)) {}

  int32_t Wik_GetPaperWidth() override { return inner_->Wik_GetPaperWidth(); }
  int32_t wik_GetPaperHeight() override { return inner_->wik_GetPaperHeight(); }
  Plane Wik_GetPaper() override { return inner_->Wik_GetPaper(); }
  int32_t Wik_BufferWidth() override { return inner_->Wik_BufferWidth(); }
  int32_t Wik_BufferHeight() override { return inner_->Wik_BufferHeight(); }
  Plane Wik_GetRBuffer() override { return inner_->Wik_GetRBuffer(); }
  Plane Wik_GetGBuffer() override { return inner_->Wik_GetGBuffer(); }
  Plane Wik_GetBBuffer() override { return inner_->Wik_GetBBuffer(); }
  void Wik_SaveUndo() override {}
  void Wik_SetRbuffer(const Plane&) override {}
  void Wik_SetGbuffer(const Plane&) override {}
  void Wik_SetBbuffer(const Plane&) override {}
  void wik_Refresh() override {}
  std::string Wik_WallpaperFilename() override { return {}; }
  void Wik_SendFormObject(CanvasWindow& form, int16_t) override { load_hidden(form); }

 private:
  std::unique_ptr<Host> inner_;
};

// The planes of an image file kept in the history (a PNG of RGB). Raises RuntimeError.
HostImage read_history_image(const QString& file);

}  // namespace tarvo
