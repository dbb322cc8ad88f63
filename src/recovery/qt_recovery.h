#pragma once
// Recovery copies: the committed image written where the user's file is never touched, when the
// program ends on an error or a signal, when the file itself cannot be written, and every couple of
// minutes of painting. They live in $XDG_STATE_HOME/tarvo/recovery (~/.local/state/tarvo/recovery
// by default), named after the image and the time: photo-1a2b3c4d-20261208-142501-123.png, where
// the middle part tells apart images of the same name in different folders. That first part,
// "photo-1a2b3c4d", is the recovery key: a host without an image file passes a key of its own.
// Beside the copies live the crash copies (KEY-TIME-crash.ppm) and the session journals
// (KEY-TIME-journal.tvs, with KEY-TIME-journal-base.png when the journal paints over a snapshot).

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "canvas/canvas_buffers.h"

namespace tarvo {

// The picture of planes with the spare column and row, as 8-bit RGB.
QImage picture_of(const Plane& red, const Plane& green, const Plane& blue);

class RecoveryStore {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr std::chrono::seconds kAutosaveInterval{120};

  // The store of the image file at image_path, keyed by key_of_image.
  explicit RecoveryStore(QString image_path, Clock clock = std::chrono::steady_clock::now);
  // The store under key; image_path, when not empty, is the file that recovery copies are compared
  // with (only copies newer than it are offered).
  RecoveryStore(QString key, QString image_path, Clock clock = std::chrono::steady_clock::now);
  ~RecoveryStore();
  RecoveryStore(const RecoveryStore&) = delete;
  RecoveryStore& operator=(const RecoveryStore&) = delete;

  static QString directory();
  // "photo-1a2b3c4d" for /some/folder/photo.png.
  static QString key_of_image(const QString& image_path);

  const QString& key() const { return key_; }
  const QString& image_path() const { return image_path_; }
  // A new path in the folder for this key, the time of now and suffix ("-crash.ppm",
  // "-journal.tvs"), not yet taken by any file.
  QString new_path(const QString& suffix) const;

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

  // Recovery copies of this image (PNG copies, autosaves and crash copies) that are newer than the
  // image file, newest first.
  QStringList newer_copies() const;
  // All of them, whatever their age, newest first.
  QStringList copies() const;
  // The session journals of this key, newest first, whatever their age.
  QStringList journals() const;

 private:
  QString name_stem() const;
  QString next_path(const QString& suffix) const;

  QString key_;
  QString image_path_;
  Clock clock_;
  std::chrono::steady_clock::time_point last_autosave_;
  std::thread worker_;
  QString autosave_path_;
  QString previous_autosave_;
};

}  // namespace tarvo
