#include "recovery/qt_crash_copy.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "recovery/qt_recovery.h"
#include "recovery/write_all.h"

namespace tarvo {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr std::size_t kMessageBytes = PATH_MAX + 64;

// Everything the handler reads is prepared here while the copy is armed.
std::atomic<const CanvasBuffers*> g_canvas{nullptr};
std::atomic<const StrokeState*> g_stroke{nullptr};
char g_path[PATH_MAX];
char g_temporary[PATH_MAX];
char g_message[kMessageBytes];
std::size_t g_message_length = 0;
struct sigaction g_previous[NSIG];
bool g_exit_hook_installed = false;
// A stack of its own, so that a stack overflow can still be written out.
alignas(16) char g_alternate_stack[64 * 1024];
// Rows are interleaved into this buffer a piece at a time.
uint8_t g_row_buffer[3 * 4096];

// Decimal digits of value into out, which holds at least 12 bytes; returns the length.
std::size_t format_decimal(int32_t value, char* out) {
  char digits[12];
  std::size_t n = 0;
  uint32_t v = value < 0 ? 0u : static_cast<uint32_t>(value);
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v > 0);
  for (std::size_t i = 0; i < n; ++i) out[i] = digits[n - 1 - i];
  return n;
}

bool write_header(int fd, int32_t width, int32_t height) {
  char header[40] = "P6\n";
  std::size_t n = 3;
  n += format_decimal(width, header + n);
  header[n++] = ' ';
  n += format_decimal(height, header + n);
  std::memcpy(header + n, "\n255\n", 5);
  return write_all(fd, header, n + 5);
}

struct Planes {
  const Plane &red, &green, &blue;
};

// What the user sees: the previews while a stroke is under way, else the committed planes.
Planes planes_shown(const CanvasBuffers& canvas) {
  const StrokeState* stroke = g_stroke.load();
  if (stroke && stroke_on_screen(*stroke))
    return {canvas.RPreview, canvas.GPreview, canvas.BPreview};
  return {canvas.RBuffer, canvas.GBuffer, canvas.BBuffer};
}

bool write_pixels(int fd, int32_t width, int32_t height, const Planes& planes) {
  const int32_t piece = static_cast<int32_t>(sizeof g_row_buffer / 3);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* r = planes.red.row(y);
    const uint8_t* g = planes.green.row(y);
    const uint8_t* b = planes.blue.row(y);
    for (int32_t x0 = 0; x0 < width; x0 += piece) {
      const int32_t count = width - x0 < piece ? width - x0 : piece;
      for (int32_t i = 0; i < count; ++i) {
        g_row_buffer[3 * i] = r[x0 + i];
        g_row_buffer[3 * i + 1] = g[x0 + i];
        g_row_buffer[3 * i + 2] = b[x0 + i];
      }
      if (!write_all(fd, g_row_buffer, 3 * static_cast<std::size_t>(count))) return false;
    }
  }
  return true;
}

// Async-signal-safe from here down.
bool write_copy(const CanvasBuffers& canvas) {
  const int32_t width = canvas.BufferWidth, height = canvas.BufferHeight;
  const Planes planes = planes_shown(canvas);
  for (const Plane* plane : {&planes.red, &planes.green, &planes.blue}) {
    if (width <= 0 || height <= 0 || plane->rows() < height || plane->columns() < width) {
      return false;
    }
  }
  const int fd = ::open(g_temporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = ::fchmod(fd, 0600) == 0 && write_header(fd, width, height) &&
                       write_pixels(fd, width, height, planes) && ::fsync(fd) == 0;
  ::close(fd);
  if (!written || ::rename(g_temporary, g_path) != 0) {
    ::unlink(g_temporary);
    return false;
  }
  [[maybe_unused]] const ssize_t said = ::write(STDERR_FILENO, g_message, g_message_length);
  return true;
}

void on_crash(int number) {
  if (const CanvasBuffers* canvas = g_canvas.exchange(nullptr)) write_copy(*canvas);
  // The handler that was there before takes the signal: the default ends the program as the
  // crash it is, a sanitizer reports it.
  sigaction(number, &g_previous[number], nullptr);
  raise(number);
}

// exit() while a canvas is armed is a way out nobody planned: the display connection broke, and
// Qt ends the program with status 1. Once the copy is written the program ends at once, with the
// same status: the statics that exit() would destroy next are still in use by the program's other
// threads (the painting history encoding a picture through Qt's image writers), which would crash
// on them.
void on_exit() {
  const CanvasBuffers* canvas = g_canvas.exchange(nullptr);
  if (canvas == nullptr) return;
  write_copy(*canvas);
  std::fflush(nullptr);
  ::_exit(1);
}

void copy_path(char* to, const QByteArray& from) {
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(from.size()), PATH_MAX - 1);
  std::memcpy(to, from.constData(), n);
  to[n] = '\0';
}

void install_alternate_stack() {
  stack_t current{};
  if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;
  stack_t stack{};
  stack.ss_sp = g_alternate_stack;
  stack.ss_size = sizeof g_alternate_stack;
  sigaltstack(&stack, nullptr);
}

}  // namespace

CrashCopy::CrashCopy(const CanvasBuffers& canvas, const QString& path, const StrokeState* stroke)
    : path_(QFileInfo(path).absoluteFilePath()) {
  g_stroke.store(stroke);
  make_private_folder(QFileInfo(path_).absolutePath());
  const QByteArray encoded = QFile::encodeName(path_);
  copy_path(g_path, encoded);
  copy_path(g_temporary, encoded + ".part");
  const QByteArray message = "tarvo: the image is saved as " + encoded + "\n";
  g_message_length = std::min<std::size_t>(static_cast<std::size_t>(message.size()), kMessageBytes);
  std::memcpy(g_message, message.constData(), g_message_length);
  g_canvas.store(&canvas);

  install_alternate_stack();
  struct sigaction action {};
  action.sa_handler = on_crash;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_ONSTACK;
  for (int number : kSignals) sigaction(number, &action, &g_previous[number]);
  // exit() runs its hooks and destroys statics in the reverse order of their making: Qt's image
  // writers find their plug-ins through a static made on first use, which is made before the hook
  // here so that it outlives it.
  if (!g_exit_hook_installed) {
    (void)QImageWriter::supportedImageFormats();
    g_exit_hook_installed = std::atexit(on_exit) == 0;
  }
}

CrashCopy::~CrashCopy() {
  disarm();
  for (int number : kSignals) sigaction(number, &g_previous[number], nullptr);
}

void CrashCopy::disarm() {
  g_canvas.store(nullptr);
}

bool CrashCopy::write_now() const {
  const CanvasBuffers* canvas = g_canvas.load();
  return canvas && write_copy(*canvas);
}

}  // namespace tarvo
