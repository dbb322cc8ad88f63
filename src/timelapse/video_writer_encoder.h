#pragma once
// One format's encoder, opened with the settings the time-lapse uses, fed the image's frames and
// handing its packets to a sink.
//
//   H.264  libx264, preset veryfast, CRF 23, yuv420p tagged BT.709, two threads
//   VP9    libvpx-vp9, constant quality 32, cpu-used 4 with row threading, yuv420p BT.709, two
//          threads
//   FFV1   version 3, range coder, every frame a key frame, four slices coded on two threads,
//          BGR0 (exact RGB)
//   PNG    one image a frame, packed RGB
//
// Frames carry time stamps in frames (a time base of 1 / fps); every packet lasts one frame.

#include <cstdint>

#include "timelapse/video_writer_av.h"
#include "timelapse/video_writer_frame.h"

namespace tarvo::video {

// Where an encoder's packets go. The packet is in the encoder's time base; the sink may take its
// data (leaving it blank) or only read it.
class PacketSink {
 public:
  virtual ~PacketSink() = default;
  virtual void write(AVPacket* packet) = 0;
};

struct EncoderSetup {
  VideoFormat format;
  FrameSize image;
  FrameSize video;
  int fps;
  bool global_header;  // the container wants the codec's headers apart from the stream
  std::string out;     // the output's name, for messages
};

class FrameEncoder {
 public:
  explicit FrameEncoder(const EncoderSetup& setup);

  const AVCodecContext* context() const { return context_.get(); }

  // Converts frame into the frame the encoder reads next.
  void load(const RgbPlanes& frame);
  // Encodes the loaded frame as the one at frame time pts and hands the packets ready to sink.
  void encode(int64_t pts, PacketSink& sink);
  // Drains the encoder into sink; nothing may be encoded afterwards.
  void flush(PacketSink& sink);

 private:
  void drain(PacketSink& sink);

  std::string out_;
  CodecContextPtr context_;
  FramePtr frame_;
  PacketPtr packet_;
  std::unique_ptr<FrameConverter> converter_;
};

}  // namespace tarvo::video
