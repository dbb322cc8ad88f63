#include "timelapse/qt_timelapse_progress.h"

#include <QApplication>
#include <QFileInfo>
#include <cmath>
#include <iostream>

namespace tarvo {

TimelapseProgressReport::TimelapseProgressReport(const QString& out, bool dialog, QWidget* parent)
    : out_(out) {
  clock_.start();
  if (!dialog) return;
  dialog_ = std::make_unique<QProgressDialog>(parent);
  dialog_->setWindowTitle(QStringLiteral("Make time-lapse"));
  dialog_->setLabelText(QStringLiteral("Making the time-lapse %1...").arg(out));
  dialog_->setCancelButtonText(QStringLiteral("Cancel"));
  dialog_->setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  dialog_->setMinimumDuration(0);
  dialog_->setAutoClose(false);
  dialog_->setAutoReset(false);
  dialog_->setMinimumWidth(420);
}

TimelapseProgressReport::~TimelapseProgressReport() = default;

QString TimelapseProgressReport::text(int64_t done, int64_t total) const {
  const double part = total > 0 ? double(done) / double(total) : 1.0;
  QString line = QStringLiteral("time-lapse %1: %2% (%3 of %4 frames)")
                     .arg(out_)
                     .arg(static_cast<int>(std::floor(part * 100.0)))
                     .arg(done)
                     .arg(total);
  if (done > 0 && done < total) {
    const double left = clock_.elapsed() / 1000.0 * (1.0 - part) / part;
    line += QStringLiteral(", about %1 s left").arg(static_cast<qint64>(std::ceil(left)));
  }
  return line;
}

bool TimelapseProgressReport::update(int64_t done, int64_t total) {
  const qint64 now = clock_.elapsed();
  if (done >= total || last_line_ms_ < 0 || now - last_line_ms_ >= 1000) {
    last_line_ms_ = now;
    std::cerr << "tarvo: " << text(done, total).toStdString() << std::endl;
  }
  if (!dialog_) return true;
  dialog_->setMaximum(static_cast<int>(std::min<int64_t>(total, INT32_MAX)));
  dialog_->setLabelText(text(done, total));
  dialog_->setValue(static_cast<int>(std::min<int64_t>(done, INT32_MAX)));
  QApplication::processEvents();
  return !dialog_->wasCanceled();
}

}  // namespace tarvo
