#pragma once
// Recovery at the next start: what can bring back the paintings of sessions that did not end
// normally, one a session, newest first. Within a session, a journal whose base is still what it
// was (the image file with the same checksum, its own copy of that file, or its snapshot) replays
// every input up to its last sync; when no base is left, the session's newest crash copy or
// autosave is offered instead, and the plan's notice says why. That is the painting as it was.
//
// When the image file has been written or changed since the painting began (the journal names the
// file as the host held it), the question says so and offers, besides keeping it for later, the
// painting as it was (whose host takes the file as it was then, so that writing over the file as
// it is now asks first) and the journal's inputs painted onto the file as it is now.
//
// A painting stays in the store until it is recovered (and then written or journalled afresh) or
// discarded: declining it ("No") keeps it, however old it grows and whatever is written over the
// image meanwhile. So that a kept journal over the image file survives the next write of that
// file, the next start gives it a copy of its base in the store, before anything is written.

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/presence.h"
#include "recovery/qt_journal.h"
#include "script/event_script.h"

namespace tarvo {

class RecoveryStore;
class Form1;

// A journal as read back: its base, what its header names, and its whole lines. A line cut short
// (the program died while writing it) and everything after it are left out.
struct JournalContents {
  QString base_kind;  // "image" or "snapshot"
  QString base_path;
  QString
      base_sha1;  // its checksum: a SHA-1, or a snapshot's own (XXH3-64, or CRC-32 in older ones)
  QString base_copy;  // "image": the journal's own copy of the file; empty in older journals
  bool held = false;  // the host held the base: without inputs, nothing to recover
  // The image file as the host held it when the journal began; empty path: none or unknown.
  QString image_path;
  ImageIdentity image;
  QString paper_path;                // empty: the built-in paper grain
  QString layer;                     // the GIMP layer it was painted on; empty: none named
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
  // A GIMP painting: the image it was painted on, as GIMP names it, and the layer (empty: not
  // known, a painting kept before paintings named their layer). other_layer: the layer is not
  // the one the canvas opens on (the image has no layer of that name any more).
  QString image_name;
  QString layer;
  bool other_layer = false;
  // Every file its session kept: removed once the recovered painting is safe again, or when the
  // user discards it.
  QStringList files;
  // The image file the painting was made over, as it was when the painting began, and whether
  // it holds something else now.
  QString image_path;
  ImageIdentity image_then;
  bool image_changed = false;
  // The journal's inputs (prelude and inputs, without write-backs) when it has any: they can also
  // be painted onto the image file as it is now.
  QString journal;
  std::vector<ScriptEvent> journal_events;

  // Nothing to recover: neither the painting as it was nor inputs to paint onto the file.
  bool empty() const { return open_path.isEmpty() && !paints_onto_image(); }
  // Whether the journal's inputs can be painted onto the image file as it is now, as a choice of
  // their own (they are not already what opening the painting plays over the file).
  bool paints_onto_image() const;
  // The plan that plays the journal's inputs over the image file as it is now.
  RecoveryPlan onto_image() const;
  // The image file as the host of this plan holds it: the file as it was when the painting began,
  // when the painting opens as it was; nothing when the host reads the file itself.
  std::optional<ImageIdentity> image_held() const;
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

// The paintings kept for one layer of a GIMP image whose store is keyed image_key (layers go by
// their name, RecoveryStore::key_of_layer): every painting of that layer; every painting of a
// layer the image no longer has (has_layer says which names it has), marked other_layer, since
// only this question can bring it back; and paintings kept before paintings named their layer.
// Paintings of the image's other layers wait for a run on their own layer, and standard error
// says so. Newest first; image_name and layer are filled in.
std::vector<RecoveryPlan> find_layer_recoveries(
    const QString& image_key, const QString& image_name, const QString& layer,
    const std::function<bool(const QString&)>& has_layer);

// Removes every file the plan's session kept.
void discard_recovery(const RecoveryPlan& plan);

// What the command line asks of recovery at start, and where the canvas then opens.
struct StartRequest {
  bool recover = false;    // --recover: take the newest kept painting without asking
  bool replaying = false;  // a script drives the program: nobody is asked
  QString image, out, paper;
  bool onto_file = false;  // --onto-file: its inputs go onto the image file as it is now
  // Set by recovery: the file at out as the recovered painting's host holds it (the file as it was
  // when the painting began), so that writing over anything else asks first.
  std::optional<ImageIdentity> out_held;
};

// At start, before the host is registered: with --recover the newest kept painting (as it was,
// or with --onto-file its inputs painted onto the file as it is now; the latter too when nothing
// else is left of it), or where someone looks the one the user takes (choose_recovery); returns
// the plan and points the request at it (the canvas opens the recovered picture and writes to the
// image). Otherwise says on standard error what is kept and returns an empty plan.
RecoveryPlan recovery_at_start(const Presence& presence, const RecoveryStore& store,
                               StartRequest& request);

// After --recover played the plan: written is where the painting went (empty when it failed). When
// that is the store's image itself, the files it was made from are no longer needed and are
// removed.
void finish_recovery(const RecoveryPlan& plan, const RecoveryStore& store, const QString& written);

// Plays the plan's inputs into the canvas, as the live session had them.
void replay_recovery(Form1& canvas, const RecoveryPlan& plan);

}  // namespace tarvo
