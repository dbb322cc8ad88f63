// The output's format from its name, and the frame size each format takes.

#include "timelapse/video_format.h"

#include <gtest/gtest.h>

#include "timelapse/video_error.h"

namespace tarvo {
namespace {

TEST(VideoFormat, TheNamesEndingChoosesTheFormat) {
  EXPECT_EQ(video_format_for("a/paint.mp4"), VideoFormat::H264Mp4);
  EXPECT_EQ(video_format_for("paint.WebM"), VideoFormat::Vp9Webm);
  EXPECT_EQ(video_format_for("paint.mkv"), VideoFormat::Ffv1Mkv);
  EXPECT_EQ(video_format_for("frames/"), VideoFormat::PngFolder);
}

TEST(VideoFormat, AnUnknownEndingIsRefusedWithTheKnownOnes) {
  for (const char* name : {"paint.avi", "paint", "frames"}) {
    try {
      video_format_for(name);
      ADD_FAILURE() << name << " was accepted";
    } catch (const VideoError& error) {
      const std::string message = error.what();
      EXPECT_EQ(message.rfind(std::string("cannot write ") + name + ": unknown video format", 0),
                0u)
          << message;
      for (const char* known : {".mp4", ".webm", ".mkv", "/"}) {
        EXPECT_NE(message.find(known), std::string::npos) << message;
      }
    }
  }
}

FrameSize size_for(FrameSize image, std::optional<FrameSize> box, VideoFormat format) {
  return choose_frame_size("out", image, box, format).size;
}

TEST(VideoFormat, FramesFitTheBoxKeepingTheAspectRatio) {
  EXPECT_EQ(size_for({64, 48}, std::nullopt, VideoFormat::Ffv1Mkv), (FrameSize{64, 48}));
  EXPECT_EQ(size_for({64, 48}, FrameSize{40, 40}, VideoFormat::Ffv1Mkv), (FrameSize{40, 30}));
  EXPECT_EQ(size_for({48, 64}, FrameSize{40, 40}, VideoFormat::PngFolder), (FrameSize{30, 40}));
  EXPECT_EQ(size_for({32, 24}, FrameSize{1920, 1080}, VideoFormat::Ffv1Mkv),
            (FrameSize{1440, 1080}));
  EXPECT_EQ(size_for({1000, 1}, FrameSize{10, 10}, VideoFormat::PngFolder), (FrameSize{10, 1}));
}

TEST(VideoFormat, YuvFramesHaveEvenSidesOfAtLeastTwo) {
  EXPECT_EQ(size_for({63, 47}, std::nullopt, VideoFormat::H264Mp4), (FrameSize{62, 46}));
  EXPECT_EQ(size_for({1, 1}, std::nullopt, VideoFormat::Vp9Webm), (FrameSize{2, 2}));
  EXPECT_EQ(size_for({63, 47}, std::nullopt, VideoFormat::Ffv1Mkv), (FrameSize{63, 47}));
}

TEST(VideoFormat, FramesBeyondTheCodecsLimitAreCappedWithANote) {
  const FrameSizeChoice wide =
      choose_frame_size("v.mp4", {8192, 2048}, std::nullopt, VideoFormat::H264Mp4);
  EXPECT_EQ(wide.size, (FrameSize{4096, 1024}));
  EXPECT_NE(wide.note.find("the video is 4096 x 1024 instead of 8192 x 2048"), std::string::npos)
      << wide.note;
  const FrameSizeChoice square =
      choose_frame_size("v.mp4", {2000, 2000}, FrameSize{6000, 6000}, VideoFormat::H264Mp4);
  EXPECT_EQ(square.size, (FrameSize{3072, 3072}));
  EXPECT_EQ(size_for({16384, 16}, std::nullopt, VideoFormat::Vp9Webm), (FrameSize{16384, 16}));
  EXPECT_EQ(size_for({16384, 16384}, std::nullopt, VideoFormat::Vp9Webm), (FrameSize{5970, 5970}));
  EXPECT_EQ(choose_frame_size("v.mp4", {4096, 2304}, std::nullopt, VideoFormat::H264Mp4).note, "");
  EXPECT_EQ(choose_frame_size("v.mkv", {16384, 16384}, std::nullopt, VideoFormat::Ffv1Mkv).note,
            "");
}

TEST(VideoFormat, ASizeOfZeroIsRefused) {
  EXPECT_THROW(choose_frame_size("v.mp4", {64, 48}, FrameSize{0, 720}, VideoFormat::H264Mp4),
               VideoError);
  EXPECT_THROW(choose_frame_size("v.mp4", {0, 48}, std::nullopt, VideoFormat::H264Mp4), VideoError);
}

}  // namespace
}  // namespace tarvo
