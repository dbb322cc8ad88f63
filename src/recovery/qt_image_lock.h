#pragma once
// One canvas per image: a lock file in the recovery folder, named after the image, locked (flock)
// by the canvas that has it. The file names the holder: its process id, then what it paints on,
// then whether it brings its canvas to the front when asked. The system lets go of the lock when
// that process ends however it ends, so a canvas that was killed or crashed holds nothing.
//
// A holder that says "raise SIGUSR1" brings its canvas to the front on SIGUSR1; a second canvas
// refused the image sends it, and only to a holder that says so. A holder whose host has ended
// (GIMP quit while its canvas stayed open) says "host gone": it can no longer send its painting,
// and a second canvas may ask it to close (SIGTERM), which keeps its painting for recovery.

#include <sys/types.h>

#include <QString>

namespace tarvo {

class ImageLock {
 public:
  // The lock at path, described to a second canvas as what ("the Tarvo canvas on photo.png").
  // raises: this process brings its canvas to the front on SIGUSR1.
  ImageLock(QString path, QString what, bool raises = false);
  // Lets go of the lock and removes its file, when it was taken.
  ~ImageLock();
  // The same, before the destructor (a program that ends without unwinding).
  void release();
  ImageLock(const ImageLock&) = delete;
  ImageLock& operator=(const ImageLock&) = delete;

  // The lock file of the image file at image_path, beside its recovery copies.
  static QString path_for_image(const QString& image_path);

  // Takes the lock. Returns what holds it when a running canvas does, with its process id, else an
  // empty string (the lock is then held, or could not be made at all, which does not stop the
  // painting).
  QString take();
  // When take() was refused: the holder's process, 0 when it does not say that it raises its
  // canvas on SIGUSR1.
  pid_t raising_holder() const { return raising_holder_; }
  // When take() was refused: the holder's process (0 when unknown), and whether it said that its
  // host has ended.
  pid_t holder() const { return holder_; }
  bool holder_host_gone() const { return holder_host_gone_; }
  // Says in the lock file, while this process holds it, that its host has ended.
  void mark_host_gone();

 private:
  QString path_;
  QString what_;
  bool raises_ = false;
  int fd_ = -1;
  pid_t raising_holder_ = 0;
  pid_t holder_ = 0;
  bool holder_host_gone_ = false;
  bool host_gone_ = false;
  // The lock file's text for this process.
  QByteArray text() const;
};

}  // namespace tarvo
