#include "timelapse/video_writer.h"

#include "timelapse/frame_schedule.h"
#include "timelapse/staged_output.h"
#include "timelapse/video_writer_sinks.h"

namespace tarvo {

using video::FrameEncoder;
using video::MuxerSink;
using video::PngFolderSink;

namespace {

const char* muxer_for(VideoFormat format) {
  switch (format) {
    case VideoFormat::H264Mp4:
      return "mp4";
    case VideoFormat::Vp9Webm:
      return "webm";
    case VideoFormat::Ffv1Mkv:
      return "matroska";
    case VideoFormat::PngFolder:
      break;
  }
  return nullptr;
}

// fps, when a video can be made at that rate.
int checked_fps(const std::string& out, int fps) {
  if (fps < 1 || fps > kMaxTimelapseFps) {
    throw VideoError("cannot write " + out + ": frame rate " + std::to_string(fps) +
                     ": must be from 1 to " + std::to_string(kMaxTimelapseFps) +
                     " frames a second");
  }
  return fps;
}

StagedOutput::Kind staged_kind(VideoFormat format) {
  return format == VideoFormat::PngFolder ? StagedOutput::Kind::Folder : StagedOutput::Kind::File;
}

}  // namespace

// Members in the order they are made; they are destroyed the other way round, so the encoder and
// the container close before the temporary is removed.
struct VideoWriter::Impl {
  std::string out;
  VideoFormat format;
  FrameSize image;
  int fps;
  FrameSizeChoice size;
  StagedOutput staged;
  std::unique_ptr<MuxerSink> muxer;
  std::unique_ptr<PngFolderSink> frames;
  std::unique_ptr<FrameEncoder> encoder;
  int64_t next_pts = 0;
  bool open = true;

  Impl(const std::filesystem::path& out_path, FrameSize image_size, const VideoOptions& options)
      : out(out_path.native()),
        format(video_format_for(out_path)),
        image(image_size),
        fps(checked_fps(out, options.fps)),
        size(choose_frame_size(out_path, image, options.fit_inside, format)),
        staged(out_path, staged_kind(format)) {
    video::keep_library_log_quiet();
    if (format == VideoFormat::PngFolder) {
      frames = std::make_unique<PngFolderSink>(staged.temporary(), out);
    } else {
      muxer = std::make_unique<MuxerSink>(muxer_for(format), staged.temporary(), out);
    }
    encoder = std::make_unique<FrameEncoder>(video::EncoderSetup{
        format, image, size.size, fps, muxer && muxer->wants_global_header(), out});
    if (muxer) muxer->start(encoder->context(), format == VideoFormat::H264Mp4);
  }

  video::PacketSink& sink() { return muxer ? static_cast<video::PacketSink&>(*muxer) : *frames; }

  void add(const RgbPlanes& frame, int64_t copies) {
    if (frame.width != image.width || frame.height != image.height) {
      throw VideoError("cannot write " + out + ": a frame of " + std::to_string(frame.width) +
                       " x " + std::to_string(frame.height) + " in a video of the image's " +
                       std::to_string(image.width) + " x " + std::to_string(image.height));
    }
    encoder->load(frame);
    if (frames) {
      // PNG frames are the same file each time: encoded once and written again.
      frames->repeat(next_pts, copies - 1);
      encoder->encode(next_pts, sink());
      next_pts += copies;
      return;
    }
    for (int64_t i = 0; i < copies; ++i) encoder->encode(next_pts++, sink());
  }

  void finish() {
    encoder->flush(sink());
    if (muxer) muxer->finish();
    staged.commit();
  }
};

VideoWriter::VideoWriter(const std::filesystem::path& out, FrameSize image,
                         const VideoOptions& options)
    : impl_(std::make_unique<Impl>(out, image, options)) {}

VideoWriter::~VideoWriter() = default;

FrameSize VideoWriter::frame_size() const {
  return impl_->size.size;
}
const std::string& VideoWriter::note() const {
  return impl_->size.note;
}
int64_t VideoWriter::frame_count() const {
  return impl_->next_pts;
}

void VideoWriter::add_frame(const RgbPlanes& frame, int64_t copies) {
  if (!impl_->open) throw VideoError("cannot write " + impl_->out + ": the video was closed");
  if (copies < 1) return;
  try {
    impl_->add(frame, copies);
  } catch (...) {
    cancel();
    throw;
  }
}

void VideoWriter::finish() {
  if (!impl_->open) throw VideoError("cannot write " + impl_->out + ": the video was closed");
  try {
    impl_->finish();
    impl_->open = false;
  } catch (...) {
    cancel();
    throw;
  }
}

void VideoWriter::cancel() noexcept {
  impl_->open = false;
  impl_->encoder.reset();
  impl_->muxer.reset();
  impl_->frames.reset();
  impl_->staged.discard();
}

}  // namespace tarvo
