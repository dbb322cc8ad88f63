#pragma once
// Keeping the session under way in the painting's history (qt_history_log.h): a host that passes
// every call on and tells the history what the host handed over and what was written back, and
// the canvas's and panel's event sink, which gives it every input as it arrives (the canvas's
// resizes included), before passing each on to the next sink.

#include <QObject>
#include <QSize>
#include <memory>
#include <string>

#include "core/forwarding_host.h"
#include "history/qt_history_log.h"
#include "recovery/qt_recovery_plan.h"
#include "script/event_sink.h"

namespace tarvo {

class Form1;
class ToolsPanel;

class HistoryTap : public ForwardingHost {
 public:
  // image_file: the file the host reads and writes, when it has one; a start over it that the
  // host vouches for is kept as a copy of the file.
  HistoryTap(std::unique_ptr<Host> inner, std::shared_ptr<HistoryLog> log, QString image_file = {});

  int32_t Wik_GetPaperWidth() override;
  int32_t wik_GetPaperHeight() override;
  Plane Wik_GetPaper() override;
  Plane Wik_GetRBuffer() override;
  Plane Wik_GetGBuffer() override;
  Plane Wik_GetBBuffer() override;
  void Wik_SaveUndo() override;
  void Wik_SetRbuffer(const Plane& plane) override;
  void Wik_SetGbuffer(const Plane& plane) override;
  void Wik_SetBbuffer(const Plane& plane) override;
  void wik_Refresh() override;

 private:
  std::shared_ptr<HistoryLog> log_;
  QString image_file_;
  int32_t paper_width_ = 0, paper_height_ = 0;
  HostImage fetched_;  // the planes handed out so far, borrowed from their caller
  // The planes of the write-back under way, as the set calls handed them over: the canvas's own,
  // which stay as they are until wik_Refresh returns.
  const Plane* written_red_ = nullptr;
  const Plane* written_green_ = nullptr;
  const Plane* written_blue_ = nullptr;
  bool started_ = false;
};

class HistorySession : public QObject, public EventSink {
 public:
  // From here on every input of canvas and its panel goes to log first. recovered: the painting
  // the session starts from, when it was recovered.
  HistorySession(Form1& canvas, std::shared_ptr<HistoryLog> log, const RecoveryPlan& recovered);
  ~HistorySession() override;

  void record(Verb verb, std::initializer_list<double> args) override;
  // The line a session journal's header carries, naming the history entry and how many of its
  // inputs came before the journal, so that a painting recovered from the journal can complete it.
  std::string journal_mark() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  Form1& canvas_;
  std::shared_ptr<HistoryLog> log_;
  EventSink* canvas_next_ = nullptr;
  ToolsPanel* panel_ = nullptr;
  EventSink* panel_next_ = nullptr;
  QSize recorded_size_;
};

// What the recovered painting's journal says of the crashed session's history entry: the entry in
// folder and its inputs before the journal began, when the painting opened is the journal's own
// base. Empty otherwise (a copy, or the journal's inputs over the image file as it is now).
RecoveredHistory recovered_history(const RecoveryPlan& plan, const QString& folder);

}  // namespace tarvo
