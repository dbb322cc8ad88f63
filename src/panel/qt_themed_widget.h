#pragma once
// What the host maker's button and slider share: the colours the theme sets (packed 0x00BBGGRR)
// and the tag it reads, also reachable by name through the Qt property system (BackColor,
// ForeColor, Highlight, Shadow, Tag). Colours take effect at the next repaint.

#include <QString>
#include <QWidget>
#include <cstdint>

namespace tarvo {

struct ControlColours {
  uint32_t backcolor, forecolor, highlight, shadow;
};

class ThemedWidget : public QWidget {
  Q_OBJECT
  Q_PROPERTY(uint BackColor READ backcolor WRITE set_backcolor)
  Q_PROPERTY(uint ForeColor READ forecolor WRITE set_forecolor)
  Q_PROPERTY(uint Highlight READ highlight WRITE set_highlight)
  Q_PROPERTY(uint Shadow READ shadow WRITE set_shadow)
  Q_PROPERTY(QString Tag READ tag WRITE set_tag)

 public:
  ThemedWidget(QWidget* parent, ControlColours colours) : QWidget(parent), colours_(colours) {}

  uint32_t backcolor() const { return colours_.backcolor; }
  void set_backcolor(uint32_t colour) { colours_.backcolor = colour; }
  uint32_t forecolor() const { return colours_.forecolor; }
  void set_forecolor(uint32_t colour) { colours_.forecolor = colour; }
  uint32_t highlight() const { return colours_.highlight; }
  void set_highlight(uint32_t colour) { colours_.highlight = colour; }
  uint32_t shadow() const { return colours_.shadow; }
  void set_shadow(uint32_t colour) { colours_.shadow = colour; }
  const QString& tag() const { return tag_; }
  void set_tag(const QString& tag) { tag_ = tag; }

 private:
  ControlColours colours_;
  QString tag_;
};

}  // namespace tarvo
