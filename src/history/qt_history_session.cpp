#include "history/qt_history_session.h"

#include <unistd.h>

#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QResizeEvent>
#include <future>
#include <span>
#include <utility>

#include "canvas/qt_form1.h"
#include "file/qt_image_file.h"
#include "recovery/qt_journal.h"

namespace tarvo {

HistoryTap::HistoryTap(std::unique_ptr<Host> inner, std::shared_ptr<HistoryLog> log,
                       QString image_file)
    : ForwardingHost(std::move(inner)), log_(std::move(log)), image_file_(std::move(image_file)) {}

int32_t HistoryTap::Wik_GetPaperWidth() {
  return paper_width_ = inner().Wik_GetPaperWidth();
}

int32_t HistoryTap::wik_GetPaperHeight() {
  return paper_height_ = inner().wik_GetPaperHeight();
}

Plane HistoryTap::Wik_GetPaper() {
  Plane paper = inner().Wik_GetPaper();
  log_->paper(paper.copy(), paper_width_, paper_height_);
  return paper;
}

// The three planes come one after the other, each kept by its caller until the last has come (the
// image is taken whole or not at all): the image goes to the history with the last. A start over a
// file that the host vouches holds the planes keeps them in a child that takes their checksum and
// leaves once the file's copy is kept (where a child may allocate): the fork instead of a copy of
// the image. Anywhere else the history encodes its own copy of the planes, since a child kept for
// that long would cost the painting a copy of every page it first writes meanwhile.
Plane HistoryTap::Wik_GetRBuffer() {
  Plane plane = inner().Wik_GetRBuffer();
  fetched_.red = Plane::borrowing(plane);
  return plane;
}

Plane HistoryTap::Wik_GetGBuffer() {
  Plane plane = inner().Wik_GetGBuffer();
  fetched_.green = Plane::borrowing(plane);
  return plane;
}

Plane HistoryTap::Wik_GetBBuffer() {
  Plane plane = inner().Wik_GetBBuffer();
  HostImage fetched = std::move(fetched_);
  fetched_ = HostImage{};
  if (fetched.red.empty() || fetched.green.empty()) return plane;
  const std::string file_sha1 =
      started_ || image_file_.isEmpty() ? std::string() : planes_file_checksum();
  const bool one_shape = fetched.red.columns() == plane.columns() &&
                         fetched.green.columns() == plane.columns() &&
                         fetched.red.rows() == plane.rows() && fetched.green.rows() == plane.rows();
  std::shared_ptr<KeptPlanes> kept;
  if (kChildMayAllocate && one_shape && !file_sha1.empty()) {
    const std::unique_ptr<KeptPlanes::PixelDigest> digest = pixels_checksum_digest();
    kept = KeptPlanes::keep(fetched.red, fetched.green, plane, ::write, {}, digest.get());
  }
  HandedImage handed =
      kept ? HandedImage(std::move(kept), QSize(plane.columns() - 1, plane.rows() - 1))
           : HandedImage(HostImage{fetched.red.copy(), fetched.green.copy(), plane.copy(), {}});
  if (started_) {
    log_->image(std::move(handed));
  } else {
    log_->start(std::move(handed), file_sha1.empty() ? QString() : image_file_, file_sha1);
    started_ = true;
  }
  return plane;
}

void HistoryTap::Wik_SaveUndo() {
  written_red_ = written_green_ = written_blue_ = nullptr;
  inner().Wik_SaveUndo();
}

void HistoryTap::Wik_SetRbuffer(const Plane& plane) {
  inner().Wik_SetRbuffer(plane);
  written_red_ = &plane;
}

void HistoryTap::Wik_SetGbuffer(const Plane& plane) {
  inner().Wik_SetGbuffer(plane);
  written_green_ = &plane;
}

void HistoryTap::Wik_SetBbuffer(const Plane& plane) {
  inner().Wik_SetBbuffer(plane);
  written_blue_ = &plane;
}

void HistoryTap::wik_Refresh() {
  const Plane* red = std::exchange(written_red_, nullptr);
  const Plane* green = std::exchange(written_green_, nullptr);
  const Plane* blue = std::exchange(written_blue_, nullptr);
  if (!red || !green || !blue) {
    inner().wik_Refresh();
    return;
  }
  // The checksum of the written planes is taken while the host writes them, from the canvas's
  // planes themselves (no copy): they stay as they are until the write-back returns, so the
  // thread taking it is waited for however the write ends.
  std::future<std::string> sha1 =
      std::async(std::launch::async | std::launch::deferred,
                 [red, green, blue] { return pixels_checksum(*red, *green, *blue); });
  try {
    inner().wik_Refresh();
  } catch (...) {
    sha1.wait();
    throw;
  }
  log_->written(sha1.get(), QSize(red->columns() - 1, red->rows() - 1));
}

HistorySession::HistorySession(Form1& canvas, std::shared_ptr<HistoryLog> log,
                               const RecoveryPlan& recovered)
    : canvas_(canvas), log_(std::move(log)) {
  canvas_next_ = canvas.event_sink();
  canvas.set_event_sink(this);
  panel_ = canvas.program().panel;
  if (panel_) {
    panel_next_ = panel_->event_sink();
    panel_->set_event_sink(this);
  }
  canvas.canvas_area()->installEventFilter(this);
  const QSize size(canvas.client_width(), canvas.client_height());
  if (!size.isEmpty()) {
    recorded_size_ = size;
    log_->record(Verb::Form_Resize, {double(size.width()), double(size.height())});
  }
  if (!recovered.empty()) {
    log_->recovering(recovered_history(recovered, QFileInfo(log_->path()).absolutePath()));
  }
}

HistorySession::~HistorySession() {
  if (canvas_.event_sink() == this) canvas_.set_event_sink(canvas_next_);
  if (panel_ && panel_->event_sink() == this) panel_->set_event_sink(panel_next_);
}

void HistorySession::record(Verb verb, std::initializer_list<double> args) {
  log_->record(verb, args);
  if (verb == Verb::Form_MouseUp) log_->sync_soon();
  EventSink* next = verb_spec(verb).panel == PanelKind::None ? canvas_next_ : panel_next_;
  if (next) next->record(verb, args);
}

std::string HistorySession::journal_mark() const {
  return "history " + QFileInfo(log_->path()).fileName().toStdString() + " " +
         std::to_string(log_->inputs());
}

bool HistorySession::eventFilter(QObject* watched, QEvent* event) {
  // Seen before the canvas handles the resize, so the size line comes before anything it causes.
  if (event->type() == QEvent::Resize) {
    const QSize size = canvas_.device_client_size(static_cast<QResizeEvent*>(event)->size());
    if (!size.isEmpty() && size != recorded_size_) {
      recorded_size_ = size;
      log_->record(Verb::Form_Resize, {double(size.width()), double(size.height())});
    }
  }
  return QObject::eventFilter(watched, event);
}

RecoveredHistory recovered_history(const RecoveryPlan& plan, const QString& folder) {
  if (plan.journal.isEmpty() || plan.source != plan.journal) return {};
  QFile journal(plan.journal);
  if (!journal.open(QIODevice::ReadOnly)) return {};
  RecoveredHistory recovered;
  QByteArray base_sha1;
  while (!journal.atEnd()) {
    const QByteArray line = journal.readLine().trimmed();
    if (line == kJournalInputMark.data()) break;
    const QList<QByteArray> words = line.split(' ');
    if (words.size() == 4 && words[1] == "history") {
      recovered.entry = folder + QLatin1Char('/') + QFile::decodeName(words[2]);
      recovered.inputs = words[3].toLongLong();
    } else if (words.size() >= 5 && words[1] == "base" &&
               (words[2] == "image" || words[2] == "snapshot")) {
      base_sha1 = words.last();
    }
  }
  // Opened over the journal's own base, the painting begins where the journal began; over the
  // image file as it is now, somewhere else.
  if (recovered.entry.isEmpty() || base_sha1.isEmpty() ||
      checksum_of_file(plan.open_path).toHex() != base_sha1) {
    return {};
  }
  return recovered;
}

}  // namespace tarvo
