#include "timelapse/video_writer_frame.h"

#include <cstdint>

#include "timelapse/video_error.h"

namespace tarvo::video {
namespace {

bool is_packed_rgb(AVPixelFormat format) {
  return format == AV_PIX_FMT_RGB24 || format == AV_PIX_FMT_BGR0;
}

// A scaler from the program's planes (FFmpeg's planar GBR) to target, BT.709 for YUV.
ScalerPtr make_scaler(FrameSize source, FrameSize target, AVPixelFormat target_format,
                      const std::string& out) {
  ScalerPtr scaler(sws_getContext(source.width, source.height, AV_PIX_FMT_GBRP, target.width,
                                  target.height, target_format, SWS_BICUBIC, nullptr, nullptr,
                                  nullptr));
  if (!scaler) throw VideoError("cannot write " + out + ": no scaler to the video's frames");
  if (!is_packed_rgb(target_format)) {
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(scaler.get(), bt709, 1, bt709, 0, 0, 1 << 16, 1 << 16);
  }
  return scaler;
}

// Row y of a plane.
const uint8_t* row(const uint8_t* plane, std::ptrdiff_t stride, int32_t y) {
  return plane + y * stride;
}

}  // namespace

FrameConverter::FrameConverter(FrameSize source, FrameSize target, AVPixelFormat target_format,
                               const std::string& out)
    : target_format_(target_format) {
  if (source != target || !is_packed_rgb(target_format)) {
    scaler_ = make_scaler(source, target, target_format, out);
  }
}

void FrameConverter::convert(const RgbPlanes& frame, AVFrame* target) const {
  if (scaler_) {
    scale(frame, target);
  } else {
    interleave(frame, target);
  }
}

void FrameConverter::interleave(const RgbPlanes& frame, AVFrame* target) const {
  const bool rgb24 = target_format_ == AV_PIX_FMT_RGB24;
  for (int32_t y = 0; y < frame.height; ++y) {
    const uint8_t* r = row(frame.red, frame.stride, y);
    const uint8_t* g = row(frame.green, frame.stride, y);
    const uint8_t* b = row(frame.blue, frame.stride, y);
    uint8_t* out = target->data[0] + static_cast<std::ptrdiff_t>(y) * target->linesize[0];
    if (rgb24) {
      for (int32_t x = 0; x < frame.width; ++x, out += 3) {
        out[0] = r[x], out[1] = g[x], out[2] = b[x];
      }
    } else {
      for (int32_t x = 0; x < frame.width; ++x, out += 4) {
        out[0] = b[x], out[1] = g[x], out[2] = r[x], out[3] = 0;
      }
    }
  }
}

void FrameConverter::scale(const RgbPlanes& frame, AVFrame* target) const {
  // Planar GBR keeps green first, then blue, then red.
  const uint8_t* const planes[4] = {frame.green, frame.blue, frame.red, nullptr};
  const int stride = static_cast<int>(frame.stride);
  const int strides[4] = {stride, stride, stride, 0};
  sws_scale(scaler_.get(), planes, strides, 0, frame.height, target->data, target->linesize);
}

}  // namespace tarvo::video
