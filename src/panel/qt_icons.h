#pragma once
// The pictures of the panel's icon buttons, drawn in code: 29 x 29 pixels, transparent around the
// motif, which keeps clear of the button's two-pixel bevel. Straight strokes sit on the pixel grid
// so that they stay sharp at 1:1.

#include <QImage>

namespace tarvo {

enum class PanelIcon {
  Pen,
  WaterBrush,
  Ink,
  GelBrush,
  Pan,
  Zoom,
  ActualSize,
  Fit,
  GetImage,
  SendImage,
  Undo,
  Clear,
};

constexpr int kIconSize = 29;

// The icon at kIconSize device-independent pixels, rendered for a screen of the given pixel ratio.
QImage panel_icon(PanelIcon icon, qreal device_pixel_ratio = 1.0);

}  // namespace tarvo
