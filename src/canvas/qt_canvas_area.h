#pragma once
// The client area of the canvas: draws the retained image and hands pointer, pen, wheel and key
// events to the canvas window, in device pixels and as the canvas handlers number buttons, keys
// and modifiers.

#include <QPointF>
#include <QWidget>
#include <map>

class QSinglePointEvent;

namespace tarvo {

class Form1;

class CanvasArea : public QWidget {
 public:
  explicit CanvasArea(Form1& form);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent*) override;

  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  // A pen event is one packet and one stroke point: the packet updates the tablet state, then the
  // same event drives the pointer handlers. Accepting it keeps Qt from sending a mouse event too.
  void tabletEvent(QTabletEvent* e) override;

  // The wheel scrolls in device pixels, as the canvas counts them: a touchpad's pixel deltas are
  // taken as they are, a wheel's notches scroll the same screen distance at any scale. With Ctrl
  // the wheel zooms a step a notch; a touchpad's small turns are gathered here into whole notches,
  // so that a script holds the steps the user made.
  void wheelEvent(QWheelEvent* e) override;

  // Key codes belong to the physical key: the code a key went down with is the code it comes up
  // with, even when Shift, pressed meanwhile, has changed the character Qt names.
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  // A key let go while another window had the focus never comes up here.
  void focusOutEvent(QFocusEvent* e) override;

  // The pointer in device pixels. Qt delivers a widget's event position rounded to whole logical
  // pixels, which on a screen scaled by 2 leaves only even device pixels; the event its window
  // received keeps the fraction the window system gave, and is used when it is this event's.
  QPointF device_position(const QSinglePointEvent& e) const;

 private:
  Form1& form_;
  std::map<quint32, int16_t> held_codes_;
  float zoom_turn_ = 0;  // wheel units turned with Ctrl, not yet a whole notch
};

}  // namespace tarvo
