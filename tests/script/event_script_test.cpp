// The event-script format: what a script may say, every way a line can be wrong (each named by
// file and line, and nothing returned), and formatting that reads back bit for bit.

#include "script/event_script.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>

namespace tarvo {
namespace {

std::string error_of(std::string_view text, const std::string& name = "test.tvs") {
  try {
    parse_script_text(text, name);
  } catch (const ScriptError& error) {
    return error.what();
  }
  return "no error";
}

TEST(EventScriptParse, ReadsVerbsArgumentsAndLineNumbers) {
  const std::vector<ScriptEvent> events = parse_script_text(
      "\xEF\xBB\xBF# recorded by hand\n"
      "Form_Resize 640 480\n"
      "\n"
      "Form_MouseDown 1 0 120.5 88   # press\r\n"
      "\tForm_MouseMove\t1 0 -3.25 1e3\n"
      "Form_KeyDown 188 0\n"
      "Form_KeyPress 117\n"
      "GetPaperMenu_Click\n"
      "Form_Unload",
      "a.tvs");
  ASSERT_EQ(events.size(), 7u);
  EXPECT_EQ(events[0].verb, Verb::Form_Resize);
  EXPECT_EQ(events[0].int32_arg(0), 640);
  EXPECT_EQ(events[0].line, 2);
  EXPECT_EQ(events[1].verb, Verb::Form_MouseDown);
  EXPECT_EQ(events[1].int16_arg(0), 1);
  EXPECT_EQ(events[1].single_arg(2), 120.5f);
  EXPECT_EQ(events[1].line, 4);
  EXPECT_EQ(events[2].single_arg(2), -3.25f);
  EXPECT_EQ(events[2].single_arg(3), 1000.0f);
  EXPECT_EQ(events[3].int16_arg(0), 188);
  EXPECT_EQ(events[4].int16_arg(0), 'u');
  EXPECT_EQ(events[5].verb, Verb::GetPaperMenu_Click);
  EXPECT_EQ(events[5].arg_count, 0);
  EXPECT_EQ(events[6].verb, Verb::Form_Unload);
  EXPECT_EQ(events[6].line, 9);
}

TEST(EventScriptParse, AcceptsTheExtremesOfEachType) {
  const auto events = parse_script_text(
      "Form_KeyDown -32768 32767\nTablet_Screen -2147483648 2147483647 0 0\n"
      "Form_MouseMove 0 0 3.4028235e38 1e-45\nForm_Resize 1 32767\n",
      "x");
  EXPECT_EQ(events[0].int16_arg(0), -32768);
  EXPECT_EQ(events[1].int32_arg(0), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(events[2].single_arg(2), std::numeric_limits<float>::max());
  EXPECT_EQ(events[2].single_arg(3), std::numeric_limits<float>::denorm_min());
  EXPECT_EQ(events[3].int32_arg(1), 32767);
}

TEST(EventScriptParse, TabletVerbsCarryWholeNumbers) {
  const auto events = parse_script_text(
      "Tablet_Screen 1920 1080 40 60\nTablet_ProximityChange -1\n"
      "Tablet_PacketArrival 15000 9000 512 1023 0 -900 0\n",
      "pen.tvs");
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].int32_arg(3), 60);
  EXPECT_EQ(events[1].int16_arg(0), -1);
  EXPECT_EQ(events[2].int32_arg(5), -900);
  EXPECT_NE(error_of("Tablet_PacketArrival 1 2 0.5 1023 0 0 0\n")
                .find("expected pressure of Tablet_PacketArrival to be a whole number"),
            std::string::npos);
}

struct BadLine {
  const char* line;
  const char* expected;  // what the message must say after "bad.tvs:3: "
};

// Each bad line is the third of a script, after two good ones.
TEST(EventScriptParse, EveryMalformedLineIsNamedAndStopsTheScript) {
  const BadLine cases[] = {
      {"Form_MouseDrag 1 0 1 1",
       "expected a verb such as Form_MouseDown, found \"Form_MouseDrag\""},
      {"form_mousedown 1 0 1 1", "(verbs are case-sensitive: Form_MouseDown)"},
      {"120.5 88", "expected a verb such as Form_MouseDown, found \"120.5\""},
      {"Form_MouseDown 1 0 1",
       "expected 4 arguments after Form_MouseDown (button shift x y), found 3"},
      {"Form_MouseUp 1 0 1 2 3",
       "expected 4 arguments after Form_MouseUp (button shift x y), found 5"},
      {"Form_KeyPress", "expected 1 argument after Form_KeyPress (character), found 0"},
      {"Form_Unload now", "expected nothing after Form_Unload, found 1 argument"},
      {"Form_MouseDown 1 40000 1 1",
       "expected shift of Form_MouseDown to be a whole number from -32768 to 32767, found "
       "\"40000\""},
      {"Form_KeyUp -32769 0", "expected key_code of Form_KeyUp to be a whole number"},
      {"Form_Resize 2147483648 10", "expected width of Form_Resize to be a whole number"},
      // No window has a size of nothing, a negative size or one past what a window system offers.
      {"Form_Resize -800 600",
       "expected width of Form_Resize to be a whole number from 1 to 32767 (no window is "
       "larger), found \"-800\""},
      {"Form_Resize 0 0", "expected width of Form_Resize to be a whole number from 1 to 32767"},
      {"Form_Resize 640 32768", "expected height of Form_Resize to be a whole number from 1"},
      {"Form_Resize -2147483648 -2147483648", "found \"-2147483648\""},
      {"Form_MouseDown 1.5 0 1 1", "button of Form_MouseDown to be a whole number"},
      {"Form_MouseDown 0x1 0 1 1", "button of Form_MouseDown to be a whole number"},
      {"Form_MouseDown 1 0 nan 1",
       "expected x of Form_MouseDown to be a finite number in single-float range, found \"nan\""},
      {"Form_MouseDown 1 0 1 -inf", "expected y of Form_MouseDown to be a finite number"},
      {"Form_MouseMove 1 0 1e39 1", "found \"1e39\""},
      {"Form_MouseMove 1 0 1e-50 1", "found \"1e-50\""},
      {"Form_MouseMove 1 0 12px 1", "found \"12px\""},
      {"Form_MouseMove 1 0 +5 1", "found \"+5\""},
      {"Form_MouseMove 1 0 1,5 1", "found \"1,5\""},
      {"Form_MouseMove 1 0 1\x00 1", "expected text, found byte 0x00 at column 21"},
      {"Form_MouseMove \xC3\xA9 0 1 1", "expected text, found byte 0xC3 at column 16"},
      {"Form_MouseMove 1 0 1 1\r# lone carriage return", "found byte 0x0D"},
      {"\x89PNG\x1A", "expected text, found byte 0x89 at column 1"},
  };
  for (const BadLine& bad : cases) {
    // The NUL case needs its length spelled out.
    const std::string line =
        std::strstr(bad.expected, "0x00") ? std::string(bad.line, 21) + " 1" : bad.line;
    const std::string script = "Form_Resize 10 10\n# fine so far\n" + line + "\nForm_Unload\n";
    const std::string message = error_of(script, "bad.tvs");
    EXPECT_TRUE(message.starts_with("bad.tvs:3: expected")) << line << "\n  gave: " << message;
    EXPECT_NE(message.find(bad.expected), std::string::npos) << line << "\n  gave: " << message;
  }
}

TEST(EventScriptParse, CommentsMayHoldAnyTextButControlBytes) {
  EXPECT_EQ(parse_script_text("Form_Unload # fermé à clé, 100% \t ok\n", "c").size(), 1u);
  EXPECT_NE(
      error_of("Form_Unload # bell \x07\n").find("test.tvs:1: expected text, found byte 0x07"),
      std::string::npos);
}

TEST(EventScriptParse, LineLimitIsInclusive) {
  std::string line = "Form_Unload #";
  line.resize(kMaxLineBytes, 'x');
  EXPECT_EQ(parse_script_text(line + "\r\n" + line, "limit").size(), 2u);
  EXPECT_EQ(error_of("Form_Unload\n" + line + "x\n"),
            "test.tvs:2: expected a line of at most 4096 bytes; this one is longer");
}

// An endless line of one byte, counting how much of it was asked for.
class EndlessLine : public std::streambuf {
 public:
  std::size_t served = 0;

 protected:
  int_type underflow() override {
    buffer_.fill('7');
    served += buffer_.size();
    setg(buffer_.data(), buffer_.data(), buffer_.data() + buffer_.size());
    return traits_type::to_int_type('7');
  }

 private:
  std::array<char, 1024> buffer_{};
};

TEST(EventScriptParse, AHugeLineIsRefusedWithoutReadingItAll) {
  EndlessLine endless;
  std::istream in(&endless);
  EXPECT_THROW(parse_script(in, "huge.tvs"), ScriptError);
  EXPECT_LE(endless.served, kMaxLineBytes + 1024);
}

TEST(EventScriptFile, MissingFileAndDirectoryAreNamed) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  const std::string missing = (dir / "tarvo-no-such-script.tvs").string();
  try {
    read_script_file(missing);
    FAIL() << "a missing script was read";
  } catch (const ScriptError& error) {
    EXPECT_EQ(std::string(error.what()),
              missing + ": cannot open the event script: No such file or directory");
    EXPECT_EQ(error.line(), 0);
  }
  EXPECT_THROW(read_script_file(dir.string()), ScriptError);
}

TEST(EventScriptFormat, WritesIntegersAsIntegersAndFloatsShortest) {
  EXPECT_EQ(format_event(make_event(Verb::Form_MouseDown, {1, 0, 120.5, 88})),
            "Form_MouseDown 1 0 120.5 88");
  EXPECT_EQ(format_event(make_event(Verb::Form_MouseMove, {0, 3, double(0.1f), -0.0})),
            "Form_MouseMove 0 3 0.1 -0");
  EXPECT_EQ(format_line("Form_KeyPress", std::vector<double>{117}), "Form_KeyPress 117");
  EXPECT_EQ(format_line("Form_Unload", {}), "Form_Unload");
  // A verb the table does not know keeps its numbers exactly; reading it back then fails loudly.
  EXPECT_EQ(format_line("Later_Click", std::vector<double>{0.1, 2}), "Later_Click 0.1 2");
  EXPECT_THROW(make_event(Verb::Form_MouseUp, {1, 2}), std::invalid_argument);
}

// Every finite float written as a script writes it reads back as the same bits.
TEST(EventScriptFormat, FloatsRoundTripBitForBit) {
  std::mt19937 random(20240501);
  std::vector<float> values{0.0f,
                            -0.0f,
                            std::numeric_limits<float>::max(),
                            -std::numeric_limits<float>::max(),
                            std::numeric_limits<float>::min(),
                            std::numeric_limits<float>::denorm_min(),
                            120.5f,
                            0.1f,
                            1.0f / 3.0f};
  while (values.size() < 200000) {
    const float f = std::bit_cast<float>(static_cast<uint32_t>(random()));
    if (std::isfinite(f)) values.push_back(f);
  }
  std::string script;
  for (const float f : values) {
    script += format_event(make_event(Verb::Form_MouseMove, {1, 0, f, -f})) + "\n";
  }
  const std::vector<ScriptEvent> events = parse_script_text(script, "round");
  ASSERT_EQ(events.size(), values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    ASSERT_EQ(std::bit_cast<uint32_t>(events[i].single_arg(2)), std::bit_cast<uint32_t>(values[i]))
        << format_event(events[i]);
    ASSERT_EQ(std::bit_cast<uint32_t>(events[i].single_arg(3)),
              std::bit_cast<uint32_t>(-values[i]));
  }
}

TEST(EventScriptFormat, WrittenScriptReadsBackAsTheSameEvents) {
  const std::vector<ScriptEvent> events{
      make_event(Verb::Form_Resize, {1024, 768}),
      make_event(Verb::Form_MouseDown, {1, 7, 10.125f, 20.7f}),
      make_event(Verb::Form_KeyUp, {187, 2}),
      make_event(Verb::GetPaperMenu_Click, {}),
      make_event(Verb::Form_Unload, {}),
  };
  std::ostringstream out;
  write_script(out, events, "two lines\nof header");
  EXPECT_TRUE(out.str().starts_with("# two lines\n# of header\nForm_Resize 1024 768\n"));
  const std::vector<ScriptEvent> back = parse_script_text(out.str(), "back");
  ASSERT_EQ(back.size(), events.size());
  for (std::size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(back[i].verb, events[i].verb);
    EXPECT_EQ(back[i].arg_count, events[i].arg_count);
    EXPECT_EQ(back[i].args, events[i].args);
    EXPECT_EQ(back[i].line, static_cast<int32_t>(i) + 3);
  }
}

}  // namespace
}  // namespace tarvo
