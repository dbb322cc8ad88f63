#pragma once
// The file host's progress: work that may take longer than a moment, such as reading or writing a
// large image file.

#include <QString>
#include <QWidget>
#include <functional>

#include "core/presence.h"

namespace tarvo {

// Runs work to its end and rethrows what it throws. Where someone is looking (an interactive
// application on a real display), the work runs on a worker thread while this thread keeps the
// windows drawn, and once it has taken half a second a progress dialog with `label` says what the
// program is doing; input and close requests wait until it is done, so nothing acts on the image
// meanwhile. Otherwise (no display, a replay, before the application exists) the work simply runs
// here, on the calling thread.
void run_with_progress(const Presence& presence, QWidget* parent, const QString& label,
                       const std::function<void()>& work);

// Told how far the work is, as a fraction from 0 to 1, from any thread.
using ProgressReport = std::function<void(double)>;

// The same for work that says how far it is: the dialog shows it as a bar, and appears once the
// work has taken a fifth of a second.
void run_with_progress(const Presence& presence, QWidget* parent, const QString& label,
                       const std::function<void(const ProgressReport&)>& work);

}  // namespace tarvo
