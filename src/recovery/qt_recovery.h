#pragma once
// Recovery copies: the committed image written where the user's file is never touched, when the
// program ends on an error or a signal, when the file itself cannot be written, and every couple of
// minutes of painting. They live in $XDG_STATE_HOME/tarvo/recovery (~/.local/state/tarvo/recovery
// by default), named after the image and the session: photo-1a2b3c4d-20261208-142501-123.png,
// where the middle part tells apart images of the same name in different folders. That first part,
// "photo-1a2b3c4d", is the recovery key: a host without an image file passes a key of its own. The
// time after it names the session, the program's run that wrote the file: every store a process
// makes shares it, so all that one run keeps can be retired together. Beside the copies
// (KEY-SESSION.png, KEY-SESSION-2.png, KEY-SESSION-autosave.png) live the crash copy
// (KEY-SESSION-crash.ppm) and the session journal (KEY-SESSION-journal.tvs, with
// KEY-SESSION-journal-base-N.tvp when the journal paints over a snapshot).
//
// The folder is the user's alone: every folder the store makes is 0700 and every file 0600,
// whatever the umask.

#include <QDateTime>
#include <QImage>
#include <QString>
#include <QStringList>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "canvas/canvas_buffers.h"
#include "core/stroke_state.h"

namespace tarvo {

// The picture of planes with the spare column and row, as 8-bit RGB.
QImage picture_of(const Plane& red, const Plane& green, const Plane& blue);

// Makes folder and any folder missing above it, each new one 0700, and makes folder itself 0700.
void make_private_folder(const QString& folder);
// Writes bytes to path by way of a temporary beside it, synced before it takes the name, as a file
// that only the user may read and write (0600). Returns what failed, or an empty string.
QString write_private_file(const QString& path, const QByteArray& bytes);

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
  // "photo-gimp-5e6f7a8b" for a GIMP image whose file is /some/folder/photo.xcf.
  static QString key_of_gimp_image(const QString& image_file);
  // The key of one layer of an image keyed image_key: "photo-gimp-5e6f7a8b-layer-1a2b3c4d", where
  // the last part is a tag of the layer's name.
  static QString key_of_layer(const QString& image_key, const QString& layer_name);
  // The part of such a key that every layer of the image shares: "photo-gimp-5e6f7a8b-layer-".
  static QString layer_key_stem(const QString& image_key);

  const QString& key() const { return key_; }
  const QString& image_path() const { return image_path_; }
  // The session of this run of the program: "20261208-142501-123".
  const QString& session() const { return session_; }
  // A new path in the folder for this key, this session and suffix ("-crash.ppm",
  // "-journal.tvs"), not yet taken by any file.
  QString new_path(const QString& suffix) const;

  // The session a file of this key was written in; empty for a file of another key.
  QString session_of(const QString& path) const;
  // Every file of this key that session wrote, newest first.
  QStringList session_files(const QString& session) const;
  // The painting of this session has reached the image: every copy, autosave, crash copy and
  // journal it kept is removed, except the files whose path starts with keep (the journal that
  // goes on).
  void retire_session(const QString& keep = {});

  // Writes the committed planes as a PNG now and returns its path; raises RuntimeError when it
  // cannot. A session keeps one copy of its painting: the new copy replaces the copies and the
  // autosave this session wrote before it, and planes unchanged since the last copy are not
  // written again (its path is returned).
  QString write_copy(const CanvasBuffers& canvas);
  // The same as the user sees it: with a stroke under way, the previews, which show it.
  QString write_copy(const CanvasBuffers& canvas, const StrokeState& stroke);
  // The same from planes with the spare column and row.
  QString write_planes(const Plane& red, const Plane& green, const Plane& blue);

  // Called after each committed stroke: when the interval has passed since the last autosave (or
  // the start), takes the planes as they are and writes them at a low priority, replacing the
  // previous autosave and the session's last copy. A small image is copied for a worker thread; a
  // large one is kept by a forked child (kept_planes.h), which encodes and writes it, so that the
  // pointer's thread copies nothing. While an autosave is still being written (a large image on a
  // busy machine) none is started: the pointer's thread never waits for one. Returns true when it
  // started one.
  bool after_commit(const CanvasBuffers& canvas);
  // Waits for an autosave under way.
  void finish_autosave();
  // Stops an autosave under way without waiting for it; it leaves no file.
  void cancel_autosave();
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
  QString session_;
  Clock clock_;
  std::chrono::steady_clock::time_point last_autosave_;
  std::thread worker_;
  std::shared_ptr<std::atomic<bool>> writing_ = std::make_shared<std::atomic<bool>>(false);
  // The child writing the autosave under way, when a child writes it: cancel_autosave kills it.
  std::shared_ptr<std::atomic<pid_t>> writer_child_ = std::make_shared<std::atomic<pid_t>>(0);
  std::shared_ptr<std::atomic<bool>> cancelled_;
  QString autosave_path_;
  QString previous_autosave_;
  // The last copy written and the hash of the planes it holds.
  QString last_copy_;
  QByteArray last_copy_hash_;
};

}  // namespace tarvo
