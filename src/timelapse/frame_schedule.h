#pragma once
// Which moments of a painting a time-lapse video shows. A painting is replayed input by input; the
// schedule says after how many inputs each frame of the video is taken, so the caller replays the
// inputs in order and takes a frame each time the count of applied inputs reaches the schedule's
// next entry. Nothing here knows about images or encoders.
//
// The video is meant to last `seconds` at `fps` frames a second: fps * seconds frames spread
// evenly over the inputs. A painting with fewer strokes than that gets one frame after each
// stroke's end instead, and its video is shorter. Either way the last frame shows the finished
// painting (all inputs applied), and hold_frames copies of it follow, so the result stays on
// screen for `hold_seconds`.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarvo {

struct TimelapseTiming {
  int fps = 30;               // frames a second, 1 to kMaxTimelapseFps
  double seconds = 30.0;      // the length the painting's frames aim at, above 0
  double hold_seconds = 1.0;  // how long the finished painting stays, 0 or more
};

constexpr int kMaxTimelapseFps = 240;
constexpr double kMaxTimelapseSeconds = 24.0 * 3600.0;

// Empty when the timing can make a video; otherwise one line saying which value is out of range,
// for the command line to print before it exits. schedule_frames expects a timing that passed.
std::string timelapse_timing_error(const TimelapseTiming& timing);

struct FrameSchedule {
  // For each frame in order, the number of inputs applied before it is taken: strictly ascending,
  // the last equal to the input count. A painting of no inputs has one frame, of the image as it
  // was opened (0).
  std::vector<int64_t> inputs_before_frame;
  // Further copies of the last frame, round(fps * hold_seconds).
  int64_t hold_frames = 0;

  int64_t total_frames() const {
    return static_cast<int64_t>(inputs_before_frame.size()) + hold_frames;
  }
};

// input_count: the inputs of the painting. releases: the 0-based indices of the inputs that end a
// stroke, ascending, each below input_count.
FrameSchedule schedule_frames(int64_t input_count, std::span<const int64_t> releases,
                              const TimelapseTiming& timing);

}  // namespace tarvo
