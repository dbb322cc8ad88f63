#pragma once
// A time-lapse video written from the image's RGB planes, one frame at a time, in the format the
// output's name asks for (video_format.h): H.264 .mp4, VP9 .webm, lossless FFV1 .mkv, or a folder
// of PNG frames for a name ending in "/". Frames come at a constant rate; a frame added with
// copies > 1 is shown for that many frame times (the hold on the finished painting).
//
// Nothing appears at the output's name until finish() has written it all: the writer works on a
// temporary beside it (staged_output.h), which cancel(), any error, or destruction without a
// finish removes. Every error is a VideoError with a one-line message naming the output; the
// constructor raises the ones a user can cause (an unknown ending, a frame size of zero, a folder
// that is missing or cannot be written) before anything is encoded.
//
// Memory: one frame in the encoder's format and the scaler's rows, plus what the encoder keeps to
// look ahead (about ten frames for H.264 at the speed chosen here, 25 for VP9).
//
// The FFmpeg libraries' own log is limited to errors while a writer exists, so the encoders' start-
// up lines do not mix with the program's output.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "timelapse/video_error.h"
#include "timelapse/video_format.h"

namespace tarvo {

// One frame of the image as the program keeps it: three byte planes, red, green and blue, each
// `height` rows of `width` bytes, x fastest, row y starting y * stride bytes after row 0.
struct RgbPlanes {
  const uint8_t* red = nullptr;
  const uint8_t* green = nullptr;
  const uint8_t* blue = nullptr;
  int32_t width = 0;
  int32_t height = 0;
  std::ptrdiff_t stride = 0;
};

struct VideoOptions {
  int fps = 30;
  // The box the frames are scaled to fit, keeping the image's aspect ratio; none: the image's
  // own size.
  std::optional<FrameSize> fit_inside;
};

class VideoWriter {
 public:
  // A video of frames of image's size at out. Throws VideoError, with nothing left on disk.
  VideoWriter(const std::filesystem::path& out, FrameSize image, const VideoOptions& options);
  ~VideoWriter();
  VideoWriter(const VideoWriter&) = delete;
  VideoWriter& operator=(const VideoWriter&) = delete;

  // The size of the video's frames.
  FrameSize frame_size() const;
  // Empty, or one line for the user saying the frame size was capped to what the format takes.
  const std::string& note() const;

  // Adds the frame, shown for `copies` frame times (at least 1). frame has the image's size.
  void add_frame(const RgbPlanes& frame, int64_t copies = 1);
  // The frames added so far, copies counted.
  int64_t frame_count() const;

  // Writes what the encoder still holds and the container's end, and renames the temporary to
  // the output. Throws VideoError (the temporary removed) when that fails.
  void finish();
  // Drops everything written so far. finish() and add_frame() may no longer be called.
  void cancel() noexcept;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tarvo
