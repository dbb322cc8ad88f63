#pragma once
// A time-lapse video of a painting, made by replaying its inputs: every session of its history in
// order, or one event script over an image file. Each frame is what the canvas showed after an
// input, the committed image with the stroke in progress (the previews); the frame schedule spaces
// them over the inputs (frame_schedule.h) and the video writer encodes them (video_writer.h).
//
// Each piece (a session, or the script) replays in a canvas of its own, loaded but never shown,
// with the undo budget its session had, so that every input meets the state it met when it was
// painted: the frame after input k is the canvas of a replay cut after input k, and in the
// lossless formats the last frame is the image the painting ends in, byte for byte. A piece that
// starts from the one before it takes that piece's last image.
//
// With survivors, a first replay finds the changes (strokes, clears, fetched images) that were
// undone and never redone; the video then leaves out their inputs and every undo and redo that
// had an effect, so that it shows only what stayed. Its last frame is the same image.
//
// Memory: the planes of one canvas (and its undo records), the frame the writer converts and what
// its encoder keeps; the next piece's canvas is made after the last one's is gone.

#include <QString>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/host.h"
#include "file/qt_image_file.h"
#include "history/qt_history_store.h"
#include "script/event_script.h"
#include "timelapse/frame_schedule.h"
#include "timelapse/video_format.h"
#include "timelapse/video_writer.h"

namespace tarvo {

struct TimelapsePiece {
  std::vector<ScriptEvent> events;
  // The history entry it replays: its start (the image stored with it, else the last image of the
  // piece before it), its papers and fetched images. None for a script, whose host is make_host.
  std::optional<HistoryEntry> entry;
  HostRegistry::Factory make_host;
  std::size_t undo_bytes = 0;  // 0: the machine's default
};

struct TimelapseOptions {
  std::filesystem::path out;
  TimelapseTiming timing;
  std::optional<FrameSize> size;  // the box to fit the frames in; none: the image's size
  bool survivors = false;
  FrameSize image;  // the size of the image the painting ends with
};

// Told after each frame: frames written so far and in all. Returns false to cancel.
using TimelapseProgress = std::function<bool(int64_t done, int64_t total)>;

struct TimelapseResult {
  bool written = false;  // false: cancelled
  int64_t frames = 0;
  FrameSize size;
  std::string note;  // the writer's note on the frame size, if any
};

// The pieces of the history of the painting in store, oldest first: each entry from the first one
// that can be replayed (its start stored). Raises RuntimeError "... has no history" when there is
// none.
std::vector<TimelapsePiece> history_pieces(const HistoryStore& store, const QString& image_name);

// Receives each frame in order, with how many frame times it is shown and the frames so far
// (copies counted) of total. Returns false to stop.
using FrameTaker =
    std::function<bool(const RgbPlanes& frame, int64_t copies, int64_t done, int64_t total)>;

// Replays the pieces, handing take every frame of the video the timing asks for (survivors: of
// what survived). Returns false when take stopped it.
bool replay_frames(std::vector<TimelapsePiece>& pieces, const TimelapseTiming& timing,
                   bool survivors, const FrameTaker& take);

// Renders the pieces into options.out. Raises VideoError (nothing written) for what the output
// cannot take, RuntimeError when a piece cannot be replayed.
TimelapseResult render_timelapse(std::vector<TimelapsePiece>& pieces,
                                 const TimelapseOptions& options,
                                 const TimelapseProgress& progress);

}  // namespace tarvo
