#include "app/qt_main.h"

#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/qt_application.h"
#include "app/qt_command_line.h"
#include "app/qt_session.h"
#include "app/qt_timelapse_command.h"
#include "file/qt_file_host.h"
#include "recovery/qt_image_lock.h"
#include "recovery/qt_recovery.h"
#include "recovery/qt_recovery_plan.h"
#include "script/event_script.h"
#include "script/qt_script_recorder.h"

namespace tarvo {

namespace {

// The exit status of a run refused because another canvas paints on its file.
constexpr int kExitImageInUse = 4;

bool has_display() {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (display && *display) || (wayland && *wayland);
}

// Without a display the offscreen platform is chosen before Qt starts, so that the command line is
// read (and a usage error named) whatever it asks for. Returns whether the platform was forced so.
bool choose_platform() {
  if (std::getenv("QT_QPA_PLATFORM") || has_display()) return false;
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  return true;
}

// A replay, a recovery, the help and the version need no display; the canvas does. Returns false,
// having said why, when the canvas needs a display and there is none.
bool display_for(const CommandLine& line, bool no_display) {
  if (!no_display || !line.replay.isEmpty() || line.recover) return true;
  std::cerr << "tarvo: there is no display to open the canvas on (DISPLAY is not set).\n"
               "Run it on a desktop, under xvfb-run, or replay a script with --replay."
            << std::endl;
  return false;
}

FileHostOptions host_options(const CommandLine& line, TarvoApplication& app,
                             const StartRequest& request) {
  FileHostOptions options;
  options.helper = &app.row_helper();
  if (request.out_held) {
    options.output_size = request.out_held->size;
    options.output_checksum =
        QByteArray::fromHex(QByteArray::fromStdString(request.out_held->sha1));
  }
  options.presence = &app.presence();
  options.image_path = line.image;
  options.paper_path = line.paper;
  options.wallpaper_path = line.wallpaper;
  options.new_image_size = line.new_image_size;
  options.output_path = line.out;
  return options;
}

// What a session journal's header adds: the paper it was painted with.
std::vector<std::string> journal_header(const CommandLine& line) {
  if (line.paper.isEmpty()) return {};
  return {"paper " + QFileInfo(line.paper).absoluteFilePath().toStdString()};
}

// Another canvas has the file this run would write: says so, where someone looks in a box too,
// and asks that canvas to come to the front.
void refuse_second_canvas(const Presence& presence, const QString& file, const QString& holder,
                          pid_t raising_holder) {
  const QString text = QStringLiteral(
                           "%1 is already open in Tarvo: %2 paints on it. One canvas paints on a "
                           "file at a time; go on in that canvas, or close it first.")
                           .arg(QFileInfo(file).absoluteFilePath(), holder);
  std::cerr << "tarvo: " << text.toStdString() << std::endl;
  if (raising_holder > 0) ::kill(raising_holder, SIGUSR1);
  if (presence.someone_looking) {
    QMessageBox::information(nullptr, QApplication::applicationDisplayName(), text);
  }
}

}  // namespace

int run_tarvo(int argc, char** argv) {
  const bool no_display = choose_platform();
  // A fast drag must deliver every motion sample: each one is a stroke point.
  // The windows' children stay ordinary widgets: a native child is a subsurface on Wayland.
  QCoreApplication::setAttribute(Qt::AA_DontCreateNativeWidgetSiblings);
  QCoreApplication::setAttribute(Qt::AA_CompressHighFrequencyEvents, false);
  QCoreApplication::setAttribute(Qt::AA_CompressTabletEvents, false);
  TarvoApplication app(argc, argv);
  CommandLine line = parse_command_line(app.arguments());
  // The history's commands need no canvas; a video's progress shows in a dialog on a desktop.
  if (line.history) return list_history(line);
  if (!line.timelapse.isEmpty()) {
    return make_timelapse(line, !no_display && QGuiApplication::platformName() != "offscreen");
  }
  if (!display_for(line, no_display)) return 1;
  const bool replaying = !line.replay.isEmpty() || line.recover;
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

  // One canvas per file: the file this run writes is locked until it ends. Until the canvas takes
  // SIGUSR1 (to come to the front), a second canvas's request must not end this one.
  const QString written = line.out.isEmpty() ? line.image : line.out;
  ImageLock lock(ImageLock::path_for_image(written),
                 QStringLiteral("the canvas of process %1").arg(::getpid()), true);
  ::signal(SIGUSR1, SIG_IGN);
  if (const QString holder = written.isEmpty() ? QString() : lock.take(); !holder.isEmpty()) {
    refuse_second_canvas(app.presence(), written, holder, lock.raising_holder());
    return kExitImageInUse;
  }

  RecoveryStore recovery(line.out.isEmpty() || line.recover ? line.image : line.out);
  StartRequest request{line.recover, !line.replay.isEmpty(), line.image, line.out,
                       line.paper,   line.onto_file,         {}};
  const RecoveryPlan recovered = recovery_at_start(app.presence(), recovery, request);
  line.image = request.image;
  line.out = request.out;
  line.paper = request.paper;
  if (line.recover) {
    if (recovered.empty()) {
      std::cerr << "tarvo: nothing to recover for " << line.image.toStdString()
                << ": no session journal, crash copy or autosave is kept for it" << std::endl;
      return 3;
    }
    script = recovered.events;
  }

  Session session;
  session.make_host = [options = host_options(line, app, request)]() -> std::unique_ptr<Host> {
    return std::make_unique<FileHost>(options);
  };
  session.recovery = &recovery;
  session.replaying = replaying;
  session.live = line.live;
  session.script = std::move(script);
  session.script_name = line.recover ? recovered.source.toStdString() : line.replay.toStdString();
  session.recorder = std::move(recorder);
  session.no_tablet = line.no_tablet;
  session.undo_memory_bytes = line.undo_memory_bytes;
  session.journalled = (line.replay.isEmpty() || line.live) && !line.recover;
  session.journal_base =
      JournalBase{JournalBase::Kind::ImageFile, line.out.isEmpty() ? line.image : line.out};
  session.journal_header = journal_header(line);
  session.recovered = recovered;
  session.history = true;
  const auto finish = [&](int status) {
    if (!line.recover) return;
    if (status == 0) {
      std::cerr << "tarvo: the recovered painting is written to " << line.out.toStdString()
                << std::endl;
    }
    finish_recovery(recovered, recovery, status == 0 ? line.out : QString());
  };
  // Once the session is over and what it keeps is on disk, the program ends without freeing its
  // planes, undo records and windows one by one, which takes seconds for the largest image; a
  // recording is closed by its own destructor, so a session that records ends the usual way.
  if (!session.recorder) {
    session.when_done = [&](int status) {
      finish(status);
      recovery.cancel_autosave();
      lock.release();
      std::cout.flush();
      std::cerr.flush();
      std::fflush(nullptr);
      ::_exit(status);
    };
  }
  const int status = run_session(app, session);
  finish(status);
  return status;
}

}  // namespace tarvo
