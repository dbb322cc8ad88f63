#pragma once
// HProp, the panel's slider: a sunken track in BackColor with a bar in ForeColor that runs from the
// left edge to the current value, which it shows as text. It holds a whole number (16 bits) within
// min..max; see panel/slider_range.h for how values written from code are rounded and kept.
//
// Change is raised after every change of value, from the user or from code, and only when the
// value actually changes. The user moves the value by pressing on the track (the value jumps to
// the pointer) and dragging, with the wheel (one per notch), and with the keys: Left and Down one
// less, Right and Up one more, Page Up and Page Down a tenth of the range, Home and End the ends.
//
// User input can be routed: with an input handler set, the value the user asks for goes to the
// handler, which is expected to write it (so that an owner can record the input before it acts);
// without one, the slider writes it itself.

#include <QWidget>
#include <cstdint>
#include <functional>

#include "panel/qt_themed_widget.h"
#include "panel/slider_range.h"

namespace tarvo {

class HProp : public ThemedWidget {
  Q_OBJECT

 public:
  using InputHandler = std::function<void(int16_t value)>;

  explicit HProp(QWidget* parent = nullptr);

  int16_t value() const { return value_; }
  // Writes the value from code: rounded to a whole number, halves to even, then Change.
  void set_value(double value);
  int16_t min() const { return range_.min; }
  int16_t max() const { return range_.max; }
  void set_min(int16_t min);
  void set_max(int16_t max);
  const SliderRange& range() const { return range_; }

  void Refresh();

  void set_input_handler(InputHandler handler) { input_ = std::move(handler); }
  // What the user asked for, held within min..max; nothing happens when it equals the value.
  void user_input(int32_t value);
  // The value under a position along the widget, in its own pixels.
  int16_t value_at_x(double x) const;

 signals:
  void Change();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QRect track() const;
  void write(int16_t value);

  int16_t value_ = kSliderDefaultValue;
  SliderRange range_;
  InputHandler input_;
  int wheel_remainder_ = 0;  // eighths of a degree not yet turned into a step
};

}  // namespace tarvo
