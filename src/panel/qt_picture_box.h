#pragma once
// A picture box of the tools panel: a plain drawing surface that keeps what is drawn on it in a
// retained image of its own size and shows that image. Pixels are 0xFFRRGGBB in the image; colours
// read back through Point are packed 0x00BBGGRR as the panel's controls exchange them.
//
// Pointer moves arrive only while a button is held (the box does not track a free pointer), and
// keep arriving outside the box until the release. The box has no press or release events.

#include <QColor>
#include <QImage>
#include <QWidget>
#include <cstdint>

#include "panel/triangle_fill.h"

namespace tarvo {

class PictureBox : public QWidget {
  Q_OBJECT

 public:
  PictureBox(QWidget* parent, const QColor& background);

  // Places the box on its parent and sizes its surface at once, shown or not; the surface starts
  // plain in the background colour.
  void place(int left, int top, int width, int height);

  // The inner width and height in whole pixels.
  int32_t ScaleWidth() const { return surface_.width(); }
  int32_t ScaleHeight() const { return surface_.height(); }
  // What the box shows; draw on it, then update() or repaint() the box.
  QImage& surface() { return surface_; }
  const QImage& surface() const { return surface_; }
  PixelBuffer32 pixels();
  // Fills the whole surface with the box's background colour.
  void Cls();
  // The colour at (X, Y), rounded to the nearest pixel (halves to even), packed 0x00BBGGRR; -1 for
  // a position outside the box.
  int32_t Point(float X, float Y) const;

 signals:
  void MouseMove(int button, int shift, float x, float y);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  QColor background_;
  QImage surface_;
};

}  // namespace tarvo
