#pragma once
// The painting history on the command line and in the canvas: `tarvo IMAGE --history` lists the
// sessions kept, `tarvo IMAGE --timelapse OUT` (or `--replay SCRIPT --timelapse OUT`) makes the
// video, and the canvas's "Options" > "Make time-lapse..." makes one of the open image's history.

#include <QString>

#include "app/qt_command_line.h"

class QWidget;

namespace tarvo {

// The history key of the command line's IMAGE (or of its GIMP layer, with --layer).
QString history_key(const CommandLine& line);

// Prints the sessions of IMAGE's history on standard output. Returns the exit status.
int list_history(const CommandLine& line);

// Makes the time-lapse the command line asks for; dialog: show its progress in a dialog. Returns
// the exit status: 0 written, 1 cancelled or a replay failed, 2 for what the output cannot take or
// a history or script that cannot be read (one line naming it; nothing written).
int make_timelapse(const CommandLine& line, bool dialog);

// Asks where to write a time-lapse of the history kept under key, then makes it with a progress
// dialog over canvas, saying how it went.
void make_timelapse_from_canvas(QWidget& canvas, const QString& key, const QString& image_name);

}  // namespace tarvo
