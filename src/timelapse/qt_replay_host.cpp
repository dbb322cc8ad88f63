#include "timelapse/qt_replay_host.h"

#include <QWidget>
#include <cstring>

#include "canvas/qt_form1.h"

namespace tarvo {

void load_hidden(CanvasWindow& form) {
  // The windows are shown as far as Qt lays them out and sends their events, and never mapped.
  if (auto* canvas = dynamic_cast<Form1*>(&form)) {
    canvas->setAttribute(Qt::WA_DontShowOnScreen);
    if (auto* panel = dynamic_cast<QWidget*>(canvas->program().panel)) {
      panel->setAttribute(Qt::WA_DontShowOnScreen);
    }
  }
  form.show_window();
}

HostImage read_history_image(const QString& file) {
  ImageFile read = read_image_file(file, machine_image_limits());
  read.image.alpha = Plane();
  return std::move(read.image);
}

HistoryReplayHost::HistoryReplayHost(HostImage start, const HistoryEntry& entry)
    : width_(start.width()), height_(start.height()), image_(std::move(start)), image_ready_(true) {
  for (const HistoryHandover& handover : entry.handovers) {
    if (handover.kind == HistoryHandover::Kind::Image) {
      image_files_.push_back(handover.image.file);
    } else {
      paper_files_.push_back(handover.image.file);
    }
  }
}

void HistoryReplayHost::skip_image() {
  if (!image_ready_ && !image_files_.empty()) image_files_.pop_front();
  image_ready_ = false;
}

HostImage& HistoryReplayHost::next_image() {
  if (!image_ready_) {
    image_ = HostImage{};
    if (!image_files_.empty()) {
      image_ = read_history_image(image_files_.front());
      image_files_.pop_front();
    }
    image_ready_ = true;
  }
  return image_;
}

Plane HistoryReplayHost::Wik_GetRBuffer() {
  return std::move(next_image().red);
}

Plane HistoryReplayHost::Wik_GetGBuffer() {
  return std::move(next_image().green);
}

Plane HistoryReplayHost::Wik_GetBBuffer() {
  Plane blue = std::move(next_image().blue);
  image_ready_ = false;
  return blue;
}

void HistoryReplayHost::load_paper() {
  if (paper_ready_) return;
  paper_ready_ = true;
  if (paper_files_.empty()) return;  // the session's last paper stays
  const QString file = paper_files_.front();
  paper_files_.pop_front();
  const QImage picture = QImage(file).convertToFormat(QImage::Format_Grayscale8);
  if (picture.isNull()) return;
  paper_width_ = picture.width();
  paper_height_ = picture.height();
  paper_ = Plane(paper_width_, paper_height_);
  for (int32_t y = 0; y < paper_height_; ++y) {
    std::memcpy(paper_.row(y), picture.constScanLine(y), static_cast<std::size_t>(paper_width_));
  }
}

int32_t HistoryReplayHost::Wik_GetPaperWidth() {
  load_paper();
  return paper_width_;
}

int32_t HistoryReplayHost::wik_GetPaperHeight() {
  load_paper();
  return paper_height_;
}

Plane HistoryReplayHost::Wik_GetPaper() {
  load_paper();
  paper_ready_ = false;
  return paper_.copy();
}

}  // namespace tarvo
