// libFuzzer target: any bytes as an event script. Parsing either gives events or a ScriptError;
// every event it gives formats to a line that parses back to the same event.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "script/event_script.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const auto events = tarvo::parse_script_text(text, "fuzz.tvs");
    for (const auto& event : events) {
      const std::string line = tarvo::format_event(event);
      const auto again = tarvo::parse_script_text(line + "\n", "again.tvs");
      if (again.size() != 1 || tarvo::format_event(again[0]) != line) std::abort();
    }
  } catch (const tarvo::ScriptError&) {
  }
  return 0;
}
