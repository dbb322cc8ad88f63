#pragma once
// What the video writer's parts share of FFmpeg: owning pointers for its objects, and the error
// that a failed library call turns into.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

namespace tarvo::video {

struct FreeCodecContext {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FreeFrame {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct FreePacket {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FreeScaler {
  void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, FreeCodecContext>;
using FramePtr = std::unique_ptr<AVFrame, FreeFrame>;
using PacketPtr = std::unique_ptr<AVPacket, FreePacket>;
using ScalerPtr = std::unique_ptr<SwsContext, FreeScaler>;

// From the first call on, the libraries' log keeps to errors, and the last error line a thread
// logged is kept for failure().
void keep_library_log_quiet();

// Throws VideoError "cannot write OUT: DOING: REASON", where REASON is the library's text for
// av_error and, when the library logged an error line since the last failure, that line too.
[[noreturn]] void failure(const std::string& out, const std::string& doing, int av_error);

}  // namespace tarvo::video
