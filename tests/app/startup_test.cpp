#include "app/startup.h"

#include <gtest/gtest.h>

#include "app/exchange.h"
#include "canvas/undo_stack.h"
#include "core/program.h"
#include "core/runtime_error.h"
#include "support/fake_canvas_window.h"
#include "support/fake_host.h"

namespace tarvo {
namespace {

using testing::FakeCanvasWindow;
using testing::FakeHost;

struct Started {
  Program program;
  FakeHost* host = nullptr;
  FakeCanvasWindow window{10, 10};
  HostRegistry registry;

  explicit Started(int32_t w = 10, int32_t h = 10) {
    registry.register_host(kHostProgId, [this, w, h] {
      auto made = std::make_unique<FakeHost>(w, h);
      host = made.get();
      return made;
    });
  }
  void start() {
    Main(program, registry, [this](Program&) -> CanvasWindow& { return window; });
  }
};

TEST(Startup, CallsTheHostInOrderAndTakesItsPlanes) {
  Started s(10, 10);
  s.start();
  const std::vector<std::string> expected{
      "Wik_GetPaperWidth", "wik_GetPaperHeight", "Wik_GetPaper",
      "Wik_BufferWidth",   "Wik_BufferHeight",   "Wik_GetRBuffer",
      "Wik_GetGBuffer",    "Wik_GetBBuffer",     "Wik_SendFormObject"};
  EXPECT_EQ(s.host->calls, expected);
  EXPECT_EQ(s.program.canvas.BufferWidth, 10);
  EXPECT_EQ(s.program.canvas.RBuffer(9, 3), 9);
  EXPECT_EQ(s.program.canvas.GPreview(2, 9), 9);
  EXPECT_EQ(s.program.canvas.FXbuffer.columns(), 10);
  EXPECT_EQ(s.program.display.surface.DibInfo.biWidth, 12);
  EXPECT_EQ(s.program.display.AppTitle, kAppTitle);
  EXPECT_EQ(s.program.undo.MaxUndo, 128);
  EXPECT_EQ(s.program.tables.CoverageCurves(255, 0), 82);
  EXPECT_EQ(s.window.shown, 1);
}

TEST(Startup, UnknownProgIdEndsWithError429AndShowsNoWindow) {
  Program program;
  HostRegistry empty;
  FakeCanvasWindow window(4, 4);
  try {
    Main(program, empty, [&](Program&) -> CanvasWindow& { return window; });
    FAIL() << "expected error 429";
  } catch (const RuntimeError& e) {
    EXPECT_EQ(e.number(), 429);
    EXPECT_NE(run_time_error_report(e).find("Run-time error '429':"), std::string::npos);
  }
  EXPECT_EQ(window.shown, 0);
}

TEST(Exchange, SendWritesBackInOrderAndCloseWithTheSameSizeDoesToo) {
  Started s;
  s.start();
  s.host->calls.clear();
  s.program.canvas.RBuffer(1, 1) = 200;
  SendImage(s.program);
  const std::vector<std::string> send{"Wik_SaveUndo", "Wik_SetRbuffer", "Wik_SetGbuffer",
                                      "Wik_SetBbuffer", "wik_Refresh"};
  EXPECT_EQ(s.host->calls, send);
  EXPECT_EQ(s.host->red()(1, 1), 200);

  s.host->calls.clear();
  bool cancel = true;
  Form_Unload(s.program, cancel);
  EXPECT_FALSE(cancel);
  EXPECT_TRUE(s.program.closed_with_image_written);
  EXPECT_EQ(s.host->calls.size(), 7u);  // size check, then the write-back
  EXPECT_FALSE(s.program.display.surface.DibDC);
}

TEST(Exchange, CloseAfterTheHostImageChangedSizeAsksAndNoKeepsTheCanvas) {
  Started s;
  s.start();
  s.host->set_image(12, 10, 0);
  bool cancel = false;
  s.window.answer_yes = false;
  Form_Unload(s.program, cancel);
  EXPECT_TRUE(cancel);
  ASSERT_EQ(s.window.questions.size(), 1u);
  EXPECT_EQ(s.window.questions[0],
            "The image was changed by another program since it was opened: its size is now 12 x "
            "10, the canvas is 10 x 10.\rClose without writing? Your painting is kept in the "
            "recovery folder.");
  EXPECT_TRUE(s.program.display.surface.DibDC);

  s.window.answer_yes = true;
  s.host->calls.clear();
  Form_Unload(s.program, cancel);
  EXPECT_FALSE(cancel);
  for (const std::string& c : s.host->calls) EXPECT_NE(c, "Wik_SetRbuffer");
}

TEST(Exchange, CloseWithAFailingHostStillEndsAndWritesNothingMore) {
  Started s;
  s.start();
  s.host->fail_at = "Wik_SaveUndo";
  bool cancel = true;
  Form_Unload(s.program, cancel);
  EXPECT_FALSE(cancel);
  EXPECT_EQ(s.host->calls.back(), "Wik_SaveUndo");
  EXPECT_FALSE(s.program.display.surface.DibDC);
}

TEST(Exchange, AnImageTheHostCouldNotWriteKeepsTheCanvasOpenOnlyWhenTheUserChoseTo) {
  for (const bool kept_painting : {true, false}) {
    Started s;
    s.start();
    s.host->fail_at = "wik_Refresh";
    s.host->not_written_kept_painting = kept_painting;
    EXPECT_FALSE(SendImage(s.program));  // the canvas goes on; nothing ends the program
    bool cancel = false;
    Form_Unload(s.program, cancel);
    EXPECT_EQ(cancel, kept_painting);
    EXPECT_FALSE(s.program.closed_with_image_written);
    EXPECT_EQ(bool(s.program.display.surface.DibDC), kept_painting);
  }
}

// A host that is gone (GIMP quit, the image closed) raises ImageNotWritten from any call: Get image
// keeps the canvas's picture, and the close ends without writing.
TEST(Exchange, AHostThatIsGoneEndsNothingButTheClose) {
  Started s;
  s.start();
  s.host->not_written_kept_painting = false;
  s.host->fail_at = "Wik_GetRBuffer";
  EXPECT_EQ(GetImage(s.program).rfind("The image was not fetched: not written", 0), 0u);
  EXPECT_TRUE(s.program.undo.empty());  // the canvas keeps its picture
  s.host->fail_at = "Wik_BufferWidth";
  bool cancel = true;
  Form_Unload(s.program, cancel);
  EXPECT_FALSE(cancel);
  EXPECT_FALSE(s.program.closed_with_image_written);
}

TEST(Exchange, GetImageThenUndoRestoresTheStartImage) {
  Started s;
  s.start();
  s.host->set_image(10, 10, 99);
  EXPECT_EQ(GetImage(s.program), "");
  EXPECT_EQ(s.program.canvas.BBuffer(3, 3), 99);
  EXPECT_EQ(s.program.canvas.BPreview(3, 3), 99);
  ASSERT_TRUE(restore_newest(s.program.undo, s.program.canvas));
  EXPECT_EQ(s.program.canvas.BBuffer(3, 3), 0);
  EXPECT_EQ(s.program.canvas.BPreview(3, 3), 0);
}

TEST(Exchange, GetImageOfAnotherSizeIsRefusedAndChangesNothing) {
  Started s;
  s.start();
  s.host->set_image(20, 5, 99);
  EXPECT_EQ(GetImage(s.program),
            "The image was not fetched: it is now 20 x 5 pixels, while the canvas is 10 x 10 "
            "pixels. The canvas keeps its picture.");
  EXPECT_EQ(s.program.canvas.RBuffer.columns(), 11);
  EXPECT_EQ(s.program.canvas.BBuffer(3, 3), 0);
  EXPECT_TRUE(s.program.undo.empty());
}

}  // namespace
}  // namespace tarvo

namespace tarvo {
namespace {

// Every host call fails in turn: start-up reports and shows nothing, the exchanges raise and leave
// the canvas as it was, and the close always ends.
TEST(HostFaults, EveryCallFailingInTurnLosesNothing) {
  const std::vector<std::string> startup{
      "Wik_GetPaperWidth", "wik_GetPaperHeight", "Wik_GetPaper",
      "Wik_BufferWidth",   "Wik_BufferHeight",   "Wik_GetRBuffer",
      "Wik_GetGBuffer",    "Wik_GetBBuffer",     "Wik_SendFormObject"};
  int injected = 0;
  for (const std::string& call : startup) {
    Started s;
    s.registry.register_host(kHostProgId, [&s, call] {
      auto made = std::make_unique<FakeHost>(10, 10);
      made->fail_at = call;
      s.host = made.get();
      return made;
    });
    EXPECT_THROW(s.start(), RuntimeError) << call;
    EXPECT_EQ(s.window.shown, 0) << call;
    ++injected;
  }
  const std::vector<std::string> exchange{
      "Wik_GetRBuffer", "Wik_GetGBuffer", "Wik_GetBBuffer", "Wik_SaveUndo",    "Wik_SetRbuffer",
      "Wik_SetGbuffer", "Wik_SetBbuffer", "wik_Refresh",    "Wik_BufferWidth", "Wik_BufferHeight"};
  for (const std::string& call : exchange) {
    Started s;
    s.start();
    s.program.canvas.RBuffer(2, 2) = 77;
    s.host->fail_at = call;
    bool fetch_failed = false;
    try {
      GetImage(s.program);
    } catch (const RuntimeError&) {
      fetch_failed = true;
    }
    if (fetch_failed) {  // a failed fetch replaces nothing and records nothing
      EXPECT_EQ(s.program.canvas.RBuffer(2, 2), 77) << call;
      EXPECT_TRUE(s.program.undo.empty()) << call;
    }
    try {
      SendImage(s.program);
    } catch (const RuntimeError&) {
    }
    bool cancel = true;
    Form_Unload(s.program, cancel);
    EXPECT_FALSE(cancel) << call;
    EXPECT_FALSE(s.program.display.surface.DibDC) << call;
    injected += 3;
  }
  EXPECT_EQ(injected, 39);
}

}  // namespace
}  // namespace tarvo
