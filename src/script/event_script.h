#pragma once
// The event script: a text file (suffix .tvs) that lists inputs in the order they reach the
// program, one handler call a line, named after the handler it drives and followed by that
// handler's arguments:
//
//   # a short stroke
//   Form_Resize 640 480
//   Form_MouseDown 1 0 120.5 88
//   Form_MouseMove 1 0 121.25 88.5
//   Form_MouseUp 1 0 121.25 88.5
//
// Words are separated by spaces or tabs; "#" starts a comment that runs to the end of the line;
// blank lines are skipped; a line may end in CR LF. Whole-number arguments are written as
// integers; float arguments in the shortest decimal form that reads back as the same single
// float, so that a written script replays bit for bit. A line holds at most kMaxLineBytes bytes.
//
// Parsing is strict: a line that is not exactly a known verb with the right number of arguments,
// each a finite number within its type, raises ScriptError "FILE:LINE: expected ..." and no event
// of the script is returned.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

constexpr std::size_t kMaxLineBytes = 4096;
constexpr std::size_t kMaxArgs = 12;

// Every verb a script knows, in the order of kVerbs.
enum class Verb : uint8_t {
  Form_MouseDown,
  Form_MouseMove,
  Form_MouseUp,
  Form_KeyDown,
  Form_KeyUp,
  Form_KeyPress,
  GetPaperMenu_Click,
  Form_Resize,
  Form_Unload,
  Tablet_Screen,
  Tablet_PacketArrival,
  Tablet_ProximityChange,
  // The tools panel: preset presses, the pan and zoom buttons' drags, button clicks, the user's
  // slider values, the mode menu's items, and drags on the colour triangle and the hue strip.
  kv_button6_MouseDown,
  kv_button7_MouseDown,
  kv_button8_MouseDown,
  kv_button9_MouseDown,
  kv_button13_MouseDown,
  kv_button13_MouseMove,
  kv_button13_MouseUp,
  kv_button14_MouseDown,
  kv_button14_MouseMove,
  kv_button14_MouseUp,
  kv_button1_Click,
  kv_button2_Click,
  kv_button3_Click,
  kv_button4_Click,
  kv_button11_Click,
  kv_button12_Click,
  HProp1,
  HProp2,
  HProp3,
  HProp4,
  HProp5,
  HProp6,
  HProp7,
  HProp8,
  ModeDefault_Click,
  ModeAdd_Click,
  ModeSub_Click,
  ModeMult_Click,
  ModeDiv_Click,
  ModeScreen_Click,
  MenuGreater_Click,
  MenuLess_Click,
  ModeAnd_Click,
  ModeOr_Click,
  ModeXor_Click,
  Picker_MouseMove,
  Picture1_MouseMove,
  // A session journal's prelude: the view as it was when the journal started.
  Form_View,
  // The wheel or a touchpad's scroll over the canvas, in wheel units (120 a notch).
  Form_MouseWheel,
};

// The largest width or height a window can have: the X11 protocol carries window positions as
// 16-bit signed numbers, and no window system offers larger windows.
inline constexpr int32_t kMaxWindowSize = 32767;

// How an argument is read, written and range-checked.
enum class ArgKind : uint8_t {
  Int16,   // whole number -32768 .. 32767
  Int32,   // whole number -2147483648 .. 2147483647
  Size,    // a window's width or height: whole number 1 .. kMaxWindowSize
  Single,  // finite single-precision float
};

// What a verb of the tools panel drives: which kind of input, on which control. The player hands
// the event's arguments on to the panel's entry point of that kind.
enum class PanelKind : uint8_t {
  None,         // a verb of the canvas window
  ButtonDown,   // kv_button<control>_MouseDown: button shift x y
  ButtonMove,   // kv_button<control>_MouseMove
  ButtonUp,     // kv_button<control>_MouseUp
  ButtonClick,  // kv_button<control>_Click
  Slider,       // HProp<control>: the value the user gave
  ModeItem,     // the mode menu's item at position control, from 0
  PickerMove,   // Picker_MouseMove: button shift x y
  HueMove,      // Picture1_MouseMove: button shift x y
};

struct VerbSpec {
  Verb verb;
  std::string_view name;
  // One letter an argument: 'h' 16-bit integer, 'i' 32-bit integer, 's' a window's width or
  // height, 'f' single float.
  std::string_view kinds;
  // The arguments' names, separated by single spaces, for messages.
  std::string_view arg_names;
  // The panel input the verb drives; PanelKind::None for the canvas's verbs.
  PanelKind panel = PanelKind::None;
  int8_t control = 0;

  std::size_t arg_count() const { return kinds.size(); }
  ArgKind kind(std::size_t i) const;
};

// The verb table: a new handler is one more enumerator above and one more line here.
inline constexpr std::array kVerbs{
    VerbSpec{Verb::Form_MouseDown, "Form_MouseDown", "hhff", "button shift x y"},
    VerbSpec{Verb::Form_MouseMove, "Form_MouseMove", "hhff", "button shift x y"},
    VerbSpec{Verb::Form_MouseUp, "Form_MouseUp", "hhff", "button shift x y"},
    VerbSpec{Verb::Form_KeyDown, "Form_KeyDown", "hh", "key_code shift"},
    VerbSpec{Verb::Form_KeyUp, "Form_KeyUp", "hh", "key_code shift"},
    VerbSpec{Verb::Form_KeyPress, "Form_KeyPress", "h", "character"},
    VerbSpec{Verb::GetPaperMenu_Click, "GetPaperMenu_Click", "", ""},
    VerbSpec{Verb::Form_Resize, "Form_Resize", "ss", "width height"},
    VerbSpec{Verb::Form_Unload, "Form_Unload", "", ""},
    VerbSpec{Verb::Tablet_Screen, "Tablet_Screen", "iiii",
             "screen_width screen_height client_origin_x client_origin_y"},
    VerbSpec{Verb::Tablet_PacketArrival, "Tablet_PacketArrival", "iiiiiii",
             "x y pressure maximum_pressure azimuth altitude twist"},
    VerbSpec{Verb::Tablet_ProximityChange, "Tablet_ProximityChange", "h", "is_in_context"},
    VerbSpec{Verb::kv_button6_MouseDown, "kv_button6_MouseDown", "hhff", "button shift x y",
             PanelKind::ButtonDown, 6},
    VerbSpec{Verb::kv_button7_MouseDown, "kv_button7_MouseDown", "hhff", "button shift x y",
             PanelKind::ButtonDown, 7},
    VerbSpec{Verb::kv_button8_MouseDown, "kv_button8_MouseDown", "hhff", "button shift x y",
             PanelKind::ButtonDown, 8},
    VerbSpec{Verb::kv_button9_MouseDown, "kv_button9_MouseDown", "hhff", "button shift x y",
             PanelKind::ButtonDown, 9},
    VerbSpec{Verb::kv_button13_MouseDown, "kv_button13_MouseDown", "hhff", "button shift x y",
             PanelKind::ButtonDown, 13},
    VerbSpec{Verb::kv_button13_MouseMove, "kv_button13_MouseMove", "hhff", "button shift x y",
             PanelKind::ButtonMove, 13},
    VerbSpec{Verb::kv_button13_MouseUp, "kv_button13_MouseUp", "hhff", "button shift x y",
             PanelKind::ButtonUp, 13},
    VerbSpec{Verb::kv_button14_MouseDown, "kv_button14_MouseDown", "hhff", "button shift x y",
             PanelKind::ButtonDown, 14},
    VerbSpec{Verb::kv_button14_MouseMove, "kv_button14_MouseMove", "hhff", "button shift x y",
             PanelKind::ButtonMove, 14},
    VerbSpec{Verb::kv_button14_MouseUp, "kv_button14_MouseUp", "hhff", "button shift x y",
             PanelKind::ButtonUp, 14},
    VerbSpec{Verb::kv_button1_Click, "kv_button1_Click", "", "", PanelKind::ButtonClick, 1},
    VerbSpec{Verb::kv_button2_Click, "kv_button2_Click", "", "", PanelKind::ButtonClick, 2},
    VerbSpec{Verb::kv_button3_Click, "kv_button3_Click", "", "", PanelKind::ButtonClick, 3},
    VerbSpec{Verb::kv_button4_Click, "kv_button4_Click", "", "", PanelKind::ButtonClick, 4},
    VerbSpec{Verb::kv_button11_Click, "kv_button11_Click", "", "", PanelKind::ButtonClick, 11},
    VerbSpec{Verb::kv_button12_Click, "kv_button12_Click", "", "", PanelKind::ButtonClick, 12},
    VerbSpec{Verb::HProp1, "HProp1", "h", "value", PanelKind::Slider, 1},
    VerbSpec{Verb::HProp2, "HProp2", "h", "value", PanelKind::Slider, 2},
    VerbSpec{Verb::HProp3, "HProp3", "h", "value", PanelKind::Slider, 3},
    VerbSpec{Verb::HProp4, "HProp4", "h", "value", PanelKind::Slider, 4},
    VerbSpec{Verb::HProp5, "HProp5", "h", "value", PanelKind::Slider, 5},
    VerbSpec{Verb::HProp6, "HProp6", "h", "value", PanelKind::Slider, 6},
    VerbSpec{Verb::HProp7, "HProp7", "h", "value", PanelKind::Slider, 7},
    VerbSpec{Verb::HProp8, "HProp8", "h", "value", PanelKind::Slider, 8},
    VerbSpec{Verb::ModeDefault_Click, "ModeDefault_Click", "", "", PanelKind::ModeItem, 0},
    VerbSpec{Verb::ModeAdd_Click, "ModeAdd_Click", "", "", PanelKind::ModeItem, 1},
    VerbSpec{Verb::ModeSub_Click, "ModeSub_Click", "", "", PanelKind::ModeItem, 2},
    VerbSpec{Verb::ModeMult_Click, "ModeMult_Click", "", "", PanelKind::ModeItem, 3},
    VerbSpec{Verb::ModeDiv_Click, "ModeDiv_Click", "", "", PanelKind::ModeItem, 4},
    VerbSpec{Verb::ModeScreen_Click, "ModeScreen_Click", "", "", PanelKind::ModeItem, 5},
    VerbSpec{Verb::MenuGreater_Click, "MenuGreater_Click", "", "", PanelKind::ModeItem, 6},
    VerbSpec{Verb::MenuLess_Click, "MenuLess_Click", "", "", PanelKind::ModeItem, 7},
    VerbSpec{Verb::ModeAnd_Click, "ModeAnd_Click", "", "", PanelKind::ModeItem, 8},
    VerbSpec{Verb::ModeOr_Click, "ModeOr_Click", "", "", PanelKind::ModeItem, 9},
    VerbSpec{Verb::ModeXor_Click, "ModeXor_Click", "", "", PanelKind::ModeItem, 10},
    VerbSpec{Verb::Picker_MouseMove, "Picker_MouseMove", "hhff", "button shift x y",
             PanelKind::PickerMove, 0},
    VerbSpec{Verb::Picture1_MouseMove, "Picture1_MouseMove", "hhff", "button shift x y",
             PanelKind::HueMove, 0},
    VerbSpec{Verb::Form_View, "Form_View", "fii", "zoom pan_x pan_y"},
    VerbSpec{Verb::Form_MouseWheel, "Form_MouseWheel", "hffff", "shift x y delta_x delta_y"},
};

// The verb's row of kVerbs.
const VerbSpec& verb_spec(Verb verb);
// The row named exactly name, or null.
const VerbSpec* find_verb(std::string_view name);
// The verb of the tools panel that drives input kind on control; raises std::invalid_argument
// when the panel has no such input.
Verb panel_verb(PanelKind kind, int control);

// One input: the verb and its arguments, each held as the exact double of its value.
struct ScriptEvent {
  Verb verb = Verb::Form_Unload;
  uint8_t arg_count = 0;
  std::array<double, kMaxArgs> args{};
  int32_t line = 0;  // where it was read, from 1; 0 for an event made in code

  int16_t int16_arg(std::size_t i) const { return static_cast<int16_t>(args[i]); }
  int32_t int32_arg(std::size_t i) const { return static_cast<int32_t>(args[i]); }
  float single_arg(std::size_t i) const { return static_cast<float>(args[i]); }
  std::span<const double> arguments() const { return {args.data(), arg_count}; }
};

// An event of the verb; the number of arguments must match the verb's.
ScriptEvent make_event(Verb verb, std::initializer_list<double> args);

// A script that cannot be read. what() is "FILE:LINE: expected ...", or "FILE: ..." when the
// trouble is with the file as a whole.
class ScriptError : public std::runtime_error {
 public:
  ScriptError(const std::string& file_name, int32_t line, const std::string& message);
  int32_t line() const { return line_; }

 private:
  int32_t line_;
};

// Reads a whole script; file_name is used only in messages. Raises ScriptError.
std::vector<ScriptEvent> parse_script(std::istream& in, const std::string& file_name);
std::vector<ScriptEvent> parse_script_text(std::string_view text, const std::string& file_name);
// Opens and reads the script at path; a file that cannot be opened or read raises ScriptError.
std::vector<ScriptEvent> read_script_file(const std::string& path);

// The script line of an event, without the line break.
std::string format_event(const ScriptEvent& event);
// The line of a verb by name with arguments as doubles (whole numbers exact, floats the double of
// the single float). A verb that is not in the table has its arguments written as doubles in the
// shortest form that reads back exactly.
std::string format_line(std::string_view verb, std::span<const double> args);
std::string format_line(Verb verb, std::span<const double> args);
// One number as a script writes it.
std::string format_number(ArgKind kind, double value);

// Writes a comment line for each line of header (when not empty), then one line an event.
void write_script(std::ostream& out, std::span<const ScriptEvent> events,
                  std::string_view header = {});

}  // namespace tarvo
