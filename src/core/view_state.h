#pragma once
// The view: Zoom is screen pixels per image pixel, (PanX, PanY) the client position at which image
// pixel (0, 0) is drawn. Image point of a client point (X, Y) = ((X - PanX) / Zoom, (Y - PanY) /
// Zoom); image pixel (x, y) is drawn at (floor(x * Zoom) + PanX, floor(y * Zoom) + PanY).

#include <cstdint>

namespace tarvo {

struct ViewState {
  float Zoom = 1.0f;
  int32_t PanX = 0;
  int32_t PanY = 0;
  // True while the comma key is held: pointer presses pick the image colour.
  bool PickMode = false;
  // What image points are multiplied by: 1 but while strokes are painted again onto an image
  // that was scaled elsewhere, whose sides changed by these ratios.
  double StrokeScaleX = 1.0;
  double StrokeScaleY = 1.0;
};

}  // namespace tarvo
