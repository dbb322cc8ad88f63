#include "recovery/qt_recovery_session.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QMessageBox>
#include <QResizeEvent>
#include <QTimer>
#include <cmath>
#include <iostream>
#include <span>
#include <utility>

#include "app/exchange.h"
#include "canvas/qt_form1.h"
#include "canvas/view_navigation.h"
#include "panel/blend_modes.h"
#include "panel/presets.h"
#include "recovery/qt_recovery.h"
#include "script/event_script.h"
#include "script/qt_script_player.h"
#include "script/write_back_watch.h"

namespace tarvo {

namespace {

// About 200 MB of inputs since the host's image was last read or written: hours of a pen's packets.
constexpr std::size_t kMostHostInputs = std::size_t{1} << 21;

std::string line_of(Verb verb, std::initializer_list<double> args) {
  return format_line(verb, std::span<const double>(args.begin(), args.size()));
}

}  // namespace

RecoverySession::RecoverySession(Program& program, Form1& canvas, RecoveryStore& store,
                                 JournalBase base, const RecoveryPlan& recovered,
                                 std::vector<std::string> header,
                                 std::function<std::string()> history_mark)
    : program_(program),
      canvas_(canvas),
      store_(store),
      base_(std::move(base)),
      header_(std::move(header)),
      history_mark_(std::move(history_mark)),
      crash_copy_(program.canvas, store.new_path(QStringLiteral("-crash.ppm")), &program.stroke),
      journal_(store.new_path(QStringLiteral("-journal.tvs"))),
      recovered_files_(recovered.files) {
  replay_recovery(canvas, recovered);
  journal_.remove_after_first_base(recovered.files);

  canvas_next_ = canvas.event_sink();
  canvas.set_event_sink(this);
  panel_ = program.panel;
  if (panel_) {
    panel_next_ = panel_->event_sink();
    panel_->set_event_sink(this);
  }
  canvas.canvas_area()->installEventFilter(this);
  recorded_size_ = QSize(canvas.client_width(), canvas.client_height());

  // Every write-back the host finishes retires what was kept and restarts the journal from what
  // was written.
  auto watch = std::make_unique<WriteBackWatch>(std::move(program.HostApp),
                                                std::make_shared<WriteBackReport>());
  host_ = watch.get();
  host_->set_on_written([this] {
    retire_kept();
    restart(base_.kind, true);
    host_synced();
  });
  program.HostApp = std::move(watch);
  program.repaint_onto_host = [this](double scale_x, double scale_y) {
    return repaint_onto_host(scale_x, scale_y);
  };

  canvas.set_after_commit([this] {
    if (store_.after_commit(program_.canvas)) restart(JournalBase::Kind::Snapshot, false);
  });
  // A recovered painting is not in the image file: its journal starts over a snapshot.
  if (recovered.empty()) {
    restart(base_.kind, true);
    host_synced();
  } else {
    // Opened as it was, it holds the file as it was then, not as it is now.
    restart(JournalBase::Kind::Snapshot, false, recovered.image_held());
  }
}

RecoverySession::~RecoverySession() {
  if (host_) host_->set_on_written(nullptr);
  program_.repaint_onto_host = nullptr;
  canvas_.set_after_commit(nullptr);
  if (canvas_.event_sink() == this) canvas_.set_event_sink(canvas_next_);
  if (panel_ && panel_->event_sink() == this) panel_->set_event_sink(panel_next_);
}

void RecoverySession::closed_normally() {
  crash_copy_.disarm();
  journal_.remove_files();
  store_.remove_autosave();
  retire_kept();
}

void RecoverySession::retire_kept() {
  // The journal goes on from what was written: its own files are its to replace.
  QString journal_stem = journal_.path();
  journal_stem.chop(4);  // ".tvs"
  store_.retire_session(journal_stem);
  for (const QString& file : std::exchange(recovered_files_, {})) QFile::remove(file);
}

void RecoverySession::record(Verb verb, std::initializer_list<double> args) {
  // The kept inputs played again are in the journal's new start, and were passed on already.
  if (repainting_) return;
  check_reach_back();
  keep_host_input(verb, args);
  if (reaches_back(verb, args)) {
    // The journal could not replay this input: it is left out, and the journal starts again from
    // what the input leaves, once it has run. Until then the journal on disk still holds a whole,
    // if older, painting.
    restart_due_ = true;
    QTimer::singleShot(0, this, [this] { check_reach_back(); });
  } else {
    journal_.record(verb, args);
  }
  note(verb, args);
  EventSink* next = verb_spec(verb).panel == PanelKind::None ? canvas_next_ : panel_next_;
  if (next) next->record(verb, args);
}

bool RecoverySession::reaches_back(Verb verb, std::initializer_list<double> args) const {
  // Get image takes the host's image, which need not be the journal's base.
  if (verb == Verb::kv_button3_Click) return true;
  return undoes_before(verb, args, records_before_start_, undone_before_start_);
}

bool RecoverySession::undoes_before(Verb verb, std::initializer_list<double> args,
                                    std::size_t records, std::size_t undone_records) const {
  const double* a = args.begin();
  const bool key_down = verb == Verb::Form_KeyDown;
  const bool undo = (verb == Verb::Form_KeyPress && a[0] == 'u') ||
                    verb == Verb::kv_button1_Click ||
                    (key_down && a[0] == key_code::kZ && a[1] == modifier::kCtrl);
  const bool redo = key_down && ((a[0] == key_code::kZ && a[1] == modifier::kNavigate) ||
                                 (a[0] == key_code::kY && a[1] == modifier::kCtrl));
  // Every record still held is older than the journal: the undo (or redo) takes one the journal
  // never saw.
  const std::size_t held = program_.undo.records.size();
  const std::size_t undone = program_.undo.undone.size();
  return (undo && held > 0 && held <= records) || (redo && undone > 0 && undone <= undone_records);
}

void RecoverySession::keep_host_input(Verb verb, std::initializer_list<double> args) {
  if (verb == Verb::kv_button3_Click) {
    // Whether Get image took the host's image shows once it has run (check_reach_back).
    fetch_due_ = true;
    planes_before_fetch_ = program_.canvas.RBuffer.data();
    return;
  }
  // A send or a close reaches the host itself; it is never played again.
  if (!host_inputs_usable_ || verb == Verb::kv_button4_Click || verb == Verb::Form_Unload) return;
  if (undoes_before(verb, args, records_at_host_sync_, undone_at_host_sync_)) {
    set_host_inputs_usable(false);
    return;
  }
  // A session this long between sends keeps its strokes in the journal alone.
  if (host_inputs_.size() >= kMostHostInputs) {
    set_host_inputs_usable(false);
    return;
  }
  host_inputs_.push_back(make_event(verb, args));
}

void RecoverySession::host_synced() {
  host_inputs_ = parse_script_text(
      [&] {
        std::string text;
        for (const std::string& line : prelude()) text += line + '\n';
        return text;
      }(),
      "prelude");
  records_at_host_sync_ = program_.undo.records.size();
  undone_at_host_sync_ = program_.undo.undone.size();
  set_host_inputs_usable(true);
}

void RecoverySession::set_host_inputs_usable(bool usable) {
  if (!usable) host_inputs_.clear();
  host_inputs_usable_ = usable;
  program_.HostApp->set_can_repaint(usable);
}

bool RecoverySession::repaint_onto_host(double scale_x, double scale_y) {
  if (!host_inputs_usable_) return false;
  const std::vector<ScriptEvent> inputs = host_inputs_;
  repainting_ = true;
  const bool scaled = scale_x != 1.0 || scale_y != 1.0;
  const std::string refused = scaled ? GetImageOfNewSize(program_) : GetImage(program_);
  if (refused.empty()) {
    records_at_host_sync_ = program_.undo.records.size();
    undone_at_host_sync_ = program_.undo.undone.size();
    ViewState& view = program_.display.view;
    if (scaled) {
      // Every image point and the brush's radius are multiplied by the ratio.
      view.StrokeScaleX = scale_x;
      view.StrokeScaleY = scale_y;
      program_.brush_scale = static_cast<float>(std::sqrt(scale_x * scale_y));
      program_.brush.BrushSize *= program_.brush_scale;
    }
    try {
      ScriptPlayer(canvas_).play(inputs);
    } catch (const std::exception& error) {
      std::cerr << "tarvo: painting the strokes again stopped at an input that failed: "
                << error.what() << std::endl;
    }
    if (scaled) {
      program_.brush.BrushSize /= program_.brush_scale;
      program_.brush_scale = 1.0f;
      view.StrokeScaleX = view.StrokeScaleY = 1.0;
    }
    canvas_.forget_tablet_screen();
  }
  repainting_ = false;
  // The canvas took the host's image: the journal cannot replay that, and starts again from it.
  restart(JournalBase::Kind::Snapshot, false);
  if (!refused.empty()) {
    QMessageBox::warning(&canvas_, QApplication::applicationDisplayName(),
                         QString::fromStdString(refused));
  }
  return refused.empty();
}

void RecoverySession::note(Verb verb, std::initializer_list<double> args) {
  const double* a = args.begin();
  if (verb == Verb::Form_MouseUp) {
    journal_.sync_soon();
  } else if (verb == Verb::Tablet_Screen) {
    tablet_screen_ = std::array<double, 4>{a[0], a[1], a[2], a[3]};
  } else if (verb == Verb::Tablet_ProximityChange) {
    proximity_ = a[0];
  }
}

void RecoverySession::check_reach_back() {
  // Records go oldest first when the stack trims, so those from before the start go first.
  records_before_start_ = std::min(records_before_start_, program_.undo.records.size());
  undone_before_start_ = std::min(undone_before_start_, program_.undo.undone.size());
  records_at_host_sync_ = std::min(records_at_host_sync_, program_.undo.records.size());
  undone_at_host_sync_ = std::min(undone_at_host_sync_, program_.undo.undone.size());
  if (fetch_due_) {
    fetch_due_ = false;
    if (program_.canvas.RBuffer.data() != planes_before_fetch_) host_synced();
  }
  // The prelude cannot start a drag: the restart waits for the button's release.
  if (restart_due_ && !program_.stroke.MouseIsDown) restart(JournalBase::Kind::Snapshot, false);
}

bool RecoverySession::eventFilter(QObject* watched, QEvent* event) {
  // Seen before the canvas handles the resize, so the size line comes before anything it causes.
  if (event->type() == QEvent::Resize) {
    // The canvas works in device pixels; Qt reports the resize in logical ones.
    const QSize size = canvas_.device_client_size(static_cast<QResizeEvent*>(event)->size());
    if (!size.isEmpty() && size != recorded_size_) {
      recorded_size_ = size;
      if (!repainting_) {
        check_reach_back();
        const std::initializer_list<double> args{double(size.width()), double(size.height())};
        journal_.record(Verb::Form_Resize, args);
        keep_host_input(Verb::Form_Resize, args);
      }
    }
  }
  return QObject::eventFilter(watched, event);
}

void RecoverySession::restart(JournalBase::Kind kind, bool held_by_host,
                              std::optional<ImageIdentity> image_as_held) {
  JournalStart start;
  const CanvasBuffers& c = program_.canvas;
  journal_.keep_planes(start, c.RBuffer, c.GBuffer, c.BBuffer, c.stroke_planes());
  start.base = JournalBase{kind, base_.image_path};
  if (kind == JournalBase::Kind::ImageFile && program_.HostApp) {
    start.planes_file_sha1 = program_.HostApp->planes_file_checksum();
  }
  start.held_by_host = held_by_host;
  start.image_as_held = std::move(image_as_held);
  start.header = header_;
  if (history_mark_) start.header.push_back(history_mark_());
  start.prelude = prelude();
  journal_.restart(std::move(start));
  records_before_start_ = program_.undo.records.size();
  undone_before_start_ = program_.undo.undone.size();
  restart_due_ = false;
}

// The inputs that bring a fresh canvas to the state the next input meets: the client size, the
// tablet's screen and proximity, the preset, the blend mode, every slider (which carry the brush,
// the colour and the paper grain) and the view.
std::vector<std::string> RecoverySession::prelude() const {
  std::vector<std::string> lines;
  // A window not laid out yet has no size a script can give it; the first resize follows.
  if (canvas_.client_width() > 0 && canvas_.client_height() > 0) {
    lines.push_back(line_of(Verb::Form_Resize,
                            {double(canvas_.client_width()), double(canvas_.client_height())}));
  }
  if (tablet_screen_) {
    const auto& s = *tablet_screen_;
    lines.push_back(line_of(Verb::Tablet_Screen, {s[0], s[1], s[2], s[3]}));
  }
  if (proximity_) lines.push_back(line_of(Verb::Tablet_ProximityChange, {*proximity_}));
  if (panel_) {
    for (const BrushPreset& preset : kBrushPresets) {
      if (!panel_->preset_pressed(preset.button)) continue;
      lines.push_back(line_of(panel_verb(PanelKind::ButtonDown, preset.button), {1, 0, 0, 0}));
    }
    for (std::size_t i = 0; i < kModeMenuItems.size(); ++i) {
      if (kModeMenuItems[i].code == program_.brush.BlendMode) {
        lines.push_back(line_of(panel_verb(PanelKind::ModeItem, static_cast<int>(i)), {}));
      }
    }
    const BrushSettings& brush = program_.brush;
    const float colour[] = {brush.ColorR, brush.ColorG, brush.ColorB};
    for (int n = 1; n <= ToolsPanel::kSliderCount; ++n) {
      const Verb verb = panel_verb(PanelKind::Slider, n);
      const int16_t value = panel_->slider_value(n);
      // A colour slider starts at 1 over a colour of 0, and a slider given its own value does not
      // change: a colour of 1 is reached by way of another value.
      if (n >= 2 && n <= 4 && value == 1 && colour[n - 2] == 1.0f) {
        lines.push_back(line_of(verb, {2}));
      }
      lines.push_back(line_of(verb, {double(value)}));
    }
  }
  const ViewState& view = program_.display.view;
  lines.push_back(line_of(Verb::Form_View, {view.Zoom, double(view.PanX), double(view.PanY)}));
  return lines;
}

}  // namespace tarvo
