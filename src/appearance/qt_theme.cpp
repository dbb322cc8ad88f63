#include "appearance/qt_theme.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMetaProperty>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTextEdit>
#include <iostream>
#include <memory>
#include <vector>

#include "panel/qt_hprop.h"
#include "panel/qt_kv_button.h"

namespace tarvo {

ThemeSettings read_theme_settings() {
  ThemeSettings settings;
  QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("wickamber"));
  store.beginGroup(QStringLiteral("Startup"));
  for (const ThemeKey& key : kThemeKeys) {
    const QString name = QString::fromLatin1(key.name);
    if (!store.contains(name)) continue;
    const QVariant stored = store.value(name);
    const QString text = stored.typeId() == QMetaType::QStringList ? stored.toStringList().join(',')
                                                                   : stored.toString();
    int32_t value = 0;
    if (parse_whole_number(text.toStdString(), value)) {
      *settings.field(key.name) = value;
    } else {
      std::cerr << "tarvo: " << store.fileName().toStdString() << ": [Startup] " << key.name
                << " = \"" << text.toStdString() << "\" is not a whole number; using "
                << key.default_value << std::endl;
    }
  }
  return settings;
}

namespace {

QColor from_packed(double packed) {
  const auto c = static_cast<uint32_t>(static_cast<int64_t>(packed)) & 0xFFFFFFu;
  return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

ControlKind kind_of(const QWidget& w) {
  const char* type = w.metaObject()->className();
  if (qstrcmp(type, "tarvo::kv_button") == 0) return ControlKind::Button;
  if (qstrcmp(type, "tarvo::HProp") == 0) return ControlKind::Slider;
  if (qobject_cast<const QCheckBox*>(&w)) return ControlKind::CheckBox;
  if (qobject_cast<const QGroupBox*>(&w)) return ControlKind::Frame;
  if (qobject_cast<const QLabel*>(&w)) return ControlKind::Label;
  if (qobject_cast<const QLineEdit*>(&w) || qobject_cast<const QTextEdit*>(&w) ||
      qobject_cast<const QPlainTextEdit*>(&w)) {
    return ControlKind::TextBox;
  }
  if (qobject_cast<const QComboBox*>(&w)) return ControlKind::ComboBox;
  if (qobject_cast<const QAbstractItemView*>(&w)) return ControlKind::ListBox;
  return ControlKind::Other;
}

// A widget addressed by property name: the declared properties of the host maker's controls, and
// for other widgets BackColor and ForeColor through their palette.
class WidgetControl : public ThemedControl {
 public:
  explicit WidgetControl(QWidget& widget) : widget_(widget), kind_(kind_of(widget)) {}
  ControlKind kind() const override { return kind_; }
  std::string tag() const override { return widget_.property("Tag").toString().toStdString(); }
  bool set(std::string_view property, double value) override {
    const QByteArray name(property.data(), static_cast<int>(property.size()));
    const int index = widget_.metaObject()->indexOfProperty(name.constData());
    if (index >= 0) {
      const QMetaProperty meta = widget_.metaObject()->property(index);
      QVariant v = meta.typeId() == QMetaType::Double ? QVariant(value)
                   : meta.typeId() == QMetaType::Bool
                       ? QVariant(value != 0)
                       : QVariant(static_cast<uint>(static_cast<int64_t>(value)));
      return meta.write(&widget_, v);
    }
    QPalette palette = widget_.palette();
    if (name == "BackColor") {
      palette.setColor(QPalette::Window, from_packed(value));
      palette.setColor(QPalette::Base, from_packed(value));
      widget_.setAutoFillBackground(true);
    } else if (name == "ForeColor") {
      palette.setColor(QPalette::WindowText, from_packed(value));
      palette.setColor(QPalette::Text, from_packed(value));
    } else {
      return false;
    }
    widget_.setPalette(palette);
    return true;
  }
  void refresh() override {
    if (auto* button = qobject_cast<kv_button*>(&widget_)) {
      button->Refresh();
    } else if (auto* slider = qobject_cast<HProp*>(&widget_)) {
      slider->Refresh();
    } else {
      widget_.update();
    }
  }

 private:
  QWidget& widget_;
  ControlKind kind_;
};

class WidgetForm : public ThemedForm {
 public:
  explicit WidgetForm(QWidget& form) : form_(form) {
    for (QWidget* child : form.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      controls_.push_back(std::make_unique<WidgetControl>(*child));
    }
  }
  void set_back_color(uint32_t colour) override {
    QPalette palette = form_.palette();
    palette.setColor(QPalette::Window, from_packed(colour));
    form_.setPalette(palette);
  }
  int count() const override { return static_cast<int>(controls_.size()); }
  ThemedControl& control(int index) override { return *controls_[index]; }

 private:
  QWidget& form_;
  std::vector<std::unique_ptr<WidgetControl>> controls_;
};

}  // namespace

void apply_theme(QWidget& form, const ThemeSettings& settings, QColor label_colour) {
  WidgetForm themed(form);
  const uint32_t label = static_cast<uint32_t>(label_colour.red()) |
                         static_cast<uint32_t>(label_colour.green()) << 8 |
                         static_cast<uint32_t>(label_colour.blue()) << 16;
  PrefsCallback(themed, settings, label);
}

}  // namespace tarvo
