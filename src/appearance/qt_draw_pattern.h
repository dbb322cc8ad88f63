#pragma once
// The wallpaper pattern: copies of one picture laid edge to edge from the top-left corner of the
// tools panel, each at its natural size.

#include <QImage>
#include <QPainter>
#include <QRect>

namespace tarvo {

// Tiles picture over area, a rectangle in the coordinates of the pattern's own grid (the panel's
// client coordinates), where the painter's origin stands for area's top-left corner. Tiles start at
// (0, 0) and step by the picture's width and height while x <= area.right() + 1 and
// y <= area.bottom() + 1, rows top to bottom and tiles left to right; the last ones overhang and
// are clipped by the target. The panel passes its whole client area; a control on it passes its own
// place on the panel, so that the pattern behind it runs on without a seam. An empty picture draws
// nothing.
void Draw_Pattern(QPainter& painter, const QImage& picture, const QRect& area);

}  // namespace tarvo
