// Which inputs of a painting a time-lapse frame follows: spread evenly, one a stroke, the finished
// painting held.

#include "timelapse/frame_schedule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace tarvo {
namespace {

std::vector<int64_t> every(int64_t step, int64_t count) {
  std::vector<int64_t> releases;
  for (int64_t i = 1; i <= count; ++i) releases.push_back(i * step - 1);
  return releases;
}

// The frames are strictly ascending, end after the last input, and their steps differ by at most
// one input.
void expect_even_spread(const std::vector<int64_t>& frames, int64_t input_count) {
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.back(), input_count);
  int64_t previous = 0, shortest = std::numeric_limits<int64_t>::max(), longest = 0;
  for (int64_t frame : frames) {
    shortest = std::min(shortest, frame - previous);
    longest = std::max(longest, frame - previous);
    previous = frame;
  }
  EXPECT_GE(shortest, 1);
  EXPECT_LE(longest - shortest, 1);
}

TEST(FrameSchedule, ManyStrokesSpreadTheFramesEvenlyOverTheInputs) {
  const std::vector<int64_t> releases = every(10, 1000);
  const FrameSchedule schedule = schedule_frames(10000, releases, {30, 10.0, 1.0});
  EXPECT_EQ(schedule.inputs_before_frame.size(), 300u);
  expect_even_spread(schedule.inputs_before_frame, 10000);
  EXPECT_EQ(schedule.hold_frames, 30);
  EXPECT_EQ(schedule.total_frames(), 330);
}

TEST(FrameSchedule, AsManyStrokesAsFramesStillSpreadEvenly) {
  const std::vector<int64_t> releases = every(7, 30);
  const FrameSchedule schedule = schedule_frames(211, releases, {10, 3.0, 0.0});
  EXPECT_EQ(schedule.inputs_before_frame.size(), 30u);
  expect_even_spread(schedule.inputs_before_frame, 211);
}

TEST(FrameSchedule, FewStrokesGetAFrameAfterEachReleaseAndOneOfTheFinishedPainting) {
  const std::vector<int64_t> releases = {9, 49, 79};
  const FrameSchedule schedule = schedule_frames(100, releases, {});
  EXPECT_EQ(schedule.inputs_before_frame, (std::vector<int64_t>{10, 50, 80, 100}));
  EXPECT_EQ(schedule.hold_frames, 30);
}

TEST(FrameSchedule, AReleaseAtTheLastInputIsTheLastFrameOnce) {
  const std::vector<int64_t> releases = {3, 7};
  EXPECT_EQ(schedule_frames(8, releases, {}).inputs_before_frame, (std::vector<int64_t>{4, 8}));
}

TEST(FrameSchedule, EmptyAndSingleInputPaintingsHaveOneFrame) {
  EXPECT_EQ(schedule_frames(0, {}, {}).inputs_before_frame, (std::vector<int64_t>{0}));
  EXPECT_EQ(schedule_frames(1, {}, {}).inputs_before_frame, (std::vector<int64_t>{1}));
  const std::vector<int64_t> release = {0};
  EXPECT_EQ(schedule_frames(1, release, {}).inputs_before_frame, (std::vector<int64_t>{1}));
  // Inputs but no stroke (a resize, a key): the finished image alone.
  EXPECT_EQ(schedule_frames(5, {}, {}).inputs_before_frame, (std::vector<int64_t>{5}));
}

TEST(FrameSchedule, TheHoldIsRoundedToWholeFrames) {
  EXPECT_EQ(schedule_frames(4, {}, {30, 30.0, 0.0}).hold_frames, 0);
  EXPECT_EQ(schedule_frames(4, {}, {30, 30.0, 0.51}).hold_frames, 15);
  EXPECT_EQ(schedule_frames(4, {}, {24, 30.0, 2.0}).hold_frames, 48);
}

TEST(FrameSchedule, ASpreadOverAHugeInputCountDoesNotOverflow) {
  const int64_t inputs = 3'000'000'000'000'000'000;
  const std::vector<int64_t> releases = every(inputs / 20000, 20000);
  const FrameSchedule schedule = schedule_frames(inputs, releases, {10, 1000.0, 0.0});
  EXPECT_EQ(schedule.inputs_before_frame.size(), 10000u);
  expect_even_spread(schedule.inputs_before_frame, inputs);
}

TEST(FrameSchedule, TimingsOutOfRangeAreRefusedWithTheValue) {
  EXPECT_EQ(timelapse_timing_error({}), "");
  EXPECT_EQ(timelapse_timing_error({0, 30.0, 1.0}),
            "frame rate 0: must be from 1 to 240 frames a second");
  EXPECT_NE(timelapse_timing_error({241, 30.0, 1.0}), "");
  EXPECT_EQ(timelapse_timing_error({30, 0.0, 1.0}).rfind("video length 0 s:", 0), 0u);
  EXPECT_NE(timelapse_timing_error({30, -2.0, 1.0}), "");
  EXPECT_NE(timelapse_timing_error({30, std::numeric_limits<double>::quiet_NaN(), 1.0}), "");
  EXPECT_EQ(timelapse_timing_error({30, 30.0, -1.0}).rfind("hold -1 s:", 0), 0u);
  EXPECT_EQ(timelapse_timing_error({30, 30.0, 0.0}), "");
}

}  // namespace
}  // namespace tarvo
