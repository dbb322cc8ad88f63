#include "script/qt_script_player.h"

#include <QCoreApplication>

#include "canvas/qt_form1.h"
#include "tablet/tablet.h"

namespace tarvo {

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
  }
  return true;
}

// The close goes through the window system's close, as a click on the close box does, so that the
// close sequence runs from the window's close event.
bool ScriptPlayer::close_canvas() {
  return form_.close();
}

}  // namespace tarvo
