// The theme read from a preferences file the test writes as a user would, and applied to real
// panel widgets.

#include "appearance/qt_theme.h"

#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include "panel/qt_hprop.h"
#include "panel/qt_kv_button.h"

using namespace tarvo;

class ThemeTest : public QObject {
  Q_OBJECT

  QTemporaryDir config_;

  void write_preferences(const QByteArray& startup) {
    QFile file(config_.filePath(QStringLiteral("wickamber.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[Startup]\n" + startup);
  }

 private slots:
  void initTestCase() { qputenv("XDG_CONFIG_HOME", config_.path().toUtf8()); }

  void noPreferencesFileGivesEveryDefault() {
    QFile::remove(config_.filePath(QStringLiteral("wickamber.ini")));
    const ThemeSettings s = read_theme_settings();
    QCOMPARE(s.Shine_Color, 14737632);
    QCOMPARE(s.Textbox_Text_Color, 8974079);
    QCOMPARE(s.Borderless_Scrollers, 0);
  }

  void storedValuesAreReadAndABadOneFallsBackToItsDefault() {
    write_preferences("Button_Fill_Color=255\nShadow_Color=dark\nBorderless_Buttons=2\n");
    const ThemeSettings s = read_theme_settings();
    QCOMPARE(s.Button_Fill_Color, 255);
    QCOMPARE(s.Shadow_Color, 2105376);
    QCOMPARE(s.Borderless_Buttons, 2);
  }

  void everyKeyRefusesNonNumericAndHugeValuesAndKeepsNegativeOnes() {
    int tried = 0;
    for (const ThemeKey& key : kThemeKeys) {
      for (const char* bad : {"blue", "1e3", "99999999999", "-99999999999", "12 34", ""}) {
        write_preferences(QByteArray(key.name) + "=" + bad + "\n");
        ThemeSettings s = read_theme_settings();
        QCOMPARE(*s.field(key.name), key.default_value);
        ++tried;
      }
      write_preferences(QByteArray(key.name) + "=-7\n");
      ThemeSettings s = read_theme_settings();
      QCOMPARE(*s.field(key.name), -7);
    }
    QCOMPARE(tried, 72);
  }

  void widgetsTakeTheThemeByTheirProperties() {
    write_preferences(
        "Button_Fill_Color=255\nSpecial_Setting_Color=65280\nBorderless_Buttons=2\n"
        "Borderless_Scrollers=2\nScroll_Fill_Color=123\n");
    QWidget form;
    auto* plain = new kv_button(&form);
    auto* setting = new kv_button(&form);
    setting->set_tag(QStringLiteral("Setting"));
    auto* swatch = new kv_button(&form);
    swatch->set_tag(QStringLiteral("Color"));
    swatch->set_backcolor(0x0000FF);
    auto* slider = new HProp(&form);
    auto* label = new QLabel(QStringLiteral("Size"), &form);
    apply_theme(form, read_theme_settings(), QColor(240, 240, 240));
    QCOMPARE(form.palette().color(QPalette::Window), QColor(143, 149, 158));
    QCOMPARE(plain->backcolor(), 255u);
    QCOMPARE(plain->gradient(), 1.2);
    QVERIFY(!plain->borderless());
    QCOMPARE(setting->backcolor(), 65280u);
    QCOMPARE(setting->gradient(), 1.3);
    QCOMPARE(swatch->backcolor(), 0x0000FFu);
    QCOMPARE(slider->backcolor(), 123u);
    QCOMPARE(slider->highlight(), 123u);
    QCOMPARE(slider->shadow(), 123u);
    QCOMPARE(label->palette().color(QPalette::WindowText), QColor(240, 240, 240));
  }
};

QTEST_MAIN(ThemeTest)
#include "qt_theme_test.moc"
