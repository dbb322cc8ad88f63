#pragma once
// Where the canvas and the tools panel go on the desktop. Both stay inside the available area of
// the screen (the screen less its panels and docks), so that a photo larger than the screen still
// leaves the whole canvas window and every tool in view. Rectangles and sizes here are Qt's
// device-independent pixels, frames included unless said otherwise.

#include <QMargins>
#include <QRect>
#include <QSize>

class QWidget;

namespace tarvo {

// The largest client size that fits the available area: `wanted` where it fits, else each side cut
// to what the area holds once the frame's margins are taken off.
QSize fit_window_size(QSize wanted, const QMargins& frame, const QRect& available);

// The top-left corner that keeps a frame of the given size inside the available area, as near as
// possible to where it is now (a frame larger than the area keeps its top-left corner inside).
QPoint keep_inside(const QRect& frame, const QRect& available);

// The top-left corner of the panel's frame: to the right of the canvas's frame with its top level
// with the canvas's when that fits the available area, else to its left, else at the available
// area's right edge, over the canvas; inside the area in every case.
QPoint panel_position(const QRect& canvas_frame, QSize panel_frame, const QRect& available,
                      int gap);

// The available area of the screen a window is on (the primary screen before it is placed).
QRect available_area(const QWidget& window);

// A window's frame margins; before it is shown, when the window system has not framed it yet, a
// typical title bar and border, so that a first placement leaves room for them.
QMargins frame_margins(const QWidget& window);

}  // namespace tarvo
