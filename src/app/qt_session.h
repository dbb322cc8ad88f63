#pragma once
// One canvas session, whatever the host: the host object, start-up, the recovery store, the
// signal-driven close, then either the event loop or a headless replay of an event script. The
// stand-alone program and the GIMP plug-in both run their canvas through here.

#include <QString>
#include <QtGlobal>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/qt_application.h"
#include "core/host.h"
#include "core/host_window.h"
#include "recovery/qt_journal.h"
#include "recovery/qt_recovery_plan.h"
#include "script/event_script.h"
#include "script/qt_script_recorder.h"

namespace tarvo {

struct Program;
class Form1;
class RecoveryStore;

struct Session {
  // Creates the host object that start-up asks for by ProgID.
  HostRegistry::Factory make_host;
  // Where the painting is kept when the program ends other than normally; the caller's.
  RecoveryStore* recovery = nullptr;
  // A replay plays these events headless instead of running the event loop; a live replay plays
  // them from the event loop, one a millisecond as a pen gives them, and leaves the canvas open.
  bool replaying = false;
  bool live = false;
  std::vector<ScriptEvent> script;
  std::string script_name;
  std::unique_ptr<ScriptRecorder> recorder;  // --record
  bool no_tablet = false;
  // The host's window, that the canvas and panel stay above and open over; empty: none.
  HostWindow host_window;
  std::size_t undo_memory_bytes = 0;  // 0: a quarter of the machine's memory
  // Whether every input goes to a session journal, over what, and what its header adds; and the
  // recovered painting the canvas starts from, when the user chose to recover one.
  bool journalled = false;
  JournalBase journal_base;
  std::vector<std::string> journal_header;
  RecoveryPlan recovered;
  // Whether the session goes into the painting's history when it writes the image, and under which
  // key (the recovery store's when empty).
  bool history = false;
  QString history_key;
  // Runs once the canvas exists and before events flow, for a host that watches its own link.
  std::function<void(Program&, Form1&, RecoveryStore&)> on_canvas_ready;

  // When set, called with the exit status once the session is over and everything it keeps is on
  // disk (the journal closed, the history finished), before the canvas and the planes are torn
  // down: a program that ends there (_exit) leaves freeing gigabytes to the kernel.
  std::function<void(int status)> when_done;

  // Set by run_session when it returns a non-zero status: what went wrong, in one sentence.
  std::string failure;
  // Errors are told in plain words, with where the painting is kept, instead of as "Run-time
  // error 'N':" reports (a host whose users never see the stand-alone program's design).
  bool plain_error_words = false;
};

// Runs the session to its end and returns the exit status: 0 when the canvas closed normally (in a
// replay: when the image was written).
int run_session(TarvoApplication& app, Session& session);

}  // namespace tarvo
