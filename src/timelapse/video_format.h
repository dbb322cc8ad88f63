#pragma once
// The kinds of time-lapse output, chosen by how the output's name ends, and the frame size each
// can take:
//
//   NAME.mp4  H.264 in MP4, 4:2:0 YUV, for any player
//   NAME.webm VP9 in WebM, 4:2:0 YUV, for the web
//   NAME.mkv  FFV1 in Matroska, lossless RGB: every frame decodes to the image's exact bytes
//   NAME/     a folder of PNG frames, frame_000001.png, frame_000002.png, ..., lossless too
//
// A frame's size is the image's, or the largest that fits inside a box the user asks for, keeping
// the image's aspect ratio (scaling up as well as down). The 4:2:0 formats need even sides, so
// they round each side down to even (at least 2). Each format also has a largest frame it can
// take; a size beyond it is scaled down to fit, with a note saying so.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tarvo {

enum class VideoFormat { H264Mp4, Vp9Webm, Ffv1Mkv, PngFolder };

struct FrameSize {
  int32_t width = 0;
  int32_t height = 0;
  friend bool operator==(const FrameSize&, const FrameSize&) = default;
};

struct VideoFormatLimits {
  bool even_sides = false;        // 4:2:0 chroma needs both sides even
  int32_t max_side = 0;           // 0: no limit of its own (the image's own limit is far below)
  int64_t max_pixels = 0;         // 0: no limit
  const char* limit_reason = "";  // why the limit is there, for the note
};

// The format that out's name asks for. Throws VideoError naming out and listing the known
// endings when it asks for none of them.
VideoFormat video_format_for(const std::filesystem::path& out);

// "H.264", "VP9", "FFV1", "PNG"
const char* video_format_name(VideoFormat format);
VideoFormatLimits video_format_limits(VideoFormat format);

struct FrameSizeChoice {
  FrameSize size;
  std::string note;  // empty, or one line saying the size was capped and why
};

// The frame size for an image of `image` pixels in `format`, fitted inside `box` when one is given.
// Throws VideoError naming out when the image or the box has a side of zero or less.
FrameSizeChoice choose_frame_size(const std::filesystem::path& out, FrameSize image,
                                  std::optional<FrameSize> box, VideoFormat format);

}  // namespace tarvo
