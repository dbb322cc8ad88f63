#include "timelapse/qt_timelapse.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <span>

#include "app/startup.h"
#include "canvas/qt_form1.h"
#include "canvas/undo_stack.h"
#include "core/program.h"
#include "core/runtime_error.h"
#include "panel/qt_form2.h"
#include "recovery/qt_journal.h"
#include "script/qt_script_player.h"
#include "timelapse/qt_replay_host.h"
#include "timelapse/video_writer.h"

namespace tarvo {

namespace {

bool is_pointer(Verb verb) {
  return verb == Verb::Form_MouseDown || verb == Verb::Form_MouseMove ||
         verb == Verb::Form_MouseUp || verb == Verb::Tablet_PacketArrival;
}

// A release that ends a stroke, not a Shift+Ctrl drag that pans or zooms.
bool ends_stroke(const ScriptEvent& event) {
  return event.verb == Verb::Form_MouseUp && event.int16_arg(1) != 3;
}

// A close is not replayed: the canvas of a replay stays open to its end.
bool replayable(const ScriptEvent& event) {
  return event.verb != Verb::Form_Unload;
}

// One piece's canvas: a program started on the piece's host, its windows loaded and hidden.
class ReplayCanvas {
 public:
  ReplayCanvas(const TimelapsePiece& piece, HostImage start) {
    program_.undo.byte_budget = piece.undo_bytes ? piece.undo_bytes : default_undo_budget();
    HostRegistry registry;
    if (piece.entry) {
      registry.register_host(kHostProgId, [&]() -> std::unique_ptr<Host> {
        auto host = std::make_unique<HistoryReplayHost>(std::move(start), *piece.entry);
        history_host_ = host.get();
        return host;
      });
    } else {
      registry.register_host(kHostProgId, piece.make_host);
    }
    Main(program_, registry, [this](Program& p) -> CanvasWindow& {
      form_ = std::make_unique<Form1>(p);
      // The pen near a tablet while a video is made must not reach the replay.
      qApp->removeEventFilter(form_.get());
      p.panel = new Form2(p, form_.get());
      return *form_;
    });
  }

  Program& program() { return program_; }

  void play(const ScriptEvent& event) {
    ScriptPlayer(*form_).play(std::span<const ScriptEvent>(&event, 1));
  }
  void skip(const ScriptEvent& event) {
    if (event.verb == Verb::kv_button3_Click && history_host_) history_host_->skip_image();
  }

  // What the canvas shows: the previews while a stroke is on screen, else the committed planes.
  RgbPlanes frame() const {
    const CanvasBuffers& c = program_.canvas;
    const bool preview = stroke_on_screen(program_.stroke);
    const Plane& r = preview ? c.RPreview : c.RBuffer;
    const Plane& g = preview ? c.GPreview : c.GBuffer;
    const Plane& b = preview ? c.BPreview : c.BBuffer;
    return {r.data(), g.data(), b.data(), c.BufferWidth, c.BufferHeight, r.columns()};
  }
  HostImage image() const {
    const CanvasBuffers& c = program_.canvas;
    return copy_planes(c.RBuffer, c.GBuffer, c.BBuffer);
  }

 private:
  Program program_;
  std::unique_ptr<Form1> form_;  // owns the panel
  HistoryReplayHost* history_host_ = nullptr;
};

// The image a piece starts from: its own, or the one the piece before it ended with.
HostImage start_of(const TimelapsePiece& piece, HostImage& carried) {
  if (!piece.entry) return {};
  const HistoryEntry& entry = *piece.entry;
  if (!entry.start.file.isEmpty()) return read_history_image(entry.start.file);
  if (carried.red.empty()) {
    throw RuntimeError(error_number::kHostCallFailed,
                       "the session " + entry.session.toStdString() +
                           " starts from an image the history does not hold");
  }
  if (pixels_checksum(carried.red, carried.green, carried.blue) != entry.start.sha1) {
    std::cerr << "tarvo: the session " << entry.session.toStdString()
              << " started from another image than the one before it ended with; it is replayed "
                 "over that one"
              << std::endl;
  }
  return std::move(carried);
}

// The changes the undo stack holds, by their numbers.
std::vector<uint64_t> changes_in(const std::deque<UndoRecord>& records) {
  std::vector<uint64_t> changes;
  changes.reserve(records.size());
  for (const UndoRecord& record : records) changes.push_back(record.change);
  return changes;
}

// Which inputs of each piece stay in a video of what survived: every input but those of changes
// undone for good and the undos and redos that had an effect.
std::vector<std::vector<bool>> find_survivors(const std::vector<TimelapsePiece>& pieces) {
  std::vector<std::vector<bool>> kept;
  HostImage carried;
  for (const TimelapsePiece& piece : pieces) {
    std::vector<bool> keep(piece.events.size(), true);
    ReplayCanvas canvas(piece, start_of(piece, carried));
    const Program& program = canvas.program();
    struct Change {
      std::size_t first, last;  // its inputs; a stroke's pointer inputs lie between
    };
    std::map<uint64_t, Change> changes;
    std::set<uint64_t> dead;
    uint64_t newest = 0;
    std::size_t drag_start = 0;
    bool was_down = false;
    for (std::size_t i = 0; i < piece.events.size(); ++i) {
      const ScriptEvent& event = piece.events[i];
      if (!replayable(event)) continue;
      const UndoStack& undo = program.undo;
      const std::vector<uint64_t> undone_before = changes_in(undo.undone);
      const std::size_t held = undo.records.size(), undone = undo.undone.size();
      canvas.play(event);
      if (program.stroke.MouseIsDown && !was_down) drag_start = i;
      was_down = program.stroke.MouseIsDown;
      const uint64_t top = undo.records.empty() ? 0 : undo.records.back().change;
      if (top > newest) {
        // A new change: what could have been redone never will be.
        newest = top;
        changes[top] = Change{ends_stroke(event) ? drag_start : i, i};
        dead.insert(undone_before.begin(), undone_before.end());
      } else if (undo.records.size() != held || undo.undone.size() != undone) {
        keep[i] = false;  // an undo or a redo
      }
    }
    for (const UndoRecord& record : program.undo.undone) dead.insert(record.change);
    for (uint64_t change : dead) {
      const auto found = changes.find(change);
      if (found == changes.end()) continue;
      const Change& c = found->second;
      for (std::size_t i = c.first; i <= c.last; ++i) {
        if (i == c.last || is_pointer(piece.events[i].verb)) keep[i] = false;
      }
    }
    carried = canvas.image();
    kept.push_back(std::move(keep));
  }
  return kept;
}

// The frame fitted inside size, centred on white, for a piece whose image has another size.
QImage fitted(const RgbPlanes& frame, FrameSize size) {
  QImage picture(frame.width, frame.height, QImage::Format_RGB888);
  for (int32_t y = 0; y < frame.height; ++y) {
    uint8_t* line = picture.scanLine(y);
    const std::ptrdiff_t row = y * frame.stride;
    for (int32_t x = 0; x < frame.width; ++x) {
      line[3 * x] = frame.red[row + x];
      line[3 * x + 1] = frame.green[row + x];
      line[3 * x + 2] = frame.blue[row + x];
    }
  }
  QImage canvas(size.width, size.height, QImage::Format_RGB888);
  canvas.fill(Qt::white);
  const QImage scaled =
      picture.scaled(size.width, size.height, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  QPainter painter(&canvas);
  painter.drawImage((size.width - scaled.width()) / 2, (size.height - scaled.height()) / 2, scaled);
  return canvas;
}

class FrameFeed {
 public:
  FrameFeed(VideoWriter& writer, FrameSize image) : writer_(writer), image_(image) {}

  void add(const RgbPlanes& frame, int64_t copies) {
    if (frame.width == image_.width && frame.height == image_.height) {
      writer_.add_frame(frame, copies);
      return;
    }
    const QImage picture = fitted(frame, image_);
    std::vector<uint8_t> planes(static_cast<std::size_t>(image_.width) * image_.height * 3);
    const std::size_t area = static_cast<std::size_t>(image_.width) * image_.height;
    for (int32_t y = 0; y < image_.height; ++y) {
      const uint8_t* line = picture.constScanLine(y);
      for (int32_t x = 0; x < image_.width; ++x) {
        const std::size_t at = static_cast<std::size_t>(y) * image_.width + x;
        planes[at] = line[3 * x];
        planes[area + at] = line[3 * x + 1];
        planes[2 * area + at] = line[3 * x + 2];
      }
    }
    writer_.add_frame({planes.data(), planes.data() + area, planes.data() + 2 * area, image_.width,
                       image_.height, image_.width},
                      copies);
  }

 private:
  VideoWriter& writer_;
  FrameSize image_;
};

}  // namespace

std::vector<TimelapsePiece> history_pieces(const HistoryStore& store, const QString& image_name) {
  std::vector<HistoryEntry> entries = store.entries(true);
  // A history begins with a session whose start it holds.
  auto first = std::find_if(entries.begin(), entries.end(),
                            [](const HistoryEntry& e) { return !e.start.file.isEmpty(); });
  if (first == entries.end()) {
    throw RuntimeError(error_number::kFileNotFound,
                       image_name.toStdString() +
                           " has no history: no session that wrote it is "
                           "kept in " +
                           store.folder().toStdString());
  }
  std::vector<TimelapsePiece> pieces;
  for (auto it = first; it != entries.end(); ++it) {
    TimelapsePiece piece;
    piece.events = std::move(it->inputs);
    piece.undo_bytes = it->undo_bytes;
    piece.entry = std::move(*it);
    pieces.push_back(std::move(piece));
  }
  return pieces;
}

bool replay_frames(std::vector<TimelapsePiece>& pieces, const TimelapseTiming& timing,
                   bool survivors, const FrameTaker& take) {
  std::vector<std::vector<bool>> kept;
  if (survivors) {
    kept = find_survivors(pieces);
  } else {
    for (const TimelapsePiece& piece : pieces) kept.emplace_back(piece.events.size(), true);
  }
  int64_t inputs = 0;
  std::vector<int64_t> releases;
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    for (std::size_t i = 0; i < pieces[p].events.size(); ++i) {
      if (!kept[p][i] || !replayable(pieces[p].events[i])) continue;
      if (ends_stroke(pieces[p].events[i])) releases.push_back(inputs);
      ++inputs;
    }
  }
  const FrameSchedule schedule = schedule_frames(inputs, releases, timing);
  const std::vector<int64_t>& at = schedule.inputs_before_frame;
  const int64_t total = schedule.total_frames();
  std::size_t next = 0;
  int64_t played = 0, done = 0;
  bool stopped = false;
  // Takes every frame due after `played` inputs.
  const auto take_frames = [&](const ReplayCanvas& canvas) {
    while (!stopped && next < at.size() && at[next] == played) {
      const int64_t copies = next + 1 == at.size() ? 1 + schedule.hold_frames : 1;
      done += copies;
      ++next;
      stopped = !take(canvas.frame(), copies, done, total);
    }
  };
  HostImage carried;
  for (std::size_t p = 0; p < pieces.size() && !stopped; ++p) {
    const TimelapsePiece& piece = pieces[p];
    ReplayCanvas canvas(piece, start_of(piece, carried));
    take_frames(canvas);
    for (std::size_t i = 0; i < piece.events.size() && !stopped; ++i) {
      const ScriptEvent& event = piece.events[i];
      if (!replayable(event)) continue;
      if (!kept[p][i]) {
        canvas.skip(event);
        continue;
      }
      canvas.play(event);
      ++played;
      take_frames(canvas);
    }
    if (p + 1 < pieces.size()) carried = canvas.image();
  }
  return !stopped;
}

TimelapseResult render_timelapse(std::vector<TimelapsePiece>& pieces,
                                 const TimelapseOptions& options,
                                 const TimelapseProgress& progress) {
  VideoWriter writer(options.out, options.image, {options.timing.fps, options.size});
  FrameFeed feed(writer, options.image);
  const bool whole =
      replay_frames(pieces, options.timing, options.survivors,
                    [&](const RgbPlanes& frame, int64_t copies, int64_t done, int64_t total) {
                      feed.add(frame, copies);
                      return !progress || progress(done, total);
                    });
  TimelapseResult result;
  if (!whole) {
    writer.cancel();
    return result;
  }
  writer.finish();
  result.written = true;
  result.frames = writer.frame_count();
  result.size = writer.frame_size();
  result.note = writer.note();
  return result;
}

}  // namespace tarvo
