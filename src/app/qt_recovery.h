#pragma once
// Recovery copies: the committed image written where the user's file is never touched, when the
// program ends on an error or a signal, when the file itself cannot be written, and every couple of
// minutes of painting. They live in $XDG_STATE_HOME/tarvo/recovery (~/.local/state/tarvo/recovery
// by default), named after the image and the time: photo-1a2b3c4d-20261208-142501-123.png, where the
// middle part tells apart images of the same name in different folders.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "canvas/canvas_buffers.h"

namespace tarvo {

class RecoveryStore {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::seconds kAutosaveInterval{120};

  explicit RecoveryStore(QString image_path, Clock clock = std::chrono::steady_clock::now);
  ~RecoveryStore();
  RecoveryStore(const RecoveryStore&) = delete;
  RecoveryStore& operator=(const RecoveryStore&) = delete;

  static QString directory();

  // Writes the committed planes as a PNG now and returns its path; raises RuntimeError when it
  // cannot.
  QString write_copy(const CanvasBuffers& canvas) const;
  // The same from planes with the spare column and row.
  QString write_planes(const Plane& red, const Plane& green, const Plane& blue) const;

  // Called after each committed stroke: when the interval has passed since the last autosave (or
  // the start), copies the planes and writes them on a worker thread, replacing the previous
  // autosave. Returns true when it started one.
  bool after_commit(const CanvasBuffers& canvas);
  // Waits for an autosave under way.
  void finish_autosave();
  // After a normal close: the autosave is no longer needed.
  void remove_autosave();
  QString autosave_path() const { return autosave_path_; }

  // Recovery copies of this image that are newer than the image file.
  QStringList newer_copies() const;

 private:
  QString name_stem() const;
  QString next_path(const QString& suffix) const;

  QString image_path_;
  Clock clock_;
  std::chrono::steady_clock::time_point last_autosave_;
  std::thread worker_;
  QString autosave_path_;
  QString previous_autosave_;
};

}  // namespace tarvo
