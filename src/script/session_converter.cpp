#include "script/session_converter.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <fstream>
#include <istream>
#include <limits>
#include <string_view>
#include <system_error>

namespace tarvo {

namespace {

// Four finite numbers separated by white space and nothing else; false otherwise. Read without
// the locale, which the window system may have set to one with a decimal comma.
bool parse_sample(std::string_view text, SessionSample& sample) {
  double values[4];
  std::size_t count = 0;
  std::size_t i = 0;
  for (;;) {
    i = text.find_first_not_of(" \t\r", i);
    if (i == std::string_view::npos) break;
    const std::size_t end = std::min(text.find_first_of(" \t\r", i), text.size());
    if (count == 4) return false;
    double& value = values[count++];
    const auto [stop, error] = std::from_chars(text.data() + i, text.data() + end, value);
    if (error != std::errc() || stop != text.data() + end || !std::isfinite(value)) return false;
    i = end;
  }
  if (count != 4) return false;
  constexpr double kFloatMax = std::numeric_limits<float>::max();
  if (std::fabs(values[1]) > kFloatMax || std::fabs(values[2]) > kFloatMax) return false;
  sample = SessionSample{values[0], static_cast<float>(values[1]), static_cast<float>(values[2]),
                         static_cast<float>(values[3])};
  return true;
}

bool blank(const std::string& text) {
  return text.find_first_not_of(" \t\r") == std::string::npos;
}

// The pen's state from one sample to the next decides the event each sample becomes.
enum class PenStep { Press, Drag, Lift, Hover };

PenStep pen_step(bool was_down, bool touching) {
  if (touching) return was_down ? PenStep::Drag : PenStep::Press;
  return was_down ? PenStep::Lift : PenStep::Hover;
}

ScriptEvent pointer_event(PenStep step, float x, float y, const PointerConversion& c) {
  switch (step) {
    case PenStep::Press:
      return make_event(Verb::Form_MouseDown, {double(c.button), double(c.shift), x, y});
    case PenStep::Drag:
      return make_event(Verb::Form_MouseMove, {double(c.button), double(c.shift), x, y});
    case PenStep::Lift:
      return make_event(Verb::Form_MouseUp, {double(c.button), double(c.shift), x, y});
    case PenStep::Hover:
      break;
  }
  return make_event(Verb::Form_MouseMove, {0.0, double(c.shift), x, y});
}

}  // namespace

std::vector<SessionSample> parse_session(std::istream& in, const std::string& file_name) {
  std::vector<SessionSample> samples;
  std::string text;
  int32_t line = 0;
  while (std::getline(in, text)) {
    ++line;
    if (blank(text)) continue;
    SessionSample sample;
    if (!parse_sample(text, sample)) {
      throw ScriptError(file_name, line, "expected four finite numbers: time, x, y, pressure");
    }
    samples.push_back(sample);
  }
  return samples;
}

std::vector<SessionSample> read_session_file(const std::string& path) {
  std::ifstream in(path);
  if (!in) {
    throw ScriptError(path, 0,
                      "cannot open the session: " + std::generic_category().message(errno));
  }
  return parse_session(in, path);
}

std::vector<ScriptEvent> session_to_pointer_events(std::span<const SessionSample> samples,
                                                   const PointerConversion& conversion) {
  std::vector<ScriptEvent> events;
  events.reserve(samples.size() + 1);
  bool down = false;
  float x = 0.0f, y = 0.0f;
  for (const SessionSample& sample : samples) {
    x = sample.x + conversion.offset_x;
    y = sample.y + conversion.offset_y;
    const PenStep step = pen_step(down, sample.touching());
    events.push_back(pointer_event(step, x, y, conversion));
    down = step == PenStep::Press || step == PenStep::Drag;
  }
  if (down) events.push_back(pointer_event(PenStep::Lift, x, y, conversion));
  return events;
}

}  // namespace tarvo
