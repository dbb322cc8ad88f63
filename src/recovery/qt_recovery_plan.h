#pragma once
// Recovery at the next start: what can bring back the paintings of sessions that did not end
// normally, one a session, newest first. Within a session, a journal whose base is still what it
// was (the image file with the same checksum, or its own snapshot) replays every input up to its
// last sync; when its base has changed (the file was saved elsewhere since), the session's newest
// crash copy or autosave is offered instead, and the plan's notice says why.
//
// A painting stays in the store until it is recovered (and then written or journalled afresh) or
// discarded: declining it ("No") keeps it, however old it grows and whatever is written over the
// image meanwhile. So that a kept journal over the image file survives the next write of that
// file, the next start gives it a copy of its base in the store, before anything is written.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "core/presence.h"
#include "script/event_script.h"

namespace tarvo {

class RecoveryStore;
class Form1;

// A journal as read back: its base, what its header names, and its whole lines. A line cut short
// (the program died while writing it) and everything after it are left out.
struct JournalContents {
  QString base_kind;  // "image" or "snapshot"
  QString base_path;
  QString base_sha1;
  bool held = false;                 // the host held the base: without inputs, nothing to recover
  QString paper_path;                // empty: the built-in paper grain
  std::vector<ScriptEvent> prelude;  // the state the inputs start from
  std::vector<ScriptEvent> inputs;
};
// Raises ScriptError when the file cannot be read or has no base line.
JournalContents read_journal(const QString& path);

struct RecoveryPlan {
  QString open_path;                // the picture to open; empty: nothing to recover
  std::vector<ScriptEvent> events;  // replayed over it (prelude, then inputs)
  QString paper_path;
  QDateTime painted_at;
  QString source;  // the journal or the copy it comes from
  QString notice;  // why the journal was refused, when it was
  // Every file its session kept: removed once the recovered painting is safe again, or when the
  // user discards it.
  QStringList files;
  bool empty() const { return open_path.isEmpty(); }
  // "the session journal PATH (N inputs over BASE)" or "the crash copy PATH".
  std::string description() const;
};

// Every painting kept for the store's key, one a session, newest first. The sessions of a running
// program (its journal is locked) are passed over, and so is a journal whose replay ended the
// program (an input that crashes it would otherwise crash every recovery): the session's copies
// are offered instead, and why the journal was refused is said on standard error. The store is
// tidied first: a journal without inputs over what the host held adds nothing and is removed, and
// a journal over the image file is given its own copy of it.
std::vector<RecoveryPlan> find_recoveries(const RecoveryStore& store);
// The newest of them; empty when there is none, with the notice of a journal that was refused.
RecoveryPlan find_recovery(const RecoveryStore& store);

enum class RecoveryAnswer { Recover, Keep, Discard };
// Asks "Recover the painting that was not saved?" with Yes, No and Discard, saying when it was
// painted, when each painting still kept was painted (kept_times, newest first, this one among
// them), and the plan's notice when there is one.
RecoveryAnswer ask_about_recovery(const RecoveryPlan& plan, const QList<QDateTime>& kept_times);
// Offers each kept painting in turn, newest first, until the user takes one (Yes): No keeps it for
// later, Discard removes it. Returns the plan taken, or an empty one, having said on standard error
// what became of the others.
RecoveryPlan choose_recovery(const std::vector<RecoveryPlan>& kept);
// Removes every file the plan's session kept.
void discard_recovery(const RecoveryPlan& plan);

// What the command line asks of recovery at start, and where the canvas then opens.
struct StartRequest {
  bool recover = false;    // --recover: take the newest kept painting without asking
  bool replaying = false;  // a script drives the program: nobody is asked
  QString image, out, paper;
};

// At start, before the host is registered: with --recover the newest kept painting, or where
// someone looks the one the user takes (choose_recovery); returns the plan and points the request
// at it (the canvas opens the recovered picture and writes to the image). Otherwise says on
// standard error what is kept and returns an empty plan.
RecoveryPlan recovery_at_start(const Presence& presence, const RecoveryStore& store,
                               StartRequest& request);

// After --recover played the plan: written is where the painting went (empty when it failed). When
// that is the store's image itself, the files it was made from are no longer needed and are
// removed.
void finish_recovery(const RecoveryPlan& plan, const RecoveryStore& store, const QString& written);

// Plays the plan's inputs into the canvas, as the live session had them.
void replay_recovery(Form1& canvas, const RecoveryPlan& plan);

}  // namespace tarvo
