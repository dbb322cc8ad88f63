#pragma once
// Crash copies: while a canvas is open, a crash (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT) or a
// call of exit() that nobody planned (Qt's xcb platform ends the program so when the connection to
// the X server breaks) first writes the committed planes to the recovery folder as a binary PPM
// (P6), which the program opens as any other picture. The signal is then raised again with the
// handler that was there before (the default, or a sanitizer's), so a crash still reports as one.
//
// The handler only uses what a signal handler may: the path and the message are prepared when the
// copy is armed, the pixels are converted through a static buffer, and the file is written with
// open(2), write(2), fsync(2) and rename(2), so that a half-written copy never carries its name.
// The planes are read where they are at the moment of the crash, so a Get image that replaced
// them is followed. During a stroke the copy is of the previews, which show the stroke as the
// user saw it; otherwise it is of the committed planes.

#include <QString>

#include "canvas/canvas_buffers.h"
#include "core/stroke_state.h"

namespace tarvo {

class CrashCopy {
 public:
  // Arms the handlers for canvas, writing to path; stroke, when given, tells whether a stroke is
  // under way. One copy is armed at a time.
  CrashCopy(const CanvasBuffers& canvas, const QString& path, const StrokeState* stroke = nullptr);
  // Disarms and puts the previous handlers back.
  ~CrashCopy();
  CrashCopy(const CrashCopy&) = delete;
  CrashCopy& operator=(const CrashCopy&) = delete;

  const QString& path() const { return path_; }
  // Writes the copy now, as the handler does; false when it could not be written.
  bool write_now() const;
  // After a normal close: nothing is written from here on.
  void disarm();

 private:
  QString path_;
};

}  // namespace tarvo
