#include "app/qt_application.h"

#include <QMessageBox>
#include <QWidget>
#include <QWindow>
#include <exception>
#include <iostream>

#include "app/qt_app_icon.h"

namespace tarvo {

TarvoApplication::TarvoApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(QStringLiteral("Tarvo"));  // dialogs' title; X11 titles get no suffix
  setApplicationVersion(QStringLiteral(TARVO_VERSION));
  // Desktops match a running program's windows to tarvo.desktop, and so to its icon, by this name.
  setDesktopFileName(QStringLiteral("tarvo"));
  setWindowIcon(tarvo_icon());
  set_interactive(true);
}

void TarvoApplication::set_interactive(bool interactive) {
  const QString platform = platformName();
  presence_.someone_looking =
      interactive && platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void TarvoApplication::report(const RuntimeError& error) {
  const std::string text = error_wording_ ? error_wording_(error) : run_time_error_report(error);
  last_report_ = error.description();
  std::cerr << text << std::endl;
  if (interactive()) {
    // The box belongs to the window the user was in, or else to the canvas.
    QWidget* parent = activeWindow();
    for (QWidget* window : topLevelWidgets()) {
      if (!parent && window->isVisible() && window->inherits("QMainWindow")) parent = window;
    }
    QMessageBox box(QMessageBox::Critical, applicationDisplayName(), QString::fromStdString(text),
                    QMessageBox::Ok, parent);
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(QMessageBox::Ok);
    error_box_ = &box;
    box.exec();
    error_box_ = nullptr;
  }
}

void TarvoApplication::fail(const RuntimeError& error) {
  if (failed_) return;
  failed_ = true;
  if (before_fatal_exit_) {
    try {
      before_fatal_exit_();
    } catch (...) {
      std::cerr << "The recovery copy could not be written." << std::endl;
    }
  }
  report(error);
  exit(1);
}

bool TarvoApplication::belongs_to_error_box(const QObject* receiver) const {
  if (error_box_ == nullptr) return false;
  if (const auto* window = qobject_cast<const QWindow*>(receiver)) {
    return window == error_box_->windowHandle();
  }
  const auto* widget = qobject_cast<const QWidget*>(receiver);
  return widget != nullptr && widget->window() == error_box_;
}

bool TarvoApplication::passes_after_failure(const QObject* receiver, const QEvent* event) const {
  if (belongs_to_error_box(receiver)) return true;
  switch (event->type()) {
    // Windows go on drawing what they hold, and a signal still reaches its handler.
    case QEvent::Paint:
    case QEvent::UpdateRequest:
    case QEvent::Expose:
    case QEvent::Resize:
    case QEvent::Move:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::PlatformSurface:
    case QEvent::WindowActivate:
    case QEvent::WindowDeactivate:
    case QEvent::ActivationChange:
    case QEvent::ApplicationStateChange:
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::FocusAboutToChange:
    case QEvent::LayoutRequest:
    case QEvent::Polish:
    case QEvent::PolishRequest:
    case QEvent::SockAct:
    case QEvent::DeferredDelete:
    case QEvent::Quit:
      return true;
    default:
      return false;
  }
}

bool TarvoApplication::notify(QObject* receiver, QEvent* event) {
  // Once an error has ended the program's work, no handler of the program runs again; only the
  // error box takes input, and the windows keep drawing until the event loop ends.
  if (failed_ && !passes_after_failure(receiver, event)) return false;
  try {
    return QApplication::notify(receiver, event);
  } catch (const RuntimeError& error) {
    fail(error);
  } catch (const std::bad_alloc&) {
    fail(RuntimeError(error_number::kOutOfMemory, "Out of memory"));
  } catch (const std::exception& error) {
    fail(RuntimeError(error_number::kHostCallFailed, error.what()));
  }
  return false;
}

}  // namespace tarvo
