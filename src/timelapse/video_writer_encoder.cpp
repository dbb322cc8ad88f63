#include "timelapse/video_writer_encoder.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixfmt.h>
}

#include "timelapse/video_error.h"

namespace tarvo::video {
namespace {

constexpr int kThreads = 2;

struct CodecChoice {
  const char* encoder;
  AVPixelFormat pixel_format;
};

CodecChoice codec_for(VideoFormat format) {
  switch (format) {
    case VideoFormat::H264Mp4:
      return {"libx264", AV_PIX_FMT_YUV420P};
    case VideoFormat::Vp9Webm:
      return {"libvpx-vp9", AV_PIX_FMT_YUV420P};
    case VideoFormat::Ffv1Mkv:
      return {"ffv1", AV_PIX_FMT_BGR0};
    case VideoFormat::PngFolder:
      return {"png", AV_PIX_FMT_RGB24};
  }
  return {"", AV_PIX_FMT_NONE};
}

// Sets one of the encoder's own options; the names are fixed, so a refusal means this FFmpeg
// spells them differently, which the error says.
void set_option(AVCodecContext* context, const char* name, const char* value,
                const std::string& out) {
  if (int error = av_opt_set(context->priv_data, name, value, 0); error < 0) {
    failure(out, std::string("cannot set the encoder's option ") + name + "=" + value, error);
  }
}

// The encoder's settings for the format (video_writer_encoder.h).
void set_format_options(AVCodecContext* context, VideoFormat format, const std::string& out) {
  switch (format) {
    case VideoFormat::H264Mp4:
      set_option(context, "preset", "veryfast", out);
      break;
    case VideoFormat::Vp9Webm:
      context->bit_rate = 0;
      set_option(context, "crf", "32", out);
      set_option(context, "deadline", "good", out);
      set_option(context, "cpu-used", "4", out);
      set_option(context, "row-mt", "1", out);
      break;
    case VideoFormat::Ffv1Mkv:
      context->level = 3;
      context->gop_size = 1;
      set_option(context, "coder", "range_def", out);
      context->slices = 4;
      break;
    case VideoFormat::PngFolder:
      break;
  }
}

// 4:2:0 video carries the BT.709 tags that match the conversion (video_writer_frame.h), so that
// players show the colours it was made with.
void tag_colours(AVCodecContext* context) {
  if (context->pix_fmt != AV_PIX_FMT_YUV420P) return;
  context->color_range = AVCOL_RANGE_MPEG;
  context->colorspace = AVCOL_SPC_BT709;
  context->color_primaries = AVCOL_PRI_BT709;
  context->color_trc = AVCOL_TRC_BT709;
}

CodecContextPtr open_codec(const EncoderSetup& setup) {
  const CodecChoice choice = codec_for(setup.format);
  const AVCodec* codec = avcodec_find_encoder_by_name(choice.encoder);
  if (!codec) {
    throw VideoError("cannot write " + setup.out + ": this FFmpeg has no " + choice.encoder +
                     " encoder");
  }
  CodecContextPtr context(avcodec_alloc_context3(codec));
  if (!context) failure(setup.out, "cannot make the encoder", AVERROR(ENOMEM));
  context->width = setup.video.width;
  context->height = setup.video.height;
  context->pix_fmt = choice.pixel_format;
  context->time_base = AVRational{1, setup.fps};
  context->framerate = AVRational{setup.fps, 1};
  context->sample_aspect_ratio = AVRational{1, 1};
  context->thread_count = kThreads;
  if (setup.global_header) context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  tag_colours(context.get());
  set_format_options(context.get(), setup.format, setup.out);
  if (int error = avcodec_open2(context.get(), codec, nullptr); error < 0) {
    failure(setup.out, std::string("cannot open the ") + choice.encoder + " encoder", error);
  }
  return context;
}

}  // namespace

FrameEncoder::FrameEncoder(const EncoderSetup& setup)
    : out_(setup.out),
      context_(open_codec(setup)),
      frame_(av_frame_alloc()),
      packet_(av_packet_alloc()) {
  if (!frame_ || !packet_) failure(out_, "cannot make a frame", AVERROR(ENOMEM));
  frame_->format = context_->pix_fmt;
  frame_->width = context_->width;
  frame_->height = context_->height;
  if (int error = av_frame_get_buffer(frame_.get(), 0); error < 0) {
    failure(out_, "cannot make a frame", error);
  }
  converter_ = std::make_unique<FrameConverter>(setup.image, setup.video, context_->pix_fmt, out_);
}

void FrameEncoder::load(const RgbPlanes& frame) {
  // The encoder may still hold the previous frame's pixels; then this makes a new buffer.
  if (int error = av_frame_make_writable(frame_.get()); error < 0) {
    failure(out_, "cannot make a frame", error);
  }
  converter_->convert(frame, frame_.get());
}

void FrameEncoder::encode(int64_t pts, PacketSink& sink) {
  frame_->pts = pts;
  if (int error = avcodec_send_frame(context_.get(), frame_.get()); error < 0) {
    failure(out_, "cannot encode a frame", error);
  }
  drain(sink);
}

void FrameEncoder::flush(PacketSink& sink) {
  if (int error = avcodec_send_frame(context_.get(), nullptr); error < 0) {
    failure(out_, "cannot finish the encoding", error);
  }
  drain(sink);
}

void FrameEncoder::drain(PacketSink& sink) {
  for (;;) {
    const int error = avcodec_receive_packet(context_.get(), packet_.get());
    if (error == AVERROR(EAGAIN) || error == AVERROR_EOF) return;
    if (error < 0) failure(out_, "cannot encode a frame", error);
    if (packet_->duration == 0) packet_->duration = 1;
    sink.write(packet_.get());
    av_packet_unref(packet_.get());
  }
}

}  // namespace tarvo::video
