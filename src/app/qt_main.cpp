#include "app/qt_main.h"

#include <QFileInfo>
#include <QTimer>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/program.h"
#include "app/qt_application.h"
#include "app/qt_command_line.h"
#include "app/qt_file_host.h"
#include "app/qt_recovery.h"
#include "app/qt_recovery_plan.h"
#include "app/qt_recovery_session.h"
#include "app/qt_signals.h"
#include "canvas/qt_form1.h"
#include "panel/qt_form2.h"
#include "script/event_script.h"
#include "script/qt_script_player.h"
#include "script/qt_script_recorder.h"
#include "script/write_back_watch.h"

namespace tarvo {

namespace {

bool has_display() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (display && *display) || (wayland && *wayland);
}

// A replay, the help and the version need no display: without one, the offscreen platform is
// chosen before Qt starts. Returns false, having said why, when the canvas needs a display and
// there is none.
bool choose_platform(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") || has_display()) return true;
  if (needs_no_display(argc, argv)) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return true;
  }
  std::cerr << "tarvo: there is no display to open the canvas on (DISPLAY is not set).\n"
               "Run it on a desktop, under xvfb-run, or replay a script with --replay."
            << std::endl;
  return false;
}

FileHostOptions host_options(const CommandLine& line) {
  FileHostOptions options;
  options.image_path = line.image;
  options.paper_path = line.paper;
  options.wallpaper_path = line.wallpaper;
  options.new_image_size = line.new_image_size;
  options.output_path = line.out;
  return options;
}

// A replay has no one to watch the window: the host is watched so that a write-back that failed
// inside the close sequence, which carries on regardless, still fails the replay.
void register_host(HostRegistry& registry, const CommandLine& line,
                   const std::shared_ptr<WriteBackReport>& write_back) {
  FileHostOptions options = host_options(line);
  if (line.replay.isEmpty() && !line.recover) {
    register_file_host(registry, std::move(options));
    return;
  }
  watch_write_back(
      registry, [options] { return std::make_unique<FileHost>(options); }, write_back);
}

// What a session journal's header adds: the paper it was painted with.
std::vector<std::string> journal_header(const CommandLine& line) {
  if (line.paper.isEmpty()) return {};
  return {"paper " + QFileInfo(line.paper).absoluteFilePath().toStdString()};
}

// Handler errors outside the event loop are reported as the application reports them inside it.
int report_failure(TarvoApplication& app, const std::exception& error) {
  if (const auto* runtime = dynamic_cast<const RuntimeError*>(&error)) {
    app.report(*runtime);
  } else if (dynamic_cast<const std::bad_alloc*>(&error)) {
    app.report(RuntimeError(error_number::kOutOfMemory, "Out of memory"));
  } else {
    app.report(RuntimeError(error_number::kHostCallFailed, error.what()));
  }
  return 1;
}

// Plays the script, then closes the canvas unless the script did. Returns the exit status: 0 when
// the canvas closed and the image was written.
int play_script(TarvoApplication& app, Form1& canvas, const std::vector<ScriptEvent>& script,
                const std::string& script_name, const WriteBackReport& write_back) {
  PlayResult played;
  try {
    played = ScriptPlayer(canvas).play(script);
    if (!played.canvas_closed && !canvas.close()) {
      std::cerr << "tarvo: " << script_name
                << ": the canvas did not close (the host's image size changed), so the image was "
                   "not written"
                << std::endl;
      return 1;
    }
  } catch (const std::exception& error) {
    return report_failure(app, error);
  }
  if (played.canvas_closed && played.played < script.size()) {
    std::cerr << "tarvo: " << script_name << ":" << played.closed_at_line
              << ": the canvas closed here; the " << script.size() - played.played
              << " events after it were not played" << std::endl;
  }
  if (!write_back.written) {
    std::cerr << "tarvo: the image was not written"
              << (write_back.error.empty() ? std::string() : ": " + write_back.error) << std::endl;
    return 1;
  }
  return app.failed() ? 1 : 0;
}

// Plays the script as a person's input, one event a millisecond from the event loop as a 1 kHz pen
// gives them, and leaves the canvas open for more. A handler's error ends the program as it does
// for live input.
int play_live(TarvoApplication& app, Form1& canvas, const std::vector<ScriptEvent>& script,
              const std::string& script_name) {
  std::size_t next = 0;
  QTimer pace;
  pace.setInterval(1);
  QObject::connect(&pace, &QTimer::timeout, &canvas, [&] {
    if (next < script.size()) {
      ScriptPlayer(canvas).play(std::span<const ScriptEvent>(&script[next++], 1));
      return;
    }
    pace.stop();
    std::cerr << "tarvo: " << script_name << " played; the canvas stays open" << std::endl;
  });
  pace.start();
  const int status = app.exec();
  return app.failed() ? 1 : status;
}

}  // namespace

int run_tarvo(int argc, char** argv) {
  if (!choose_platform(argc, argv)) return 1;
  // A fast drag must deliver every motion sample: each one is a stroke point.
  QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, false);
  QCoreApplication::setAttribute(Qt::AA_CompressTabletEvents, false);
  TarvoApplication app(argc, argv);
  CommandLine line = parse_command_line(app.arguments());
  const bool replaying = !line.replay.isEmpty() || line.recover;
  const bool journalled = (line.replay.isEmpty() || line.live) && !line.recover;
  app.set_interactive(!replaying);

  // The whole script is read, and the recording created, before anything else happens: a bad
  // script or an unwritable recording ends the program before a window opens or a file changes.
  std::vector<ScriptEvent> script;
  std::unique_ptr<ScriptRecorder> recorder;
  try {
    if (!line.replay.isEmpty()) script = read_script_file(line.replay.toStdString());
    if (!line.record.isEmpty()) recorder = std::make_unique<ScriptRecorder>(line.record);
  } catch (const ScriptError& error) {
    std::cerr << "tarvo: " << error.what() << std::endl;
    return 2;
  }

  RecoveryStore recovery(line.out.isEmpty() || line.recover ? line.image : line.out);
  const RecoveryPlan recovered = recovery_at_start(app, recovery, line);
  if (line.recover) {
    if (recovered.empty()) {
      std::cerr << "tarvo: nothing to recover for " << line.image.toStdString()
                << ": no session journal, crash copy or autosave newer than it" << std::endl;
      return 3;
    }
    script = recovered.events;
  }

  HostRegistry registry;
  const auto write_back = std::make_shared<WriteBackReport>();
  register_host(registry, line, write_back);

  Program program;
  program.undo.byte_budget = line.undo_memory_bytes ? line.undo_memory_bytes : default_undo_budget();
  std::unique_ptr<Form1> canvas;
  try {
    Main(program, registry, [&canvas, &line](Program& p) -> CanvasWindow& {
      canvas = std::make_unique<Form1>(p);
      canvas->set_tablet_allowed(!line.no_tablet);
      // The tools panel is a tool window owned by the canvas, which deletes it; the canvas's load
      // sequence shows it.
      p.panel = new Form2(p, canvas.get());
      return *canvas;
    });
  } catch (const RuntimeError& error) {
    app.report(error);
    return 1;
  }
  if (app.failed()) return 1;
  if (recorder) recorder->attach(*canvas);
  // From here on an error that ends the program, or a signal, first keeps the user's work.
  app.set_before_fatal_exit([&] {
    const QString copy = recovery.write_copy(program.canvas);
    std::cerr << "tarvo: the image is saved as " << copy.toStdString() << std::endl;
  });
  canvas->set_after_commit([&] { recovery.after_commit(program.canvas); });
  std::optional<RecoverySession> session;
  if (journalled) {
    session.emplace(program, *canvas, recovery,
                    JournalBase{JournalBase::Kind::ImageFile, line.out.isEmpty() ? line.image : line.out},
                    recovered, journal_header(line));
  }
  SignalCloser on_signal([&](int) {
    try {
      std::cerr << "tarvo: the image is saved as " << recovery.write_copy(program.canvas).toStdString()
                << std::endl;
    } catch (const RuntimeError& error) {
      std::cerr << "tarvo: " << error.what() << std::endl;
    }
    canvas->close();
  });

  int status = 0;
  if (line.live) {
    status = play_live(app, *canvas, script, line.replay.toStdString());
  } else if (replaying) {
    const std::string name = line.recover ? recovered.source.toStdString() : line.replay.toStdString();
    status = play_script(app, *canvas, script, name, *write_back);
    if (line.recover && status == 0) {
      std::cerr << "tarvo: the recovered painting is written to " << line.out.toStdString() << std::endl;
    }
    if (line.recover) finish_recovery(recovered, recovery, status == 0 ? line.out : QString());
  } else {
    status = app.exec();
    if (app.failed()) status = 1;
  }
  // A normal close wrote the image back: the autosave is no longer needed.
  if (!app.failed()) session ? session->closed_normally() : recovery.remove_autosave();
  session.reset();
  canvas.reset();
  return status;
}

}  // namespace tarvo
