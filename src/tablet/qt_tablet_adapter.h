#pragma once
// The tablet service over Qt's tablet events. Qt delivers pen input as QTabletEvents in window
// coordinates; the adapter turns each into a packet in counts over the whole desktop with y growing
// upward, a raw pressure with its maximum and an altitude that is negative for the eraser end, so
// that the canvas maps it as any tablet's packet.

#include <QTabletEvent>

#include "tablet/tablet.h"

class QScreen;
class QWidget;

namespace tarvo {

class QtTabletDevice : public TabletDevice {
 public:
  // Packet coordinates run 0..kExtent on both axes, whatever the screen's size.
  static constexpr int32_t kExtent = 1 << 20;
  static constexpr int32_t kMaximumPressure = 8192;  // the levels of a common pen

  void set_option(bool) override {}
  void set_window(uintptr_t) override {}
  void add_context(const std::string& name, bool) override { context_ = name; }
  void select_context(const std::string&) override {}
  void remove_context(const std::string&) override { context_.clear(); }
  void set_connected(bool connected) override { connected_ = connected; }
  void set_context_option(int32_t) override {}
  void set_context_enabled(bool enabled) override { enabled_ = enabled; }
  int32_t context_extent_x() override { return kExtent; }
  int32_t context_extent_y() override { return kExtent; }
  void set_output_extent_x(int32_t) override {}
  void set_output_extent_y(int32_t) override {}
  void apply_context() override {}
  int32_t maximum_pressure() override { return kMaximumPressure; }

  bool enabled() const { return enabled_ && connected_; }

 private:
  std::string context_;
  bool connected_ = false;
  bool enabled_ = false;
};

// The pen moves over the whole virtual desktop, every screen included. Its geometry is given in the
// canvas's device pixels, measured from the desktop's top-left corner (which Qt may place at
// negative coordinates), and so is the canvas client origin: packets then map to client pixels
// that match the pointer's, on any screen and at any screen scale.
ScreenGeometry screen_geometry(const QWidget& client);

// A global position (Qt's device-independent pixels) in the canvas's device pixels from the
// virtual desktop's top-left corner.
QPointF device_desktop_position(const QPointF& global, const QWidget& client);

// The packet of a tablet event over the canvas client: position in counts of the whole desktop
// (y upward), pressure out of QtTabletDevice::kMaximumPressure, angles in tenths of a degree; the
// eraser end gives a negative altitude.
TabletPacket packet_from_event(const QTabletEvent& event, const ScreenGeometry& screen,
                               const QWidget& client);

}  // namespace tarvo
