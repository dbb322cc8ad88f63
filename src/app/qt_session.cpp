#include "app/qt_session.h"

#include <QApplication>
#include <QTimer>
#include <csignal>
#include <exception>
#include <iostream>
#include <new>
#include <optional>
#include <span>

#include "app/qt_signals.h"
#include "app/qt_timelapse_command.h"
#include "app/startup.h"
#include "canvas/qt_form1.h"
#include "canvas/undo_stack.h"
#include "core/program.h"
#include "history/qt_history_session.h"
#include "panel/qt_form2.h"
#include "recovery/qt_recovery.h"
#include "recovery/qt_recovery_session.h"
#include "script/qt_script_player.h"
#include "script/write_back_watch.h"

namespace tarvo {

namespace {

// A replay has no one to watch the window: the host is watched so that a write-back that failed
// inside the close sequence, which carries on regardless, still fails the replay.
// The history, when kept, sees what the host hands over and what is written back.
void register_host(HostRegistry& registry, const Session& session,
                   const std::shared_ptr<WriteBackReport>& write_back,
                   const std::shared_ptr<HistoryLog>& history) {
  HostRegistry::Factory make_host = session.make_host;
  if (history) {
    const QString image_file = session.journal_base.image_path;
    make_host = [inner = std::move(make_host), history, image_file]() -> std::unique_ptr<Host> {
      return std::make_unique<HistoryTap>(inner(), history, image_file);
    };
  }
  if (!session.replaying) {
    registry.register_host(kHostProgId, make_host);
    return;
  }
  watch_write_back(registry, make_host, write_back);
}

std::shared_ptr<HistoryLog> history_of(const Session& session, const RecoveryStore& recovery,
                                       std::size_t undo_bytes) {
  if (!session.history) return nullptr;
  const HistorySettings settings = HistorySettings::read();
  if (!settings.keep) return nullptr;
  const HistoryStore store(session.history_key.isEmpty() ? recovery.key() : session.history_key);
  return std::make_shared<HistoryLog>(store, recovery.session(), settings, undo_bytes);
}

// Says on standard error why the session failed, and keeps it for the caller.
int fail_session(Session& session, const std::string& why) {
  std::cerr << "tarvo: " << why << std::endl;
  session.failure = why;
  return 1;
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
int play_script(TarvoApplication& app, Form1& canvas, Session& session,
                const WriteBackReport& write_back) {
  const std::vector<ScriptEvent>& script = session.script;
  PlayResult played;
  try {
    played = ScriptPlayer(canvas).play(script);
    if (!played.canvas_closed && !canvas.close()) {
      return fail_session(session, session.script_name +
                                       ": the canvas did not close (the host's image size "
                                       "changed), so the image was not written");
    }
  } catch (const std::exception& error) {
    report_failure(app, error);
    session.failure = app.last_report().empty() ? error.what() : app.last_report();
    return 1;
  }
  if (played.canvas_closed && played.played < script.size()) {
    std::cerr << "tarvo: " << session.script_name << ":" << played.closed_at_line
              << ": the canvas closed here; the " << script.size() - played.played
              << " events after it were not played" << std::endl;
  }
  if (!write_back.written) {
    return fail_session(session,
                        "the image was not written" +
                            (write_back.error.empty() ? std::string() : ": " + write_back.error));
  }
  if (app.failed()) {
    session.failure = app.last_report();
    return 1;
  }
  return 0;
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

// As far as the window system lets a program raise its own window unasked.
void bring_to_front(Form1& canvas) {
  if (canvas.isMinimized()) canvas.showNormal();
  canvas.raise();
  canvas.activateWindow();
}

}  // namespace

int run_session(TarvoApplication& app, Session& session) {
  app.set_interactive(!session.replaying);
  RecoveryStore& recovery = *session.recovery;
  Program program;
  lend_row_helper(program, app.row_helper());
  program.undo.byte_budget =
      session.undo_memory_bytes ? session.undo_memory_bytes : default_undo_budget();

  HostRegistry registry;
  const auto write_back = std::make_shared<WriteBackReport>();
  const std::shared_ptr<HistoryLog> history =
      history_of(session, recovery, program.undo.byte_budget);
  register_host(registry, session, write_back, history);

  std::string kept_at;  // the copy written on the way out
  // The wording reads kept_at: it goes before kept_at does, on every way out.
  struct WordingReset {
    TarvoApplication& app;
    ~WordingReset() { app.set_error_wording({}); }
  } wording_reset{app};
  if (session.plain_error_words) {
    app.set_error_wording([&kept_at](const RuntimeError& error) {
      std::string text = "Tarvo has to stop: " + error.description();
      if (!text.empty() && text.back() != '.') text += '.';
      if (!kept_at.empty()) {
        text += " Your painting is saved as " + kept_at +
                ", and Tarvo Paint offers it again when you next run it on this image.";
      }
      return text;
    });
  }
  std::unique_ptr<Form1> canvas;
  try {
    Main(program, registry, [&app, &canvas, &session](Program& p) -> CanvasWindow& {
      canvas = std::make_unique<Form1>(p, app.presence());
      canvas->set_tablet_allowed(!session.no_tablet);
      canvas->set_host_window(session.host_window);
      // The tools panel is a tool window owned by the canvas, which deletes it; the canvas's load
      // sequence shows it.
      p.panel = new Form2(p, canvas.get(), app.presence());
      return *canvas;
    });
  } catch (const RuntimeError& error) {
    app.report(error);
    session.failure = error.description();
    return 1;
  }
  if (app.failed()) {
    session.failure = app.last_report();
    return 1;
  }
  if (session.recorder) session.recorder->attach(*canvas);
  // Before the recovery guard, which plays a recovered painting's inputs into the canvas.
  std::optional<HistorySession> keeping;
  if (history) keeping.emplace(*canvas, history, session.recovered);
  if (history && !session.replaying) {
    const QString key = session.history_key.isEmpty() ? recovery.key() : session.history_key;
    canvas->set_make_timelapse([&canvas, &program, history, key] {
      // The history holds what this session wrote so far too.
      history->flush();
      make_timelapse_from_canvas(*canvas, key,
                                 QString::fromStdString(program.HostApp->image_name()));
    });
  }
  // From here on an error that ends the program, or a signal, first keeps the user's work, a
  // stroke under way included.
  const auto keep_copy = [&] {
    kept_at = recovery.write_copy(program.canvas, program.stroke).toStdString();
    std::cerr << "tarvo: the image is saved as " << kept_at << std::endl;
  };
  const auto keep_copy_saying_where = [&] {
    try {
      keep_copy();
    } catch (const RuntimeError& error) {
      std::cerr << "tarvo: " << error.what() << std::endl;
    }
  };
  app.set_before_fatal_exit(keep_copy);
  canvas->set_after_commit([&] { recovery.after_commit(program.canvas); });
  std::optional<RecoverySession> guard;
  if (session.journalled) {
    std::function<std::string()> history_mark;
    if (keeping) history_mark = [&keeping] { return keeping->journal_mark(); };
    guard.emplace(program, *canvas, recovery, session.journal_base, session.recovered,
                  session.journal_header, std::move(history_mark));
  }
  // A signal closes the canvas as the user would, write-back included, but asks nothing: with a
  // dialog open, after an error, or when the image cannot be written without a question, the
  // program ends at once, keeping a copy of the painting (below). The close first ends a stroke
  // under way as its release would.
  SignalCloser on_signal([&](int number) {
    if (number == SIGUSR1) {
      bring_to_front(*canvas);
      return;
    }
    app.set_interactive(false);
    if (!app.failed() && QApplication::activeModalWidget() == nullptr) {
      canvas->close();
      if (program.closed_with_image_written) return;
    }
    QCoreApplication::exit(1);
  });
  if (session.on_canvas_ready) session.on_canvas_ready(program, *canvas, recovery);

  int status = 0;
  if (session.live) {
    status = play_live(app, *canvas, session.script, session.script_name);
  } else if (session.replaying) {
    status = play_script(app, *canvas, session, *write_back);
  } else {
    status = app.exec();
    if (app.failed()) {
      status = 1;
      session.failure = app.last_report();
    }
  }
  // A close that wrote the image back no longer needs what was kept for recovery. A program that
  // ends without writing its image keeps it all, adds a copy of the painting, and says so in its
  // status.
  if (!app.failed() && program.closed_with_image_written) {
    guard ? guard->closed_normally() : recovery.retire_session();
  } else if (!app.failed() && (!session.replaying || session.live)) {
    keep_copy_saying_where();
    if (status == 0) status = 1;
    if (session.failure.empty()) session.failure = "the image was not written";
  }
  app.set_before_fatal_exit({});
  guard.reset();
  keeping.reset();
  // A session that did not write its image may yet be recovered: its history stays for that.
  if (history) history->finish(app.failed() || !program.closed_with_image_written);
  if (session.when_done) session.when_done(status);
  canvas.reset();
  return status;
}

}  // namespace tarvo
