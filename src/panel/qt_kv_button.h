#pragma once
// kv_button, the panel's button: a raised bevel lit by Highlight and shaded by Shadow around a
// vertical gradient of BackColor, and either a picture or a caption. Pressed, it sinks: the bevel
// turns over, the fill darkens with its gradient reversed, and the content moves one pixel down and
// to the right. It shows pressed while the left button holds it down over it, and whenever its
// value is true.
//
// Colours are packed 0x00BBGGRR. Properties take effect at the next repaint; Refresh repaints now.
// The properties are also reachable by name through the Qt property system (BackColor, ForeColor,
// Highlight, Shadow, Gradient, Borderless, Tag), for code that styles controls by name.
//
// Events carry the button mask (1 left, 2 right, 4 middle; in a move the buttons held), the
// modifier mask (1 Shift, 2 Ctrl, 4 Alt) and the position in the button's own pixels. Moves arrive
// only while a button is held, and keep arriving outside the button until its release. Click
// follows MouseUp when the left button is released over the button it was pressed on.

#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>

#include "panel/qt_themed_widget.h"

namespace tarvo {

class kv_button : public ThemedWidget {
  Q_OBJECT
  Q_PROPERTY(double Gradient READ gradient WRITE set_gradient)
  Q_PROPERTY(bool Borderless READ borderless WRITE set_borderless)

 public:
  // The pointer shape numbers a button can take: 0 the default arrow, 15 size-all.
  static constexpr int kPointerDefault = 0;
  static constexpr int kPointerSizeAll = 15;

  explicit kv_button(QWidget* parent = nullptr);

  bool value() const { return value_; }
  void set_value(bool pressed);
  const QString& caption() const { return caption_; }
  void set_caption(const QString& caption);
  // The gradient's strength: the top row is BackColor times it, the bottom row BackColor divided by
  // it; 1 is flat. Values below 1 are taken as 1.
  double gradient() const { return gradient_; }
  void set_gradient(double gradient) { gradient_ = gradient; }
  // A borderless button draws no bevel; pressed, it still darkens and its content still moves.
  bool borderless() const { return borderless_; }
  void set_borderless(bool borderless) { borderless_ = borderless; }
  // 0 a push button, 1 a button of an exclusive group; both show their value, and the owner sets
  // it: pressing a button never changes its value by itself.
  int button_type() const { return button_type_; }
  void set_button_type(int type) { button_type_ = type; }
  // Drawn centred, in place of the caption when it is set.
  const QImage& picture() const { return picture_; }
  void set_picture(const QImage& picture);
  int mousepointer() const { return mousepointer_; }
  void set_mousepointer(int shape);

  // Repaints the button at once with its current properties.
  void Refresh();
  // Whether the button is drawn pressed now.
  bool shows_pressed() const;

 signals:
  void Click();
  void MouseDown(int button, int shift, float x, float y);
  void MouseMove(int button, int shift, float x, float y);
  void MouseUp(int button, int shift, float x, float y);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void paint_fill(QPainter& painter, bool pressed) const;
  void paint_bevel(QPainter& painter, bool pressed) const;
  void paint_content(QPainter& painter, bool pressed) const;
  void set_held_over(bool held, bool over);

  bool value_ = false;
  QString caption_;
  double gradient_ = 1.2;
  bool borderless_ = false;
  int button_type_ = 0;
  QImage picture_;
  int mousepointer_ = kPointerDefault;
  bool held_ = false;  // the left button went down on this button and is still down
  bool over_ = false;  // ... and the pointer is over it
};

}  // namespace tarvo
