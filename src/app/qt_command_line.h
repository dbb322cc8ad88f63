#pragma once
// tarvo [IMAGE] [--paper FILE] [--wallpaper FILE] [--size WxH] [--replay SCRIPT] [--record SCRIPT]
//       [--live] [--recover [--onto-file]] [--out FILE] [--no-tablet] [--undo-memory MB] [--help]
//       [--version]
// tarvo IMAGE --history [--layer NAME]
// tarvo IMAGE [--replay SCRIPT | --layer NAME] --timelapse OUT [--fps N] [--seconds S]
//       [--size WxH] [--hold S] [--survivors]

#include <QSize>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <optional>

namespace tarvo {

struct CommandLine {
  QString image = QStringLiteral("untitled.png");  // in the current directory when none is given
  QString paper;
  QString wallpaper;
  QSize new_image_size{1024, 768};
  QString replay;
  QString record;
  QString out;
  // The replayed inputs are taken as a person's: the session is journalled and guarded, and the
  // canvas stays open after the script.
  bool live = false;
  // Writes the painting that can be recovered to --out (or IMAGE) and ends, without a window.
  bool recover = false;
  // With recover: the painting's strokes go onto IMAGE as it is now, not the painting as it was.
  bool onto_file = false;
  bool no_tablet = false;
  // The undo stack's byte budget; 0 means a quarter of the machine's memory.
  std::size_t undo_memory_bytes = 0;

  // Lists the sessions kept in IMAGE's history.
  bool history = false;
  // Renders IMAGE's history (or the --replay script over IMAGE) into this video.
  QString timelapse;
  int fps = 30;
  double seconds = 30.0;
  double hold = 1.0;
  bool survivors = false;
  // With --timelapse, --size is the box the frames fit in (either side may be 0, which the video
  // refuses by name).
  std::optional<QSize> video_size;
  // The history of this GIMP layer of IMAGE (the image's file) instead of IMAGE's own.
  QString layer;
};

// Parses the arguments (argv[0] first). --help and --version print and end the program with status
// 0; a bad argument prints one line naming it and ends the program with status 2.
CommandLine parse_command_line(const QStringList& arguments);

// "WxH" with both at least 1; nothing when the text is not such a size.
std::optional<QSize> parse_size(const QString& text);

}  // namespace tarvo
