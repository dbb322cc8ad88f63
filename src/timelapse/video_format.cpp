#include "timelapse/video_format.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include "timelapse/video_error.h"

namespace tarvo {
namespace {

// The largest frame of H.264 level 5.1 (4096 x 2304 and the like), which hardware decoders of
// phones, televisions and browsers play; libx264 itself takes up to 16384 a side.
constexpr int64_t kH264MaxPixels = 36864 * 256;
// VP9 level 6 (8192 x 4352 and the like); libvpx takes up to 16384 a side.
constexpr int64_t kVp9MaxPixels = 35651584;

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string describe(FrameSize size) {
  return std::to_string(size.width) + " x " + std::to_string(size.height);
}

// The largest size of image's aspect ratio inside box: the side that binds takes the box's side,
// the other is rounded to the nearest pixel, at least 1 and within the box.
FrameSize fit_inside(FrameSize image, FrameSize box) {
  const int64_t w = image.width, h = image.height;
  if (w * box.height >= h * box.width) {
    const int64_t other = (h * box.width * 2 + w) / (w * 2);
    return {box.width, static_cast<int32_t>(std::clamp<int64_t>(other, 1, box.height))};
  }
  const int64_t other = (w * box.height * 2 + h) / (h * 2);
  return {static_cast<int32_t>(std::clamp<int64_t>(other, 1, box.width)), box.height};
}

// size scaled down, keeping its aspect ratio, until it has at most max_pixels pixels.
FrameSize fit_pixels(FrameSize size, int64_t max_pixels) {
  const double pixels = static_cast<double>(size.width) * size.height;
  if (pixels <= static_cast<double>(max_pixels)) return size;
  const double scale = std::sqrt(static_cast<double>(max_pixels) / pixels);
  return {std::max(1, static_cast<int32_t>(size.width * scale)),
          std::max(1, static_cast<int32_t>(size.height * scale))};
}

FrameSize round_to_even(FrameSize size) {
  return {std::max(2, size.width & ~1), std::max(2, size.height & ~1)};
}

// size within the format's own limits.
FrameSize apply_limits(FrameSize size, const VideoFormatLimits& limits) {
  if (limits.max_side > 0 && (size.width > limits.max_side || size.height > limits.max_side)) {
    size = fit_inside(
        size, {std::min(size.width, limits.max_side), std::min(size.height, limits.max_side)});
  }
  if (limits.max_pixels > 0) size = fit_pixels(size, limits.max_pixels);
  return limits.even_sides ? round_to_even(size) : size;
}

}  // namespace

VideoFormat video_format_for(const std::filesystem::path& out) {
  const std::string& name = out.native();
  if (!name.empty() && name.back() == '/') return VideoFormat::PngFolder;
  const std::string suffix = lower(out.extension().string());
  if (suffix == ".mp4") return VideoFormat::H264Mp4;
  if (suffix == ".webm") return VideoFormat::Vp9Webm;
  if (suffix == ".mkv") return VideoFormat::Ffv1Mkv;
  throw VideoError("cannot write " + name + ": unknown video format \"" + suffix +
                   "\"; known: .mp4 (H.264), .webm (VP9), .mkv (lossless FFV1), "
                   "or a name ending in / for a folder of PNG frames");
}

const char* video_format_name(VideoFormat format) {
  switch (format) {
    case VideoFormat::H264Mp4:
      return "H.264";
    case VideoFormat::Vp9Webm:
      return "VP9";
    case VideoFormat::Ffv1Mkv:
      return "FFV1";
    case VideoFormat::PngFolder:
      return "PNG";
  }
  return "";
}

VideoFormatLimits video_format_limits(VideoFormat format) {
  switch (format) {
    case VideoFormat::H264Mp4:
      return {true, 4096, kH264MaxPixels, "the largest that players decode (level 5.1)"};
    case VideoFormat::Vp9Webm:
      return {true, 16384, kVp9MaxPixels, "the largest of VP9 level 6"};
    case VideoFormat::Ffv1Mkv:
    case VideoFormat::PngFolder:
      return {};
  }
  return {};
}

FrameSizeChoice choose_frame_size(const std::filesystem::path& out, FrameSize image,
                                  std::optional<FrameSize> box, VideoFormat format) {
  if (image.width <= 0 || image.height <= 0) {
    throw VideoError("cannot write " + out.native() + ": the image is " + describe(image) +
                     " pixels");
  }
  if (box && (box->width <= 0 || box->height <= 0)) {
    throw VideoError("cannot write " + out.native() + ": frame size " + describe(*box) +
                     ": both sides must be at least 1");
  }
  const FrameSize wanted = box ? fit_inside(image, *box) : image;
  const VideoFormatLimits limits = video_format_limits(format);
  const FrameSize uncapped = limits.even_sides ? round_to_even(wanted) : wanted;
  FrameSizeChoice choice{apply_limits(wanted, limits), {}};
  if (choice.size != uncapped) {
    choice.note = out.native() + ": " + video_format_name(format) + " frames are at most " +
                  std::to_string(limits.max_side) + " pixels a side and " +
                  std::to_string(limits.max_pixels) + " pixels in all, " + limits.limit_reason +
                  "; the video is " + describe(choice.size) + " instead of " + describe(uncapped);
  }
  return choice;
}

}  // namespace tarvo
