#include "app/qt_signals.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <csignal>

namespace tarvo {

namespace {

// A signal handler can reach nothing but a global: the write end of the pipe.
int g_signal_pipe[2] = {-1, -1};

void on_signal(int number) {
  const unsigned char byte = static_cast<unsigned char>(number);
  [[maybe_unused]] const ssize_t written = ::write(g_signal_pipe[1], &byte, 1);
}

}  // namespace

SignalCloser::SignalCloser(std::function<void(int)> handler) : on_signal_(std::move(handler)) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signal_pipe) != 0) return;
  ::fcntl(g_signal_pipe[1], F_SETFL, O_NONBLOCK);
  notifier_ = new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] {
    unsigned char byte = 0;
    if (::read(g_signal_pipe[0], &byte, 1) == 1 && on_signal_) on_signal_(byte);
  });
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : {SIGTERM, SIGHUP, SIGINT, SIGUSR1}) sigaction(number, &action, nullptr);
}

SignalCloser::~SignalCloser() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  for (int number : {SIGTERM, SIGHUP, SIGINT}) sigaction(number, &action, nullptr);
  // The image lock may still say that this process takes SIGUSR1: it must never end it.
  action.sa_handler = SIG_IGN;
  sigaction(SIGUSR1, &action, nullptr);
  for (int& fd : g_signal_pipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

}  // namespace tarvo
