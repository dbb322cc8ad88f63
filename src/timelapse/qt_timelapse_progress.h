#pragma once
// How far a time-lapse has come: on standard error, a line at most once a second and one at the
// end ("tarvo: time-lapse paint.mp4: 42% (378 of 900 frames), about 12 s left"), and, where a
// person looks, a dialog with the same text and a Cancel button, over the canvas when there is
// one.

#include <QElapsedTimer>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <cstdint>
#include <memory>

class QWidget;

namespace tarvo {

class TimelapseProgressReport {
 public:
  // dialog: show the dialog (over parent, when given).
  TimelapseProgressReport(const QString& out, bool dialog, QWidget* parent = nullptr);
  ~TimelapseProgressReport();

  // frames written of total; returns false once Cancel was pressed.
  bool update(int64_t done, int64_t total);

 private:
  QString text(int64_t done, int64_t total) const;

  QString out_;
  QElapsedTimer clock_;
  qint64 last_line_ms_ = -1;
  std::unique_ptr<QProgressDialog> dialog_;
};

}  // namespace tarvo
