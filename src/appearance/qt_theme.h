#pragma once
// The host's stored interface preferences and their application to a form's widgets.
//
// The preferences live in the host's settings store: QSettings in INI format, user scope,
// application "wickamber", section "Startup" ($XDG_CONFIG_HOME/wickamber.ini, by default
// ~/.config/wickamber.ini). Each value is a whole number; a key that is missing takes its default,
// and one whose value is not a whole number takes its default too, said once on standard error.

#include <QColor>
#include <QWidget>

#include "appearance/theme.h"

namespace tarvo {

ThemeSettings read_theme_settings();

// Themes every direct child widget of form: the host maker's buttons and sliders by their
// properties, labels in label_colour, check boxes and group boxes in the form colour, text, combo
// and list boxes in the text box colours; any other widget is left alone.
void apply_theme(QWidget& form, const ThemeSettings& settings, QColor label_colour);

}  // namespace tarvo
