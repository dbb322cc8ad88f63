#include "timelapse/video_writer_sinks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/dict.h>
}

#include "timelapse/video_error.h"

namespace tarvo::video {

MuxerSink::MuxerSink(const char* muxer, const std::filesystem::path& file, const std::string& out)
    : out_(out) {
  // The file's own name goes to the container: MP4's faststart reads the file back through it.
  if (int error = avformat_alloc_output_context2(&container_, nullptr, muxer, file.c_str());
      error < 0) {
    failure(out_, std::string("cannot make the ") + muxer + " container", error);
  }
}

MuxerSink::~MuxerSink() {
  if (container_ && container_->pb) avio_closep(&container_->pb);
  avformat_free_context(container_);
}

bool MuxerSink::wants_global_header() const {
  return (container_->oformat->flags & AVFMT_GLOBALHEADER) != 0;
}

void MuxerSink::start(const AVCodecContext* codec, bool faststart) {
  stream_ = avformat_new_stream(container_, nullptr);
  if (!stream_) failure(out_, "cannot add the video stream", AVERROR(ENOMEM));
  if (int error = avcodec_parameters_from_context(stream_->codecpar, codec); error < 0) {
    failure(out_, "cannot describe the video stream", error);
  }
  codec_time_base_ = codec->time_base;
  stream_->time_base = codec->time_base;
  stream_->avg_frame_rate = codec->framerate;
  if (int error = avio_open(&container_->pb, container_->url, AVIO_FLAG_WRITE); error < 0) {
    failure(out_, "cannot open the file", error);
  }
  AVDictionary* options = nullptr;
  if (faststart) av_dict_set(&options, "movflags", "+faststart", 0);
  const int error = avformat_write_header(container_, &options);
  av_dict_free(&options);
  if (error < 0) failure(out_, "cannot write the container's header", error);
}

void MuxerSink::write(AVPacket* packet) {
  // The container chooses its stream's time base in avformat_write_header.
  av_packet_rescale_ts(packet, codec_time_base_, stream_->time_base);
  packet->stream_index = stream_->index;
  if (int error = av_interleaved_write_frame(container_, packet); error < 0) {
    failure(out_, "cannot write a frame", error);
  }
}

void MuxerSink::finish() {
  if (int error = av_write_trailer(container_); error < 0) {
    failure(out_, "cannot write the container's end", error);
  }
  if (int error = avio_closep(&container_->pb); error < 0) {
    failure(out_, "cannot close the file", error);
  }
}

PngFolderSink::PngFolderSink(const std::filesystem::path& folder, const std::string& out)
    : folder_(folder), out_(out) {}

void PngFolderSink::repeat(int64_t pts, int64_t copies) {
  if (copies > 0) repeats_[pts] = copies;
}

void PngFolderSink::write(AVPacket* packet) {
  int64_t copies = 1;
  if (auto repeat = repeats_.find(packet->pts); repeat != repeats_.end()) {
    copies += repeat->second;
    repeats_.erase(repeat);
  }
  for (int64_t i = 0; i < copies; ++i)
    write_file(packet->data, static_cast<std::size_t>(packet->size));
}

void PngFolderSink::write_file(const uint8_t* bytes, std::size_t size) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%06lld.png", static_cast<long long>(++frames_));
  const std::filesystem::path path = folder_ / name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) throw VideoError("cannot write " + out_ + ": " + name + ": " + std::strerror(errno));
  const bool written = std::fwrite(bytes, 1, size, file) == size;
  const int write_error = errno;
  if (std::fclose(file) != 0 || !written) {
    throw VideoError("cannot write " + out_ + ": " + name + ": " +
                     std::strerror(written ? errno : write_error));
  }
}

}  // namespace tarvo::video
