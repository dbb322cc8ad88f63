#include "app/qt_application.h"

#include <QMessageBox>
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
}

bool TarvoApplication::interactive() const {
  const QString platform = platformName();
  return interactive_ && platform != QLatin1String("offscreen") &&
         platform != QLatin1String("minimal");
}

bool someone_is_looking() {
  const auto* app = dynamic_cast<const TarvoApplication*>(QCoreApplication::instance());
  return app != nullptr && app->interactive();
}

void TarvoApplication::report(const RuntimeError& error) const {
  const std::string text = run_time_error_report(error);
  last_report_ = error.description();
  std::cerr << text << std::endl;
  if (interactive()) {
    QMessageBox box(QMessageBox::Critical, applicationDisplayName(), QString::fromStdString(text),
                    QMessageBox::Ok);
    box.exec();
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

bool TarvoApplication::notify(QObject* receiver, QEvent* event) {
  if (failed_) return false;
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
