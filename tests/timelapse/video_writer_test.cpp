// Videos written from RGB planes, read back with FFmpeg's own ffprobe and ffmpeg programs: the
// codec, pixel format, size, frame count and length each format promises, the lossless formats'
// exact bytes, and that a refused, failed or cancelled video leaves nothing behind.

#include "timelapse/video_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace tarvo {
namespace {

namespace fs = std::filesystem;

// The output of a shell command, or nullopt when it fails.
std::optional<std::string> run(const std::string& command) {
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string output;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, n);
  if (::pclose(pipe) != 0) return std::nullopt;
  return output;
}

bool have_ffmpeg_programs() {
  return run("command -v ffprobe >/dev/null && command -v ffmpeg >/dev/null").has_value();
}

// One frame of the image: three planes with a pattern that every frame changes and that no
// lossy step would keep.
struct TestFrame {
  int32_t width, height;
  std::vector<uint8_t> r, g, b;

  TestFrame(int32_t w, int32_t h, int seed) : width(w), height(h), r(w * h), g(w * h), b(w * h) {
    uint32_t noise = 2463534242u + seed;
    for (int32_t i = 0; i < w * h; ++i) {
      noise ^= noise << 13, noise ^= noise >> 17, noise ^= noise << 5;
      r[i] = static_cast<uint8_t>(i % w * 4 + seed * 16);
      g[i] = static_cast<uint8_t>(i / w * 5);
      b[i] = static_cast<uint8_t>(noise);
    }
  }
  RgbPlanes planes() const { return {r.data(), g.data(), b.data(), width, height, width}; }
  // The frame as packed RGB, as ffmpeg decodes it to rgb24.
  std::string packed() const {
    std::string bytes;
    for (std::size_t i = 0; i < r.size(); ++i) bytes += {char(r[i]), char(g[i]), char(b[i])};
    return bytes;
  }
};

class VideoWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!have_ffmpeg_programs()) GTEST_SKIP() << "ffprobe or ffmpeg missing (package ffmpeg)";
    char pattern[] = "/tmp/tarvo-video-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    if (!folder_.empty()) fs::remove_all(folder_);
  }

  // The names in the test's folder.
  std::vector<std::string> listing() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_)) {
      names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  // Frames 0 .. count-1 of 64 x 48, the last shown `hold` times.
  std::vector<TestFrame> write_video(const fs::path& out, int count, int hold,
                                     const VideoOptions& options = {10, std::nullopt}) {
    std::vector<TestFrame> frames;
    const bool existed = fs::exists(out);
    VideoWriter writer(out, {64, 48}, options);
    for (int i = 0; i < count; ++i) {
      frames.emplace_back(64, 48, i);
      writer.add_frame(frames.back().planes(), i + 1 == count ? hold : 1);
    }
    EXPECT_EQ(fs::exists(out), existed) << "the output appeared before it was finished";
    writer.finish();
    return frames;
  }

  std::string probe(const fs::path& input, const std::string& entries) {
    return run("ffprobe -v error -count_frames -select_streams v:0 -show_entries " + entries +
               " -of default=noprint_wrappers=1 '" + input.native() + "'")
        .value_or("ffprobe failed");
  }

  fs::path folder_;
};

struct FormatCase {
  const char* name;
  const char* codec;
  const char* pixel_format;
};

class VideoWriterFormats : public VideoWriterTest,
                           public ::testing::WithParamInterface<FormatCase> {};

TEST_P(VideoWriterFormats, TheVideoHasItsCodecSizeFrameCountAndLength) {
  const fs::path out = folder_ / GetParam().name;
  write_video(out, 5, 3);
  EXPECT_EQ(listing(), (std::vector<std::string>{GetParam().name}));
  EXPECT_EQ(probe(out, "stream=codec_name,pix_fmt,width,height,nb_read_frames"),
            std::string("codec_name=") + GetParam().codec + "\nwidth=64\nheight=48\npix_fmt=" +
                GetParam().pixel_format + "\nnb_read_frames=7\n");
  const std::string duration = probe(out, "format=duration");
  EXPECT_NEAR(std::atof(duration.substr(duration.find('=') + 1).c_str()), 0.7, 0.0011) << duration;
}

INSTANTIATE_TEST_SUITE_P(EachContainer, VideoWriterFormats,
                         ::testing::Values(FormatCase{"paint.mp4", "h264", "yuv420p"},
                                           FormatCase{"paint.webm", "vp9", "yuv420p"},
                                           FormatCase{"paint.mkv", "ffv1", "bgr0"}),
                         [](const auto& info) { return std::string(info.param.codec); });

TEST_F(VideoWriterTest, Mp4PutsItsIndexBeforeTheFrames) {
  const fs::path out = folder_ / "paint.mp4";
  write_video(out, 3, 1);
  std::ifstream file(out, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(file), {}};
  ASSERT_NE(bytes.find("mdat"), std::string::npos);
  EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
  EXPECT_NE(probe(out, "stream=color_space").find("bt709"), std::string::npos);
}

// The decoded frames, the held one repeated, as ffmpeg turns them into packed RGB.
std::string expected_bytes(const std::vector<TestFrame>& frames, int hold) {
  std::string bytes;
  for (const TestFrame& frame : frames) bytes += frame.packed();
  for (int i = 1; i < hold; ++i) bytes += frames.back().packed();
  return bytes;
}

TEST_F(VideoWriterTest, FfvOneDecodesToTheImagesExactBytes) {
  const fs::path out = folder_ / "paint.mkv";
  const std::vector<TestFrame> frames = write_video(out, 4, 2);
  const std::optional<std::string> decoded =
      run("ffmpeg -v error -i '" + out.native() + "' -f rawvideo -pix_fmt rgb24 -");
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(*decoded == expected_bytes(frames, 2)) << "the decoded frames differ";
}

TEST_F(VideoWriterTest, APngFolderHoldsNumberedFramesOfTheImagesExactBytes) {
  const fs::path out = folder_ / "frames";
  const std::vector<TestFrame> frames = write_video(out.native() + "/", 4, 3);
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(out)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{"frame_000001.png", "frame_000002.png", "frame_000003.png",
                                      "frame_000004.png", "frame_000005.png", "frame_000006.png"}));
  EXPECT_EQ(probe(out / "frame_000001.png", "stream=codec_name,pix_fmt"),
            "codec_name=png\npix_fmt=rgb24\n");
  const std::optional<std::string> decoded =
      run("ffmpeg -v error -i '" + out.native() + "/frame_%06d.png' -f rawvideo -pix_fmt rgb24 -");
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(*decoded == expected_bytes(frames, 3)) << "the decoded frames differ";
}

TEST_F(VideoWriterTest, FramesAreScaledIntoTheBoxAndRoundedToEvenSides) {
  const fs::path out = folder_ / "small.mp4";
  VideoWriter writer(out, {64, 48}, {10, FrameSize{33, 33}});
  EXPECT_EQ(writer.frame_size(), (FrameSize{32, 24}));
  EXPECT_EQ(writer.note(), "");
  writer.add_frame(TestFrame(64, 48, 0).planes());
  writer.finish();
  EXPECT_EQ(probe(out, "stream=width,height"), "width=32\nheight=24\n");
}

TEST_F(VideoWriterTest, RefusedOutputsLeaveNothingWritten) {
  const fs::path plain_file = folder_ / "file";
  std::ofstream(plain_file) << "x";
  fs::create_directory(folder_ / "full");
  std::ofstream(folder_ / "full" / "keep.txt") << "x";
  const std::vector<std::string> before = listing();
  const struct {
    std::string out;
    VideoOptions options;
    std::string says;
  } refusals[] = {
      {(folder_ / "paint.avi").native(), {}, "unknown video format \".avi\""},
      {(folder_ / "missing" / "paint.mp4").native(), {}, "missing does not exist"},
      {(plain_file / "paint.mp4").native(), {}, "file is not a folder"},
      {(folder_ / "full").native() + "/", {}, "the folder is not empty"},
      {(folder_ / "paint.mkv").native(), {30, FrameSize{0, 100}}, "frame size 0 x 100"},
      {(folder_ / "paint.webm").native(), {0, std::nullopt}, "frame rate 0"},
  };
  for (const auto& refusal : refusals) {
    try {
      VideoWriter writer(refusal.out, {64, 48}, refusal.options);
      ADD_FAILURE() << refusal.out << " was accepted";
    } catch (const VideoError& error) {
      const std::string message = error.what();
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
      EXPECT_NE(message.find("cannot write " + fs::path(refusal.out).native()), std::string::npos)
          << message;
      EXPECT_NE(message.find(refusal.says), std::string::npos) << message;
    }
    EXPECT_EQ(listing(), before) << refusal.out;
  }
  EXPECT_EQ(fs::directory_iterator(folder_ / "full")->path().filename(), "keep.txt");
}

TEST_F(VideoWriterTest, ACancelledOrAbandonedVideoLeavesNothingAndAnOldFileUntouched) {
  const fs::path out = folder_ / "paint.mp4";
  std::ofstream(out) << "the old video";
  for (bool cancel : {true, false}) {
    VideoWriter writer(out, {64, 48}, {});
    writer.add_frame(TestFrame(64, 48, 0).planes(), 20);
    EXPECT_EQ(listing().size(), 2u) << "the output and its temporary";
    if (cancel) writer.cancel();
  }
  EXPECT_EQ(listing(), (std::vector<std::string>{"paint.mp4"}));
  std::ifstream file(out);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "the old video");
  const fs::path frames = folder_ / "frames";
  {
    VideoWriter writer(frames.native() + "/", {64, 48}, {});
    writer.add_frame(TestFrame(64, 48, 0).planes(), 3);
    writer.cancel();
    EXPECT_THROW(writer.add_frame(TestFrame(64, 48, 1).planes()), VideoError);
  }
  EXPECT_EQ(listing(), (std::vector<std::string>{"paint.mp4"}));
}

TEST_F(VideoWriterTest, AFinishedVideoReplacesAnOldFile) {
  const fs::path out = folder_ / "paint.mkv";
  std::ofstream(out) << "the old video";
  write_video(out, 2, 1);
  EXPECT_EQ(listing(), (std::vector<std::string>{"paint.mkv"}));
  EXPECT_EQ(probe(out, "stream=codec_name"), "codec_name=ffv1\n");
}

}  // namespace
}  // namespace tarvo
