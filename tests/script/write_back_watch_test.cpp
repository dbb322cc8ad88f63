// The replay's view of the write-back: a write the close sequence swallowed is still seen.

#include "script/write_back_watch.h"

#include <gtest/gtest.h>

#include "app/exchange.h"
#include "app/startup.h"
#include "support/fake_canvas_window.h"
#include "support/fake_host.h"

namespace tarvo {
namespace {

using testing::FakeCanvasWindow;
using testing::FakeHost;

struct Watched {
  Program program;
  FakeCanvasWindow window{8, 8};
  FakeHost* host = nullptr;
  std::shared_ptr<WriteBackReport> report = std::make_shared<WriteBackReport>();

  explicit Watched(const std::string& fail_at = {}) {
    HostRegistry registry;
    watch_write_back(
        registry,
        [this, fail_at] {
          auto made = std::make_unique<FakeHost>(8, 8);
          made->fail_at = fail_at;
          host = made.get();
          return made;
        },
        report);
    Main(program, registry, [this](Program&) -> CanvasWindow& { return window; });
  }
};

TEST(WriteBackWatch, ASuccessfulCloseIsReportedWritten) {
  Watched w;
  EXPECT_FALSE(w.report->attempted);
  bool cancel = true;
  Form_Unload(w.program, cancel);
  EXPECT_FALSE(cancel);
  EXPECT_TRUE(w.report->attempted);
  EXPECT_TRUE(w.report->written);
  EXPECT_EQ(w.host->calls.back(), "wik_Refresh");
}

TEST(WriteBackWatch, AFailureTheCloseSwallowsIsStillReported) {
  for (const char* failing : {"Wik_SaveUndo", "Wik_SetGbuffer", "wik_Refresh"}) {
    Watched w(failing);
    bool cancel = true;
    Form_Unload(w.program, cancel);
    EXPECT_FALSE(cancel) << failing;
    EXPECT_TRUE(w.report->attempted) << failing;
    EXPECT_FALSE(w.report->written) << failing;
    EXPECT_EQ(w.report->error, std::string("host failed at ") + failing);
  }
}

TEST(WriteBackWatch, ALaterWriteBackStartsAFreshReport) {
  Watched w("wik_Refresh");
  EXPECT_THROW(SendImage(w.program), RuntimeError);
  EXPECT_FALSE(w.report->error.empty());
  w.host->fail_at.clear();
  SendImage(w.program);
  EXPECT_TRUE(w.report->written);
  EXPECT_TRUE(w.report->error.empty());
}

}  // namespace
}  // namespace tarvo
