#pragma once
// The pressure tablet: its set-up and shutdown, and the mapping of each packet to the canvas.
//
// Packets arrive in tablet counts 0..TabletMaxX and 0..TabletMaxY covering the whole screen, with
// y growing upward. Each packet only updates the tablet state; the next pointer event reads it.

#include <cstdint>
#include <string>

#include "core/tablet_device.h"
#include "core/tablet_state.h"

namespace tarvo {

// Where the canvas is: the size in pixels of the screen area the tablet maps onto (the whole
// desktop) and the position of the canvas client origin in it.
struct ScreenGeometry {
  int32_t screen_width = 0, screen_height = 0;
  int32_t client_origin_x = 0, client_origin_y = 0;
};

// The packet fields the program reads.
struct TabletPacket {
  int32_t X = 0, Y = 0;
  int32_t Pressure = 0;
  int32_t Azimuth = 0, Altitude = 0, Twist = 0, Pitch = 0, Roll = 0, Yaw = 0;
};

inline constexpr const char* kTabletContextName = "FirstContext";

// The start values of the tablet state, set when the canvas loads before the set-up.
void reset_tablet_state(TabletState& tablet);

// Opens the tablet context; TabletOn records whether it succeeded. Never throws.
void open_tablet(TabletState& tablet, TabletDevice* device, uintptr_t window);

// Closes the context; errors abandon the remaining steps silently. Never throws.
void close_tablet(TabletDevice* device);

// Maps one packet: the whole tablet onto the whole screen, then relative to the canvas client area.
// A tablet that reports no extent or no maximum pressure cannot move the pen off the screen's edge
// or give a pressure outside 0..1.
void Tablet_PacketArrival(TabletState& tablet, const TabletPacket& packet,
                          const ScreenGeometry& screen, int32_t maximum_pressure);

// IsInContext false (0) takes the pen away, true (-1) brings it near; other values change nothing.
void Tablet_ProximityChange(TabletState& tablet, int16_t IsInContext);

}  // namespace tarvo
