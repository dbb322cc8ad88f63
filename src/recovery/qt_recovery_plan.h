#pragma once
// Recovery at the next start: what can bring back the painting of a session that did not end
// normally, best first. A session journal whose base is still what it was (the image file with the
// same checksum, or its own snapshot) replays every input up to its last sync; when its base has
// changed (the file was saved elsewhere since), the newest crash copy or autosave is offered
// instead, and the plan's notice says why.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "script/event_script.h"

namespace tarvo {

class RecoveryStore;
class TarvoApplication;
class Form1;
struct CommandLine;

// A journal as read back: its base, what its header names, and its whole lines. A line cut short
// (the program died while writing it) and everything after it are left out.
struct JournalContents {
  QString base_kind;  // "image" or "snapshot"
  QString base_path;
  QString base_sha1;
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
  QString source;     // the journal or the copy it comes from
  QString notice;     // why the journal was refused, when it was
  QStringList files;  // what it is made from, removed once the recovered painting is safe again
  bool empty() const { return open_path.isEmpty(); }
  // "the session journal PATH (N inputs over BASE)" or "the crash copy PATH".
  std::string description() const;
};

// The best recovery for the store's key; empty when there is none. Journals still held by a
// running program are passed over, and so is a journal whose replay ended the program (an input
// that crashes it would otherwise crash every recovery): the copies are offered instead.
RecoveryPlan find_recovery(const RecoveryStore& store);

// Asks "Recover the painting that was not saved?", saying when it was painted and, when there is
// one, the plan's notice. True for Yes.
bool ask_whether_to_recover(const RecoveryPlan& plan);

// At start, before the host is registered: with --recover, or on a display when the user answers
// Yes to "Recover the painting that was not saved?", returns the plan and points line at it (the
// canvas opens the recovered picture and writes to the image). Otherwise says on standard error
// what is kept and returns an empty plan.
RecoveryPlan recovery_at_start(TarvoApplication& app, const RecoveryStore& store,
                               CommandLine& line);

// After --recover played the plan: written is where the painting went (empty when it failed). When
// that is the store's image itself, the files it was made from are no longer needed and are removed.
void finish_recovery(const RecoveryPlan& plan, const RecoveryStore& store, const QString& written);

// Plays the plan's inputs into the canvas, as the live session had them.
void replay_recovery(Form1& canvas, const RecoveryPlan& plan);

}  // namespace tarvo
