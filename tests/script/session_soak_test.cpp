// The recorded session replayed ten times in a row through the handlers: every run gives the same
// pixels, and memory stays flat after the first.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "render/render_fixture.h"
#include "script/session_converter.h"
#include "stroke/stroke_capture.h"

namespace tarvo {
namespace {

long resident_kb() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4;
}

void replay(Program& p, const std::vector<ScriptEvent>& events) {
  for (const ScriptEvent& e : events) {
    float x = e.single_arg(2), y = e.single_arg(3);
    const int16_t b = e.int16_arg(0), s = e.int16_arg(1);
    if (e.verb == Verb::Form_MouseDown) Form_MouseDown(p, b, s, x, y);
    if (e.verb == Verb::Form_MouseMove) Form_MouseMove(p, b, s, x, y);
    if (e.verb == Verb::Form_MouseUp) Form_MouseUp(p, b, s, x, y);
  }
}

TEST(SessionSoak, TenReplaysGiveIdenticalPixelsAndFlatMemory) {
  const std::string path = TARVO_SHARED_DATA_DIR "/painting30sec.dat";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "shared test data missing: " << path;
  const std::vector<ScriptEvent> events = session_to_pointer_events(read_session_file(path));
  Program p;
  testing::prepare_program(p, 1024, 1024);
  p.brush.BrushSize = 8;
  uint64_t first = 0;
  long after_first = 0;
  for (int run = 0; run < 10; ++run) {
    p.canvas.RBuffer.fill(255);
    p.canvas.GBuffer.fill(255);
    p.canvas.BBuffer.fill(255);
    copy_to_previews(p.canvas);
    p.undo.records.clear();
    p.undo.bytes_held = 0;
    p.dabs = DabLineState{};
    replay(p, events);
    const uint64_t hash = testing::committed_hash(p.canvas);
    if (run == 0) first = hash;
    if (run == 1) after_first = resident_kb();  // the first two runs warm the allocator up
    EXPECT_EQ(hash, first) << "run " << run;
  }
#if defined(__SANITIZE_ADDRESS__)
  // AddressSanitizer holds freed memory in quarantine, so the resident size says nothing here.
  (void)after_first;
#else
  EXPECT_LT(resident_kb() - after_first, 8 * 1024) << "resident memory grew between runs";
#endif
}

}  // namespace
}  // namespace tarvo
