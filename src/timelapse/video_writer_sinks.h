#pragma once
// Where the encoded packets go: a container file written through libavformat (MP4, WebM,
// Matroska), or a folder of numbered PNG files, one a frame.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "timelapse/video_writer_encoder.h"

namespace tarvo::video {

class MuxerSink : public PacketSink {
 public:
  // muxer: libavformat's name ("mp4", "webm", "matroska"). Nothing is written until start().
  MuxerSink(const char* muxer, const std::filesystem::path& file, const std::string& out);
  ~MuxerSink() override;

  // Whether the codec must keep its headers apart from the stream for this container.
  bool wants_global_header() const;
  // Adds the one video stream, opens the file and writes the container's header. faststart: MP4
  // moves its index in front of the frames when finished, so that playback can start at once.
  void start(const AVCodecContext* codec, bool faststart);
  void write(AVPacket* packet) override;
  // Writes the container's end and closes the file.
  void finish();

 private:
  std::string out_;
  AVFormatContext* container_ = nullptr;
  AVStream* stream_ = nullptr;
  AVRational codec_time_base_{1, 1};
};

class PngFolderSink : public PacketSink {
 public:
  PngFolderSink(const std::filesystem::path& folder, const std::string& out);

  // The frame encoded at frame time pts is to be written copies more times. The encoder may hand
  // out a frame's packet some frames later, so copies go with the packet's time rather than with
  // the last packet written.
  void repeat(int64_t pts, int64_t copies);
  // Each packet is a PNG file: frame_000001.png, frame_000002.png, ... in the folder, and again
  // under the following numbers as often as repeat() asked.
  void write(AVPacket* packet) override;

 private:
  void write_file(const uint8_t* bytes, std::size_t size);

  std::filesystem::path folder_;
  std::string out_;
  int64_t frames_ = 0;
  std::map<int64_t, int64_t> repeats_;  // frame time: further copies
};

}  // namespace tarvo::video
