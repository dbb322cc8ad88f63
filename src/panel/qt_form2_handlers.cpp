// The tools panel's input: the entry points that its controls and the event-script player call,
// and the handlers behind them (presets, the mode menu, the pan and zoom buttons, the sliders).

#include <QApplication>
#include <QMessageBox>
#include <iostream>
#include <string>

#include "app/exchange.h"
#include "canvas/image_history.h"
#include "canvas/view_navigation.h"
#include "panel/presets.h"
#include "panel/qt_form2.h"
#include "panel/qt_form2_layout.h"
#include "panel/qt_hprop.h"
#include "panel/qt_kv_button.h"
#include "panel/tri_picker.h"
#include "stroke/stroke_capture.h"

namespace tarvo {

namespace layout = panel_layout;

namespace {

enum PointerAction { kDown, kMove, kUp };

}  // namespace

// ---- Input -------------------------------------------------------------------------------------

void Form2::tell_user(const std::string& text) {
  if (!presence_.someone_looking) {
    std::cerr << text << std::endl;
    return;
  }
  QMessageBox box(QMessageBox::Information, QApplication::applicationDisplayName(),
                  QString::fromStdString(text), QMessageBox::Ok, this);
  box.exec();
}

void Form2::record(Verb verb, std::initializer_list<double> args) {
  if (sink_) sink_->record(verb, args);
}

void Form2::button_mouse_down(int n, int16_t button, int16_t shift, float x, float y) {
  record(panel_verb(PanelKind::ButtonDown, n), {double(button), double(shift), x, y});
  if (preset_for_button(n)) apply_preset(n);
  if (layout::is_navigation_button(n)) forward_to_canvas(n, kDown, button, x, y);
}

void Form2::button_mouse_move(int n, int16_t button, int16_t shift, float x, float y) {
  if (!layout::is_navigation_button(n)) return;
  record(panel_verb(PanelKind::ButtonMove, n), {double(button), double(shift), x, y});
  forward_to_canvas(n, kMove, button, x, y);
}

void Form2::button_mouse_up(int n, int16_t button, int16_t shift, float x, float y) {
  if (!layout::is_navigation_button(n)) return;
  record(panel_verb(PanelKind::ButtonUp, n), {double(button), double(shift), x, y});
  forward_to_canvas(n, kUp, button, x, y);
}

// The mode button's click only opens the menu; what is recorded is the item chosen from it.
void Form2::button_click(int n) {
  if (n != 15) record(panel_verb(PanelKind::ButtonClick, n), {});
  switch (n) {
    case 1:
      Undo(program_);
      break;
    case 2:
      Clear(program_);
      break;
    case 3: {
      const std::string refused = GetImage(program_);
      if (!refused.empty()) tell_user(refused);
      break;
    }
    case 4:
      // Where a selection kept some of the painting out, the canvas shows what the image now holds
      // (an undo brings the painting as it was back).
      if (SendImage(program_) && program_.HostApp->holds_other_than_sent()) button_click(3);
      break;
    case 11:
      actual_size(program_);
      break;
    case 12:
      fit_to_window(program_);
      break;
    case 15:
      kv_button15_Click();
      break;
    default:
      break;
  }
}

void Form2::slider_input(int n, int16_t value) {
  HProp* s = slider(n);
  if (!s) return;
  record(panel_verb(PanelKind::Slider, n), {double(value)});
  s->set_value(value);
}

void Form2::mode_menu_click(std::size_t i) {
  if (i >= kModeMenuItems.size()) return;
  const ModeMenuItem& item = kModeMenuItems[i];
  record(panel_verb(PanelKind::ModeItem, static_cast<int>(i)), {});
  program_.brush.BlendMode = item.code;
  ensure_loaded();
  buttons_[15]->set_caption(layout::to_qstring(item.button_caption));
}

void Form2::picker_mouse_move(int16_t button, int16_t shift, float x, float y) {
  record(Verb::Picker_MouseMove, {double(button), double(shift), x, y});
  Picker_MouseMove(button, shift, x, y);
}

void Form2::hue_mouse_move(int16_t button, int16_t shift, float x, float y) {
  record(Verb::Picture1_MouseMove, {double(button), double(shift), x, y});
  Picture1_MouseMove(button, shift, x, y);
}

// ---- Presets, menu and navigation --------------------------------------------------------------

void Form2::DeactivateButtons() {
  for (const int n : {6, 7, 8, 9}) buttons_[n]->set_value(false);
}

void Form2::apply_preset(int n) {
  const BrushPreset& preset = *preset_for_button(n);
  DeactivateButtons();
  buttons_[n]->set_value(true);
  program_.brush.Emboss = preset.Emboss;
  program_.brush.BlendMode = preset.BlendMode;
  buttons_[15]->set_caption(layout::to_qstring(preset.mode_caption));
  program_.brush.BrushCurve = preset.BrushCurve;
}

void Form2::kv_button15_Click() {
  ensure_menus().ModeMenu()->exec(QCursor::pos());
}

// The pan button drags with the button it is pressed with, the zoom button always as the right
// button; both as Shift+Ctrl, which is what makes the canvas navigate. Only differences between
// positions matter, so the button's own coordinates serve.
void Form2::forward_to_canvas(int n, int action, int16_t button, float x, float y) {
  const int16_t b = n == 14 ? int16_t{2} : button;
  const int16_t shift = modifier::kNavigate;
  switch (action) {
    case kDown:
      Form_MouseDown(program_, b, shift, x, y);
      break;
    case kMove:
      Form_MouseMove(program_, b, shift, x, y);
      break;
    default:
      Form_MouseUp(program_, b, shift, x, y);
      break;
  }
}

// ---- Sliders -----------------------------------------------------------------------------------

// Each slider copies its value into its brush setting unchanged; the colour sliders then bring the
// picker in step.
void Form2::HProp_Change(int n) {
  BrushSettings& brush = program_.brush;
  const int16_t v = sliders_[n]->value();
  switch (n) {
    case 1:
      brush.BrushSize = static_cast<float>(v) * program_.brush_scale;
      break;
    case 5:
      brush.Opacity = v;
      break;
    case 6:
      brush.StepPercent = v;
      break;
    case 7:
      brush.PaperGrain = v;
      break;
    case 8:
      brush.PenPress = v;
      break;
    case 2:
      colour_slider_changed(brush.ColorR, n);
      break;
    case 3:
      colour_slider_changed(brush.ColorG, n);
      break;
    case 4:
      colour_slider_changed(brush.ColorB, n);
      break;
    default:
      break;
  }
}

void Form2::colour_slider_changed(float& channel, int n) {
  channel = sliders_[n]->value();
  GetHSV(program_.brush, pick_from_triangle_);
  SetColor();
  Picture1_Paint();
  draw_triangle();
}

}  // namespace tarvo
