#pragma once
// What the last tablet packet left for the pointer handlers and the renderer.

#include <cstdint>

namespace tarvo {

struct TabletState {
  bool TabletOn = false;
  bool PenInProximity = false;
  float TabletX = 0.0f, TabletY = 0.0f;  // canvas client pixels, fractional
  float CurrentPressure = 1.0f;          // 0..1
  float PenAzimuth = 0.0f, PenAltitude = 0.0f, PenTwist = 0.0f;
  float PenPitch = 0.0f, PenRoll = 0.0f, PenYaw = 0.0f;
  int32_t TabletMaxX = 0, TabletMaxY = 0;
};

}  // namespace tarvo
