#pragma once
// Form2, the tools panel "Tarvo Tools": brush presets, the view, exchange and history buttons, the
// brush sliders, the blend-mode button, the colour swatch, the colour triangle and hue strip, and
// the colour sliders. Every control writes the brush settings that the next stroke reads; nothing
// here paints on the image.
//
// The panel is a tool window owned by the canvas, so that it stays in front of it. It loads
// (Form_Load) the first time it is shown or used, not when it is made. Its client area is 141 x 490
// pixels and every control sits at a fixed pixel position.
//
// Input entry points: the panel's own controls and the event-script player both come through the
// functions under "Input", so that a replayed script takes exactly the path of the user's input.
// Each reports its input to the event sink first, when one is set, as the verb of the handler it
// drives (kv_button8_MouseDown, HProp1, ModeAdd_Click, Picker_MouseMove, ...).

#include <QImage>
#include <QPointer>
#include <QWidget>
#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "core/presence.h"
#include "core/program.h"
#include "panel/qt_menus.h"
#include "script/event_sink.h"

class QLabel;

namespace tarvo {

class HProp;
class PictureBox;
class kv_button;

class Form2 : public QWidget, public ToolsPanel {
  Q_OBJECT

 public:
  static constexpr int kClientWidth = 141;
  static constexpr int kClientHeight = 490;
  static constexpr int kButtonCount = 15;  // kv_button1 .. kv_button15

  // owner is the canvas window; the panel is deleted with it.
  Form2(Program& program, QWidget* owner, const Presence& presence = Presence::nobody());
  ~Form2() override;

  // ToolsPanel
  void set_colour_sliders(uint8_t red, uint8_t green, uint8_t blue) override;
  void redraw_triangle() override;
  void show_panel() override;
  void unload_panel() override;
  void copy_brush_sliders(BrushSettings& brush) override;

  // The load sequence: theme, swatch, triangle mask, wallpaper, hue strip, triangle.
  void Form_Load();
  bool loaded() const { return loaded_; }

  // Input. n names the control: kv_button<n>, HProp<n>.
  void button_mouse_down(int n, int16_t button, int16_t shift, float x, float y) override;
  void button_mouse_move(int n, int16_t button, int16_t shift, float x, float y) override;
  void button_mouse_up(int n, int16_t button, int16_t shift, float x, float y) override;
  void button_click(int n) override;
  // The user asked slider n for value; the slider takes it and raises its Change.
  void slider_input(int n, int16_t value) override;
  // The mode menu's item at position i was chosen.
  void mode_menu_click(std::size_t i) override;
  void picker_mouse_move(int16_t button, int16_t shift, float x, float y) override;
  void hue_mouse_move(int16_t button, int16_t shift, float x, float y) override;

  // The panel's operations, named as its handlers are.
  void DeactivateButtons();
  void SetColor();
  void Picture1_Paint();
  void Picture1_MouseMove(int16_t Button, int16_t Shift, float X, float Y);
  void Picker_Paint();
  void Picker_MouseMove(int16_t Button, int16_t Shift, float X, float Y);
  // Draws the colour triangle for ColorHue into the triangle box.
  void draw_triangle();
  // Draws the triangle mask into the hidden mask box.
  void draw_mask();
  // Pops up the mode menu at the pointer; returns when the menu closes.
  void kv_button15_Click();

  // The controls, for the canvas and for tests.
  kv_button* button(int n) const;
  HProp* slider(int n) const;
  PictureBox* Picker() const { return picker_; }
  PictureBox* Picture1() const { return hue_strip_; }
  PictureBox* Picture2() const { return mask_; }
  // The hidden window with the mode menu, or null before the mode button's first click.
  Menus* menus() const { return menus_; }
  Menus& ensure_menus();
  // Image1's picture: the host's wallpaper, null when none could be loaded.
  const QImage& wallpaper() const { return wallpaper_; }
  int32_t PickFromTriangle() const { return pick_from_triangle_; }

  void set_event_sink(EventSink* sink) override { sink_ = sink; }
  EventSink* event_sink() const override { return sink_; }
  bool preset_pressed(int n) const override;
  int16_t slider_value(int n) const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void build_buttons();
  void build_sliders();
  void build_pictures();
  void build_labels();
  void connect_button(int n);
  void ensure_loaded();
  void load_wallpaper();
  void place_beside_owner();
  void apply_preset(int n);
  void forward_to_canvas(int n, int action, int16_t button, float x, float y);
  void HProp_Change(int n);
  void colour_slider_changed(float& channel, int n);
  void record(Verb verb, std::initializer_list<double> args);
  // A sentence for the user: a message box when someone is there to read it, else standard error.
  void tell_user(const std::string& text);

  Program& program_;
  const Presence& presence_;
  std::array<kv_button*, kButtonCount + 1> buttons_{};
  std::array<HProp*, kSliderCount + 1> sliders_{};
  PictureBox* picker_ = nullptr;
  PictureBox* mask_ = nullptr;
  PictureBox* hue_strip_ = nullptr;
  QPointer<Menus> menus_;
  QImage wallpaper_;
  int32_t pick_from_triangle_ = 0;
  bool loaded_ = false;
  bool placed_ = false;
  bool show_when_owner_shows_ = false;
  bool return_focus_ = false;  // the canvas gets the keyboard back once the panel first has it
  EventSink* sink_ = nullptr;
};

}  // namespace tarvo
