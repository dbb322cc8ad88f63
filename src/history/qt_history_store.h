#pragma once
// A painting's history: the sessions that wrote it, kept as the inputs that made them, so that the
// painting can be replayed (and a time-lapse made of it) at any time afterwards. It lives in
// $XDG_DATA_HOME/tarvo/history (~/.local/share/tarvo/history by default), a folder a painting
// named by its recovery key ("photo-1a2b3c4d"; in GIMP the image's key and the layer's name), one
// entry a session named after the session ("20261208-142501-123"):
//
//   SESSION.tvh           the entry: a gzip-compressed event script with its marks (below)
//   SESSION-start.png     the image the session started from, when that is not what the entry
//                         before it ended with (the first session, or a file changed elsewhere):
//                         a copy of the image file when it reads back as exactly those pixels
//                         (so of its own kind, .jpg say), else a PNG of them
//   SESSION-image-N.png   what the host handed over at the session's Nth "Get image"
//   SESSION-paper-N.png   the paper texture (N = 0 at the start, then each "Get paper")
//
// The entry's text is an event script whose "#@" comments say what happened besides the inputs,
// each where it happened:
//
//   # Tarvo 1.1.0 history of a session, started 2026-12-08T14:25:01
//   #@ started 2026-12-08T14:25:01
//   #@ start 3f2a... 1024 768 SESSION-start.png   (SHA-1 of the pixels; the file when stored)
//   #@ paper SESSION-paper-0.png
//   #@ undo-memory 6291456000
//   Form_Resize 1024 768
//   ...
//   #@ image 9c1b... 1024 768 SESSION-image-1.png (after a kv_button3_Click: the host's image)
//   #@ end 77d0... 1024 768 2026-12-08T14:40:12   (a write-back that succeeded: what it wrote)
//   #@ recovered                                  (the painting was recovered after a crash)
//
// An image's checksum is the SHA-1 of its pixels, the red, green and blue planes one after the
// other without their spare column and row; entries chain by it: a session whose start checksum is
// the end checksum of the entry before it starts from that entry's end, which replaying it gives.
// The inputs after an entry's last "end" never reached the image and are not part of its history.
//
// The folder is the user's alone: folders 0700, files 0600. The whole history is bounded by a size
// limit: past it, the paintings painted longest ago lose their oldest entries first (an entry that
// starts from the one dropped goes with it, since it could no longer be replayed), with a line on
// standard error. Near the limit every session keeps the image it started from, so that what came
// before it can go.

#include <QDateTime>
#include <QSize>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/plane.h"
#include "recovery/kept_planes.h"
#include "script/event_script.h"

namespace tarvo {

// The user's settings of the history, in Tarvo's settings file ($XDG_CONFIG_HOME/tarvo/tarvo.ini):
//   [history]
//   keep=true          false: no session is kept
//   size_limit_mb=2048 the whole history's bound, in units of 2^20 bytes
struct HistorySettings {
  bool keep = true;
  int64_t limit_bytes = int64_t{2048} << 20;

  static HistorySettings read();
};

// The SHA-1 (hex) of the pixels of planes with a spare column and row.
std::string pixels_checksum(const Plane& red, const Plane& green, const Plane& blue);
// The same digest for a child that keeps planes (KeptPlanes::pixel_digest), fed their rows.
std::unique_ptr<KeptPlanes::PixelDigest> pixels_checksum_digest();

// An image named in an entry: its checksum, size and the file it is stored in (empty: not stored).
struct HistoryImage {
  std::string sha1;
  QSize size;
  QString file;  // absolute
};

// Something the host handed over during an entry's inputs, after `after` inputs.
struct HistoryHandover {
  enum class Kind { Image, Paper };
  Kind kind = Kind::Image;
  int64_t after = 0;
  HistoryImage image;
};

struct HistoryEntry {
  QString path;  // the .tvh file
  QString session;
  QDateTime started;
  QDateTime ended;  // the last write-back
  HistoryImage start;
  HistoryImage end;
  bool recovered = false;
  std::size_t undo_bytes = 0;  // the undo stack's budget in that session; 0: unknown
  // The inputs up to the last write-back, then the images and papers the host handed over.
  std::vector<ScriptEvent> inputs;
  std::vector<HistoryHandover> handovers;  // in order; a paper with after 0 is the start's
  int64_t strokes = 0;
  // Whether any write-back is recorded: an entry without one is not history (yet).
  bool written() const { return !end.sha1.empty(); }
};

// Reads an entry, also one whose writer was cut short (a crash): whatever whole lines the stream
// holds. With inputs false only the marks are read (enough to list and chain it). Raises
// ScriptError when the file cannot be read or a line is malformed.
HistoryEntry read_history_entry(const QString& path, bool inputs = true);

// The whole of a gzip file's text, or as much of it as is whole (a stream cut short ends at the
// last byte that decompresses); empty and false when it cannot be read at all.
bool read_gzip_text(const QString& path, std::string& text);
// Writes text as a gzip file through a temporary beside it, 0600. Returns what failed, or empty.
QString write_gzip_text(const QString& path, const std::string& text);

class HistoryStore {
 public:
  explicit HistoryStore(QString key);

  static QString directory();
  // The key of a GIMP layer's history: the image's key and the layer's name.
  static QString layer_key(const QString& image_key, const QString& layer_name);

  const QString& key() const { return key_; }
  QString folder() const;

  // The entries with at least one write-back, oldest first; inputs read when asked.
  std::vector<HistoryEntry> entries(bool inputs = false) const;
  // The entry files of the painting, written or not, oldest first.
  QStringList entry_files() const;
  // Every file of the entry whose .tvh is path.
  static QStringList files_of(const QString& path);

 private:
  QString key_;
};

// The bytes the whole history takes.
int64_t history_bytes();

// Drops the oldest entries until the whole history takes at most limit_bytes, never the entry at
// keep. Says on standard error what it dropped. Returns the number of entries dropped.
int enforce_history_limit(int64_t limit_bytes, const QString& keep);

}  // namespace tarvo
