// Recorded pen sessions as pointer events: where presses, drags, lifts and hovers fall, and the
// session file format.

#include "script/session_converter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace tarvo {
namespace {

std::vector<std::string> lines_of(const std::vector<ScriptEvent>& events) {
  std::vector<std::string> lines;
  for (const ScriptEvent& event : events) lines.push_back(format_event(event));
  return lines;
}

std::vector<SessionSample> samples(std::initializer_list<float> pressures) {
  std::vector<SessionSample> result;
  float x = 10.0f;
  for (const float p : pressures) {
    result.push_back({0.01 * static_cast<double>(result.size()), x, x + 0.5f, p});
    x += 1.0f;
  }
  return result;
}

TEST(SessionToPointerEvents, PressDragLiftAndHoverFollowThePressure) {
  const auto events = session_to_pointer_events(samples({0, 0.5f, 0.75f, 0, 0, 0.25f}));
  const std::vector<std::string> expected{
      "Form_MouseMove 0 0 10 10.5",  // hovering before the first touch
      "Form_MouseDown 1 0 11 11.5",  // the first sample that touches
      "Form_MouseMove 1 0 12 12.5",
      "Form_MouseUp 1 0 13 13.5",  // released where the pen lifted
      "Form_MouseMove 0 0 14 14.5", "Form_MouseDown 1 0 15 15.5",
      "Form_MouseUp 1 0 15 15.5",  // still down at the end: released at the last sample
  };
  EXPECT_EQ(lines_of(events), expected);
}

TEST(SessionToPointerEvents, AnEmptyOrHoverOnlySessionPaintsNothing) {
  EXPECT_TRUE(session_to_pointer_events({}).empty());
  for (const ScriptEvent& e : session_to_pointer_events(samples({0, 0, 0}))) {
    EXPECT_EQ(e.verb, Verb::Form_MouseMove);
    EXPECT_EQ(e.int16_arg(0), 0);
  }
}

TEST(SessionToPointerEvents, OffsetButtonAndModifiersApplyToEveryEvent) {
  PointerConversion conversion;
  conversion.offset_x = 100.0f;
  conversion.offset_y = -5.0f;
  conversion.button = 2;
  conversion.shift = 4;
  const auto events = session_to_pointer_events(samples({0.5f, 0}), conversion);
  EXPECT_EQ(lines_of(events),
            (std::vector<std::string>{"Form_MouseDown 2 4 110 5.5", "Form_MouseUp 2 4 111 6.5"}));
}

TEST(SessionFile, ReadsFourNumbersALine) {
  std::istringstream in(
      "0.000000000000000000e+00 2.052445140000000094e+02 2.100344829999999945e+02 0\n"
      "\n"
      "  8.0e-03\t206.5 210.25 0.125 \r\n");
  const auto read = parse_session(in, "s.dat");
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].x, 205.244514f);
  EXPECT_FALSE(read[0].touching());
  EXPECT_DOUBLE_EQ(read[1].time, 0.008);
  EXPECT_EQ(read[1].y, 210.25f);
  EXPECT_TRUE(read[1].touching());
}

TEST(SessionFile, ABadLineIsNamed) {
  for (const char* bad : {"1 2 3", "1 2 3 4 5", "1 2 nan 4", "1 2 three 4", "1 2 1e300 0"}) {
    std::istringstream in(std::string("0 1 2 0\n") + bad + "\n");
    try {
      parse_session(in, "s.dat");
      ADD_FAILURE() << "accepted " << bad;
    } catch (const ScriptError& error) {
      EXPECT_EQ(std::string(error.what()),
                "s.dat:2: expected four finite numbers: time, x, y, pressure");
    }
  }
}

TEST(SessionFile, TheRecordedSessionBecomesBalancedStrokes) {
  const std::string path = TARVO_SHARED_DATA_DIR "/painting30sec.dat";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "shared test data missing: " << path;
  const std::vector<SessionSample> session = read_session_file(path);
  ASSERT_EQ(session.size(), 2937u);
  const std::vector<ScriptEvent> events = session_to_pointer_events(session);
  std::size_t downs = 0, ups = 0, touches = 0;
  for (const ScriptEvent& e : events) {
    downs += e.verb == Verb::Form_MouseDown;
    ups += e.verb == Verb::Form_MouseUp;
  }
  for (std::size_t i = 0; i < session.size(); ++i) {
    touches += session[i].touching() && (i == 0 || !session[i - 1].touching());
  }
  EXPECT_EQ(downs, touches);
  EXPECT_EQ(ups, downs);
  EXPECT_GT(downs, 10u);
  // One event a sample, plus the closing release of a session that ends with the pen down.
  EXPECT_EQ(events.size(), session.size() + (session.back().touching() ? 1 : 0));
}

}  // namespace
}  // namespace tarvo
