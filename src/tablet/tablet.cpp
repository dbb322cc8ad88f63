#include "tablet/tablet.h"

#include <algorithm>
#include <exception>

namespace tarvo {

void reset_tablet_state(TabletState& tablet) {
  tablet = TabletState{};
  tablet.CurrentPressure = 1.0f;
}

namespace {

void set_up_context(TabletDevice& device, uintptr_t window) {
  try {
    device.add_context(kTabletContextName, false);
    device.select_context(kTabletContextName);
    device.set_window(window);
    device.set_connected(true);
    device.set_context_option(32);
    device.set_context_enabled(true);
  } catch (const std::exception&) {
    // A context that cannot be set up this way may still work with the defaults below.
  }
}

}  // namespace

void open_tablet(TabletState& tablet, TabletDevice* device, uintptr_t window) {
  tablet.TabletOn = false;
  if (device == nullptr) return;
  try {
    device->set_option(false);
    device->set_window(window);
    set_up_context(*device, window);
    // Packets arrive in tablet counts: the output extents are the context's own.
    device->set_output_extent_x(device->context_extent_x());
    device->set_output_extent_y(device->context_extent_y());
    device->apply_context();
    device->set_context_enabled(true);
    tablet.TabletMaxX = device->context_extent_x();
    tablet.TabletMaxY = device->context_extent_y();
    tablet.TabletOn = true;
  } catch (const std::exception&) {
    tablet.TabletOn = false;
  }
}

void close_tablet(TabletDevice* device) {
  if (device == nullptr) return;
  try {
    device->set_context_enabled(false);
    device->remove_context(kTabletContextName);
    device->set_connected(false);
  } catch (const std::exception&) {
  }
}

void Tablet_PacketArrival(TabletState& tablet, const TabletPacket& packet,
                          const ScreenGeometry& screen, int32_t maximum_pressure) {
  double sx = 0;
  if (packet.X > 0 && tablet.TabletMaxX > 0) {
    sx = static_cast<double>(packet.X) / tablet.TabletMaxX * screen.screen_width;
  }
  double sy = 0;
  if (packet.Y > 0 && tablet.TabletMaxY > 0) {
    sy = static_cast<double>(packet.Y) / tablet.TabletMaxY * screen.screen_height;
  }
  sy = screen.screen_height - sy;
  tablet.TabletX = static_cast<float>(sx - screen.client_origin_x - 0.5);
  tablet.TabletY = static_cast<float>(sy - screen.client_origin_y - 0.5);
  if (maximum_pressure > 0) {
    tablet.CurrentPressure =
        static_cast<float>(static_cast<double>(packet.Pressure) / maximum_pressure);
  } else {
    tablet.CurrentPressure = 1.0f;
  }
  tablet.PenAzimuth = static_cast<float>(packet.Azimuth);
  tablet.PenAltitude = static_cast<float>(packet.Altitude);
  tablet.PenTwist = static_cast<float>(packet.Twist);
  tablet.PenPitch = static_cast<float>(packet.Pitch);
  tablet.PenRoll = static_cast<float>(packet.Roll);
  tablet.PenYaw = static_cast<float>(packet.Yaw);
}

void Tablet_ProximityChange(TabletState& tablet, int16_t IsInContext) {
  if (IsInContext == 0) tablet.PenInProximity = false;
  if (IsInContext == -1) tablet.PenInProximity = true;
}

}  // namespace tarvo
