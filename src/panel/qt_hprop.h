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

#include "panel/slider_range.h"

namespace tarvo {

class HProp : public QWidget {
  Q_OBJECT
  Q_PROPERTY(uint BackColor READ backcolor WRITE set_backcolor)
  Q_PROPERTY(uint ForeColor READ forecolor WRITE set_forecolor)
  Q_PROPERTY(uint Highlight READ highlight WRITE set_highlight)
  Q_PROPERTY(uint Shadow READ shadow WRITE set_shadow)
  Q_PROPERTY(QString Tag READ tag WRITE set_tag)

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

  // Colours packed 0x00BBGGRR; they take effect at the next repaint.
  uint32_t backcolor() const { return backcolor_; }
  void set_backcolor(uint32_t colour) { backcolor_ = colour; }
  uint32_t forecolor() const { return forecolor_; }
  void set_forecolor(uint32_t colour) { forecolor_ = colour; }
  uint32_t highlight() const { return highlight_; }
  void set_highlight(uint32_t colour) { highlight_ = colour; }
  uint32_t shadow() const { return shadow_; }
  void set_shadow(uint32_t colour) { shadow_ = colour; }
  const QString& tag() const { return tag_; }
  void set_tag(const QString& tag) { tag_ = tag; }
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
  uint32_t backcolor_ = 0x9E958F;
  uint32_t forecolor_ = 0xE0E0E0;
  uint32_t highlight_ = 0xE0E0E0;
  uint32_t shadow_ = 0x202020;
  QString tag_;
  InputHandler input_;
  int wheel_remainder_ = 0;  // eighths of a degree not yet turned into a step
};

}  // namespace tarvo
