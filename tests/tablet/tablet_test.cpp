#include "tablet/tablet.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace tarvo {
namespace {

struct FakeTablet : TabletDevice {
  std::string fail_at;
  std::vector<std::string> calls;
  int32_t extent = 10000;
  void step(const std::string& name) {
    calls.push_back(name);
    if (name == fail_at) throw std::runtime_error(name);
  }
  void set_option(bool) override { step("option"); }
  void set_window(uintptr_t) override { step("window"); }
  void add_context(const std::string&, bool) override { step("add"); }
  void select_context(const std::string&) override { step("select"); }
  void remove_context(const std::string&) override { step("remove"); }
  void set_connected(bool c) override { step(c ? "connect" : "disconnect"); }
  void set_context_option(int32_t) override { step("context option"); }
  void set_context_enabled(bool e) override { step(e ? "enable" : "disable"); }
  int32_t context_extent_x() override { return step("extent"), extent; }
  int32_t context_extent_y() override { return step("extent"), extent / 2; }
  void set_output_extent_x(int32_t) override { step("output"); }
  void set_output_extent_y(int32_t) override { step("output"); }
  void apply_context() override { step("apply"); }
  int32_t maximum_pressure() override { return 1023; }
};

TEST(TabletSetUp, SucceedsAndReadsTheExtents) {
  TabletState t;
  FakeTablet device;
  open_tablet(t, &device, 1);
  EXPECT_TRUE(t.TabletOn);
  EXPECT_EQ(t.TabletMaxX, 10000);
  EXPECT_EQ(t.TabletMaxY, 5000);
}

TEST(TabletSetUp, AContextErrorIsSwallowedButALaterErrorLeavesTheTabletOff) {
  TabletState t;
  FakeTablet context_fails;
  context_fails.fail_at = "select";
  open_tablet(t, &context_fails, 1);
  EXPECT_TRUE(t.TabletOn);

  FakeTablet apply_fails;
  apply_fails.fail_at = "apply";
  open_tablet(t, &apply_fails, 1);
  EXPECT_FALSE(t.TabletOn);

  open_tablet(t, nullptr, 1);
  EXPECT_FALSE(t.TabletOn);
}

TEST(TabletShutdown, AnErrorAbandonsTheRestSilently) {
  FakeTablet device;
  device.fail_at = "remove";
  close_tablet(&device);
  EXPECT_EQ(device.calls, (std::vector<std::string>{"disable", "remove"}));
}

TEST(PacketMapping, MapsTheWholeTabletOntoTheScreenThenOntoTheCanvas) {
  TabletState t;
  t.TabletMaxX = 10000;
  t.TabletMaxY = 10000;
  const ScreenGeometry screen{1024, 768, 100, 50};
  Tablet_PacketArrival(t, TabletPacket{5000, 10000, 0}, screen, 1023);
  EXPECT_FLOAT_EQ(t.TabletX, 411.5f);         // 512 - 100 - 0.5
  EXPECT_FLOAT_EQ(t.TabletY, 0 - 50 - 0.5f);  // y at the maximum is the top of the screen
  Tablet_PacketArrival(t, TabletPacket{0, 0, 0}, screen, 1023);
  EXPECT_FLOAT_EQ(t.TabletX, -100.5f);          // the left edge
  EXPECT_FLOAT_EQ(t.TabletY, 768 - 50 - 0.5f);  // y 0 is the bottom of the screen
}

TEST(PacketMapping, PressureIsTheRawValueOverTheMaximum) {
  TabletState t;
  t.TabletMaxX = t.TabletMaxY = 100;
  const ScreenGeometry screen{100, 100, 0, 0};
  Tablet_PacketArrival(t, TabletPacket{1, 1, 1024}, screen, 1024);
  EXPECT_FLOAT_EQ(t.CurrentPressure, 1.0f);
  Tablet_PacketArrival(t, TabletPacket{1, 1, 512}, screen, 1024);
  EXPECT_FLOAT_EQ(t.CurrentPressure, 0.5f);
  TabletPacket eraser{1, 1, 512};
  eraser.Altitude = -450;
  Tablet_PacketArrival(t, eraser, screen, 1024);
  EXPECT_FLOAT_EQ(t.PenAltitude, -450.0f);
}

TEST(PacketMapping, ATabletWithoutExtentsOrMaximumGivesFiniteValues) {
  TabletState t;  // extents 0
  Tablet_PacketArrival(t, TabletPacket{500, 500, 7}, ScreenGeometry{800, 600, 0, 0}, 0);
  EXPECT_FLOAT_EQ(t.TabletX, -0.5f);
  EXPECT_FLOAT_EQ(t.TabletY, 599.5f);
  EXPECT_FLOAT_EQ(t.CurrentPressure, 1.0f);
}

TEST(Proximity, OnlyTrueAndFalseChangeIt) {
  TabletState t;
  Tablet_ProximityChange(t, -1);
  EXPECT_TRUE(t.PenInProximity);
  Tablet_ProximityChange(t, 1);
  EXPECT_TRUE(t.PenInProximity);
  Tablet_ProximityChange(t, 0);
  EXPECT_FALSE(t.PenInProximity);
}

}  // namespace
}  // namespace tarvo
