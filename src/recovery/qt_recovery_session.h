#pragma once
// A painting session guarded against every way the program can end: from construction on, every
// input that reaches the canvas and the tools panel goes to a session journal, the autosave runs
// after committed strokes, and a crash or a broken display connection writes a crash copy. The
// journal starts afresh, with a prelude restoring the brush and the view, whenever the image has
// been written back (over the image file, when the file holds exactly the planes) or autosaved
// (over a snapshot), and whenever an input reached back before its start: an undo of a stroke the
// journal does not hold, or a Get image.
//
// A host with an image file passes JournalBase{ImageFile, path}; a host without one passes
// JournalBase{Snapshot, {}}, and every journal then paints over a snapshot of the starting planes
// written by the journal's own thread. Such a host keys its store with a name of its own,
// RecoveryStore(key, QString()), and at start offers choose_recovery(find_recoveries(store)): the
// canvas starts from the plan taken, at its open_path (a picture file), and the plan goes to this
// constructor, which plays its inputs.
//
// Every write-back the host finishes retires what the session kept before it (copies, autosaves,
// the crash copy, earlier journals) and what a recovered painting was made from: the image now
// holds all of it, and an older painting of the session must never be offered over it.
//
// Apart from the journal, the session keeps in memory every input since the host's image was last
// read or written (a prelude, then the inputs; sends, fetches and the close left out), so that a
// host which finds its image changed elsewhere can have them painted onto the image as it is now
// (Program::repaint_onto_host). They stop being of use when an undo reaches a stroke from before
// that read or write, and for a recovered painting, whose strokes the host never held; the host is
// told (Host::set_can_repaint) whenever that changes.

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QStringList>
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/program.h"
#include "recovery/qt_crash_copy.h"
#include "recovery/qt_journal.h"
#include "recovery/qt_recovery_plan.h"
#include "script/event_sink.h"

namespace tarvo {

class Form1;
class ToolsPanel;
class RecoveryStore;
class WriteBackWatch;

class RecoverySession : public QObject, public EventSink {
 public:
  // Call once the canvas has loaded its image. When recovered holds a plan, its inputs are played
  // into the canvas first, and the files it came from are removed once the new journal is safe.
  // header lines go into each journal's header ("paper PATH"), and so does the line history_mark
  // gives as each journal starts, when there is one.
  RecoverySession(Program& program, Form1& canvas, RecoveryStore& store, JournalBase base,
                  const RecoveryPlan& recovered = {}, std::vector<std::string> header = {},
                  std::function<std::string()> history_mark = {});
  ~RecoverySession() override;

  // The canvas closed and the image was written: the journal, the crash copy and every copy this
  // session kept are no longer needed.
  void closed_normally();

  SessionJournal& journal() { return journal_; }
  const CrashCopy& crash_copy() const { return crash_copy_; }

  void record(Verb verb, std::initializer_list<double> args) override;

  // Fetches the host's image, as Get image does (an undo brings the canvas back), and plays the
  // inputs since the image was last read or written over it. Returns false, having told the user
  // why, when the image cannot be fetched. Scales other than 1 fetch the image at its new size and
  // paint the inputs scaled by them: each image point, and the brush's size.
  bool repaint_onto_host(double scale_x = 1.0, double scale_y = 1.0);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void restart(JournalBase::Kind kind, bool held_by_host,
               std::optional<ImageIdentity> image_as_held = {});
  // The image holds the painting: what the session kept until now goes.
  void retire_kept();
  std::vector<std::string> prelude() const;
  // An undo or redo of a record older than the journal, or a Get image: inputs the journal cannot
  // replay.
  bool reaches_back(Verb verb, std::initializer_list<double> args) const;
  // An undo or redo of a record older than the given counts of undo and redo records.
  bool undoes_before(Verb verb, std::initializer_list<double> args, std::size_t records,
                     std::size_t undone) const;
  // The canvas holds the host's image as it is now: the inputs kept for it start again.
  void host_synced();
  void keep_host_input(Verb verb, std::initializer_list<double> args);
  void set_host_inputs_usable(bool usable);
  // Runs before each input and once the event loop is idle again after one that reaches back.
  void check_reach_back();
  void note(Verb verb, std::initializer_list<double> args);

  Program& program_;
  Form1& canvas_;
  RecoveryStore& store_;
  const JournalBase base_;
  const std::vector<std::string> header_;
  const std::function<std::string()> history_mark_;
  CrashCopy crash_copy_;
  SessionJournal journal_;
  QStringList recovered_files_;

  EventSink* canvas_next_ = nullptr;
  ToolsPanel* panel_ = nullptr;  // the canvas's, which outlives this session
  EventSink* panel_next_ = nullptr;
  WriteBackWatch* host_ = nullptr;

  QSize recorded_size_;
  std::optional<std::array<double, 4>> tablet_screen_;
  std::optional<double> proximity_;
  // The undo records that were already there when the journal started and are still held: an
  // undo that reaches below them undoes what the journal cannot replay.
  std::size_t records_before_start_ = 0;
  // The same for the redo records.
  std::size_t undone_before_start_ = 0;
  bool restart_due_ = false;

  // The inputs since the host's image was last read or written, prelude first, and whether they
  // still paint what the canvas holds over that image; the undo and redo records there were then.
  std::vector<ScriptEvent> host_inputs_;
  bool host_inputs_usable_ = false;
  std::size_t records_at_host_sync_ = 0;
  std::size_t undone_at_host_sync_ = 0;
  // A Get image is under way: the planes it replaces, to tell whether it took the host's image.
  bool fetch_due_ = false;
  const uint8_t* planes_before_fetch_ = nullptr;
  bool repainting_ = false;  // the kept inputs are being played again
};

}  // namespace tarvo
