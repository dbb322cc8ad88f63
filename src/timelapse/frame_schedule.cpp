#include "timelapse/frame_schedule.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <sstream>

namespace tarvo {
namespace {

std::string describe(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

// The frames that make the painting last timing.seconds, at least one.
int64_t target_frames(const TimelapseTiming& timing) {
  return std::max<int64_t>(1, std::llround(timing.fps * timing.seconds));
}

// One frame after each stroke's end, then one of the finished painting unless the last stroke
// ended with the last input.
std::vector<int64_t> frames_at_releases(int64_t input_count, std::span<const int64_t> releases) {
  std::vector<int64_t> frames;
  frames.reserve(releases.size() + 1);
  for (int64_t release : releases) {
    assert(release >= 0 && release < input_count && "a release lies outside the inputs");
    assert((frames.empty() || release + 1 > frames.back()) && "releases are not ascending");
    frames.push_back(release + 1);
  }
  if (frames.empty() || frames.back() != input_count) frames.push_back(input_count);
  return frames;
}

// frame_count frames over input_count inputs (frame_count <= input_count): frame k of 1 ..
// frame_count comes after ceil(k * input_count / frame_count) inputs, so the steps differ by at
// most one input and the last frame comes after the last input. The product is split into
// quotient and remainder so that it cannot overflow.
std::vector<int64_t> frames_spread_evenly(int64_t input_count, int64_t frame_count) {
  assert(frame_count >= 1 && frame_count <= input_count);
  const int64_t whole = input_count / frame_count;
  const int64_t rest = input_count % frame_count;
  std::vector<int64_t> frames(static_cast<std::size_t>(frame_count));
  for (int64_t k = 1; k <= frame_count; ++k) {
    frames[static_cast<std::size_t>(k - 1)] =
        k * whole + (k * rest + frame_count - 1) / frame_count;
  }
  return frames;
}

}  // namespace

std::string timelapse_timing_error(const TimelapseTiming& timing) {
  if (timing.fps < 1 || timing.fps > kMaxTimelapseFps) {
    return "frame rate " + std::to_string(timing.fps) + ": must be from 1 to " +
           std::to_string(kMaxTimelapseFps) + " frames a second";
  }
  if (!(timing.seconds > 0.0) || timing.seconds > kMaxTimelapseSeconds) {
    return "video length " + describe(timing.seconds) + " s: must be above 0 and at most " +
           describe(kMaxTimelapseSeconds) + " s";
  }
  if (!(timing.hold_seconds >= 0.0) || timing.hold_seconds > kMaxTimelapseSeconds) {
    return "hold " + describe(timing.hold_seconds) + " s: must be from 0 to " +
           describe(kMaxTimelapseSeconds) + " s";
  }
  return {};
}

FrameSchedule schedule_frames(int64_t input_count, std::span<const int64_t> releases,
                              const TimelapseTiming& timing) {
  assert(input_count >= 0 && "a negative input count");
  assert(timelapse_timing_error(timing).empty() && "the timing was not checked");
  FrameSchedule schedule;
  const int64_t wanted = target_frames(timing);
  const auto strokes = static_cast<int64_t>(releases.size());
  schedule.inputs_before_frame =
      strokes < wanted ? frames_at_releases(input_count, releases)
                       : frames_spread_evenly(input_count, std::min(wanted, input_count));
  schedule.hold_frames = std::llround(timing.fps * timing.hold_seconds);
  return schedule;
}

}  // namespace tarvo
