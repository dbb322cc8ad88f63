#pragma once
// SIGTERM, SIGHUP and SIGINT close the canvas as the user closing it would, write-back included;
// SIGUSR1 brings it to the front (a second canvas asks so, refused the same image). The signal
// handler only writes a byte to a pipe; the event loop reads it and runs the handler.

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace tarvo {

class SignalCloser : public QObject {
 public:
  // Installs the handlers; on_signal runs on the event loop for each signal received.
  explicit SignalCloser(std::function<void(int)> on_signal);
  ~SignalCloser() override;

 private:
  std::function<void(int)> on_signal_;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace tarvo
