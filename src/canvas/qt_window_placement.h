#pragma once
// Where the canvas and the tools panel go on the desktop. Both stay inside the available area of
// the screen (the screen less its panels and docks), so that a photo larger than the screen still
// leaves the whole canvas window and every tool in view. Rectangles and sizes here are Qt's
// device-independent pixels, frames included unless said otherwise.

#include <QMargins>
#include <QRect>
#include <QSize>
#include <QtGlobal>
#include <optional>

#include "core/presence.h"

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

// The gap between the canvas's frame and the tools panel's.
inline constexpr int kPanelGap = 8;
// The room left free below the top of the host's window for its menu bar.
inline constexpr int kHostMenuBarRoom = 48;

// Where the canvas may lie when it opens over a host's window whose client area starts at
// host_origin: the screen's available area from the host's left edge and from below its menu
// bar, less panel_room on the right so that the tools panel fits beside the canvas. Each side
// keeps some room however the host lies on the screen.
QRect area_over_host(QPoint host_origin, const QRect& screen, int panel_room);

// Once the window manager has framed a window just shown, moves its frame (title bar included)
// into the area where it is not wholly there: a position asked for before the frame's size was
// known may have put the title bar off the screen. A window that can change size first gives up
// what its frame has beyond the area's size. Does nothing without a display to look at.
void keep_frame_in_area(QWidget& window, const QRect& area, const Presence& presence);

// The top-left corner of the client area of an X11 window of another program, in Qt's logical
// pixels; nothing when there is no X11 display or the window does not exist.
std::optional<QPoint> foreign_window_origin(quint64 id);

// Makes a window, once shown, transient for an X11 window of another program, so that the window
// manager keeps it above that window. Qt marks only dialogs and tool windows transient, and
// clears the mark of any other window as it shows it.
void set_transient_for_foreign(QWidget& window, quint64 id);

// The available area of the screen a window is on (the primary screen before it is placed).
QRect available_area(const QWidget& window);

// A window's frame margins; before it is shown, when the window system has not framed it yet, a
// typical title bar and border, so that a first placement leaves room for them.
QMargins frame_margins(const QWidget& window);

}  // namespace tarvo
