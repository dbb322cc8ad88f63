#include "script/qt_script_player.h"

#include <QCoreApplication>
#include <stdexcept>
#include <string>

#include "canvas/qt_form1.h"
#include "script/panel_verbs.h"
#include "tablet/tablet.h"

namespace tarvo {

ScriptPlayer::ScriptPlayer(Form1& form, ToolsPanel* panel)
    : form_(form), panel_(panel ? panel : form.program().panel) {}

PlayResult ScriptPlayer::play(std::span<const ScriptEvent> events) {
  PlayResult result;
  for (const ScriptEvent& event : events) {
    ++result.played;
    if (!dispatch(event)) {
      result.canvas_closed = true;
      result.closed_at_line = event.line;
      break;
    }
  }
  return result;
}

bool ScriptPlayer::dispatch(const ScriptEvent& e) {
  switch (e.verb) {
    case Verb::Form_MouseDown:
      form_.mouse_down(e.int16_arg(0), e.int16_arg(1), e.single_arg(2), e.single_arg(3));
      break;
    case Verb::Form_MouseMove:
      form_.mouse_move(e.int16_arg(0), e.int16_arg(1), e.single_arg(2), e.single_arg(3));
      break;
    case Verb::Form_MouseUp:
      form_.mouse_up(e.int16_arg(0), e.int16_arg(1), e.single_arg(2), e.single_arg(3));
      break;
    case Verb::Form_MouseWheel:
      form_.mouse_wheel(e.int16_arg(0), e.single_arg(1), e.single_arg(2), e.single_arg(3),
                        e.single_arg(4));
      break;
    case Verb::Form_KeyDown:
      form_.key_down(e.int16_arg(0), e.int16_arg(1));
      break;
    case Verb::Form_KeyUp:
      form_.key_up(e.int16_arg(0), e.int16_arg(1));
      break;
    case Verb::Form_KeyPress:
      form_.key_press(e.int16_arg(0));
      break;
    case Verb::GetPaperMenu_Click:
      form_.menu_get_paper();
      break;
    case Verb::Form_Resize:
      form_.resize_client(e.int32_arg(0), e.int32_arg(1));
      // Live, the layout settles in the event loop before the next input arrives.
      QCoreApplication::sendPostedEvents();
      break;
    case Verb::Form_Unload:
      return !close_canvas();
    case Verb::Tablet_Screen:
      form_.tablet_screen(
          ScreenGeometry{e.int32_arg(0), e.int32_arg(1), e.int32_arg(2), e.int32_arg(3)});
      break;
    case Verb::Tablet_PacketArrival: {
      TabletPacket packet;
      packet.X = e.int32_arg(0);
      packet.Y = e.int32_arg(1);
      packet.Pressure = e.int32_arg(2);
      packet.Azimuth = e.int32_arg(4);
      packet.Altitude = e.int32_arg(5);
      packet.Twist = e.int32_arg(6);
      form_.tablet_packet(packet, e.int32_arg(3));
      break;
    }
    case Verb::Tablet_ProximityChange:
      form_.tablet_proximity(e.int16_arg(0));
      break;
    case Verb::Form_View:
      form_.restore_view(e.single_arg(0), e.int32_arg(1), e.int32_arg(2));
      break;
    default:
      dispatch_panel(e);
      break;
  }
  return true;
}

void ScriptPlayer::dispatch_panel(const ScriptEvent& e) {
  const std::optional<PanelInput> input = panel_input(e.verb);
  if (!input) return;
  if (!panel_) {
    throw std::runtime_error("line " + std::to_string(e.line) + ": " +
                             std::string(verb_spec(e.verb).name) + " needs the tools panel");
  }
  const int n = input->control;
  switch (input->kind) {
    using Kind = PanelInput::Kind;
    case Kind::ButtonDown:
      panel_->button_mouse_down(n, e.int16_arg(0), e.int16_arg(1), e.single_arg(2),
                                e.single_arg(3));
      break;
    case Kind::ButtonMove:
      panel_->button_mouse_move(n, e.int16_arg(0), e.int16_arg(1), e.single_arg(2),
                                e.single_arg(3));
      break;
    case Kind::ButtonUp:
      panel_->button_mouse_up(n, e.int16_arg(0), e.int16_arg(1), e.single_arg(2), e.single_arg(3));
      break;
    case Kind::ButtonClick:
      panel_->button_click(n);
      break;
    case Kind::Slider:
      panel_->slider_input(n, e.int16_arg(0));
      break;
    case Kind::ModeItem:
      panel_->mode_menu_click(static_cast<std::size_t>(n));
      break;
    case Kind::PickerMove:
      panel_->picker_mouse_move(e.int16_arg(0), e.int16_arg(1), e.single_arg(2), e.single_arg(3));
      break;
    case Kind::HueMove:
      panel_->hue_mouse_move(e.int16_arg(0), e.int16_arg(1), e.single_arg(2), e.single_arg(3));
      break;
    case Kind::None:
      break;  // a canvas verb: panel_input gives none
  }
}

// The close goes through the window system's close, as a click on the close box does, so that the
// close sequence runs from the window's close event.
bool ScriptPlayer::close_canvas() {
  return form_.close();
}

}  // namespace tarvo
