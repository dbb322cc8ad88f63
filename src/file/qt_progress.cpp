#include "file/qt_progress.h"

#include <QApplication>
#include <QProgressDialog>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>

namespace tarvo {

namespace {

constexpr auto kQuietTime = std::chrono::milliseconds(500);
constexpr auto kQuietTimeWithFraction = std::chrono::milliseconds(200);
constexpr int kSteps = 1000;
constexpr auto kPoll = std::chrono::milliseconds(15);

// Holds back the user's input and requests to close a window while the work runs. Window system
// events that only draw pass.
class HoldInput : public QObject {
 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    switch (event->type()) {
      case QEvent::Close:
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseMove:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::TabletPress:
      case QEvent::TabletMove:
      case QEvent::TabletRelease:
      case QEvent::Shortcut:
      case QEvent::ShortcutOverride:
        return true;
      default:
        return false;
    }
  }
};

std::unique_ptr<QProgressDialog> progress_dialog(const QString& label, QWidget* parent, int steps) {
  auto dialog = std::make_unique<QProgressDialog>(label, QString(), 0, steps, parent);
  dialog->setWindowTitle(QApplication::applicationDisplayName());
  dialog->setWindowModality(Qt::ApplicationModal);
  dialog->setCancelButton(nullptr);
  dialog->setMinimumDuration(0);
  dialog->show();
  return dialog;
}

// Runs work as both run_with_progress say; reports: the work tells how far it is.
void run_reporting(const Presence& presence, QWidget* parent, const QString& label,
                   const std::function<void(const ProgressReport&)>& work, bool reports) {
  std::atomic<int> steps_done{0};
  const ProgressReport report = [&steps_done](double fraction) {
    steps_done.store(static_cast<int>(std::clamp(fraction, 0.0, 1.0) * kSteps));
  };
  if (!presence.someone_looking) {
    work(report);
    return;
  }
  HoldInput hold;
  qApp->installEventFilter(&hold);
  std::future<void> done = std::async(std::launch::async, [&] { work(report); });
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<QProgressDialog> dialog;
  while (done.wait_for(kPoll) != std::future_status::ready) {
    if (!dialog && std::chrono::steady_clock::now() - start >=
                       (reports ? kQuietTimeWithFraction : kQuietTime)) {
      dialog = progress_dialog(label, parent, reports ? kSteps : 0);
    }
    if (dialog && reports) dialog->setValue(steps_done.load());
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  }
  dialog.reset();
  qApp->removeEventFilter(&hold);
  done.get();
}

}  // namespace

void run_with_progress(const Presence& presence, QWidget* parent, const QString& label,
                       const std::function<void()>& work) {
  run_reporting(
      presence, parent, label, [&work](const ProgressReport&) { work(); }, false);
}

void run_with_progress(const Presence& presence, QWidget* parent, const QString& label,
                       const std::function<void(const ProgressReport&)>& work) {
  run_reporting(presence, parent, label, work, true);
}

}  // namespace tarvo
