#pragma once
// The application object: reports an untrapped error at the top of event handling as
// "Run-time error 'N':" with its description (or in the words a host's users read, where the
// session sets them) and ends the program with a non-zero status.

#include <QApplication>

class QWidget;
#include <functional>
#include <string>

#include "canvas/row_split.h"
#include "core/presence.h"
#include "core/runtime_error.h"

namespace tarvo {

class TarvoApplication : public QApplication {
 public:
  TarvoApplication(int& argc, char** argv);

  bool notify(QObject* receiver, QEvent* event) override;

  // Called before the program ends on an untrapped error (the recovery copy hook).
  void set_before_fatal_exit(std::function<void()> hook) { before_fatal_exit_ = std::move(hook); }
  // Message boxes are shown only where a real display exists and no script is driving the program.
  // Start-up decides it and hands presence() to the windows, hosts and recovery; a signal that
  // ends the program turns it off.
  void set_interactive(bool interactive);
  bool interactive() const { return presence_.someone_looking; }
  const Presence& presence() const { return presence_; }
  // The second thread that shares the program's whole-image passes, for as long as it runs.
  RowHelper& row_helper() { return row_helper_; }

  // Reports the error on standard error and, where a display exists, in a message box that Return,
  // Escape or its button dismisses.
  void report(const RuntimeError& error);
  // How report words an error; run_time_error_report until set.
  void set_error_wording(std::function<std::string(const RuntimeError&)> wording) {
    error_wording_ = std::move(wording);
  }
  // Writes the recovery copy, reports the error and ends the event loop with status 1. From then
  // on only the error box takes input.
  void fail(const RuntimeError& error);
  bool failed() const { return failed_; }
  // The description of the last error reported, for a caller that passes it on (the GIMP plug-in
  // returns it to GIMP).
  const std::string& last_report() const { return last_report_; }

 private:
  bool belongs_to_error_box(const QObject* receiver) const;
  bool passes_after_failure(const QObject* receiver, const QEvent* event) const;

  std::function<void()> before_fatal_exit_;
  std::function<std::string(const RuntimeError&)> error_wording_;
  QWidget* error_box_ = nullptr;
  Presence presence_;
  RowHelper row_helper_;
  bool failed_ = false;
  mutable std::string last_report_;
};

}  // namespace tarvo
