#pragma once
// The conversion of the image's RGB planes into an encoder's frame: scaled to the video's size
// with a bicubic filter (which widens with the scale factor, so a large reduction averages every
// source pixel), and into the encoder's pixel format. At the image's own size, the RGB formats
// (packed RGB for PNG, BGR0 for FFV1) are a plain interleave, so every byte reaches the encoder
// unchanged; YUV takes the BT.709 matrix from full-range RGB to video range.

#include "timelapse/video_format.h"
#include "timelapse/video_writer.h"
#include "timelapse/video_writer_av.h"

namespace tarvo::video {

class FrameConverter {
 public:
  FrameConverter(FrameSize source, FrameSize target, AVPixelFormat target_format,
                 const std::string& out);

  // Writes frame's pixels into target, a writable frame of the target size and format.
  void convert(const RgbPlanes& frame, AVFrame* target) const;

 private:
  void interleave(const RgbPlanes& frame, AVFrame* target) const;
  void scale(const RgbPlanes& frame, AVFrame* target) const;

  AVPixelFormat target_format_;
  ScalerPtr scaler_;  // none when the conversion is an interleave
};

}  // namespace tarvo::video
