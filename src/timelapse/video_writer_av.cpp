#include "timelapse/video_writer_av.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "timelapse/video_error.h"

extern "C" {
#include <libavutil/log.h>
}

namespace tarvo::video {
namespace {

// The last error line the libraries logged on this thread, assembled from the pieces a line may
// be logged in.
thread_local std::string t_last_error;
thread_local bool t_line_ended = true;

void keep_errors(void* object, int level, const char* format, va_list arguments) {
  if (level > AV_LOG_ERROR) return;
  char text[512];
  std::vsnprintf(text, sizeof text, format, arguments);
  std::string piece = text;
  if (t_line_ended) {
    t_last_error.clear();
    const AVClass* type = object ? *static_cast<const AVClass* const*>(object) : nullptr;
    if (type && type->item_name) t_last_error = std::string(type->item_name(object)) + ": ";
  }
  t_line_ended = !piece.empty() && piece.back() == '\n';
  while (!piece.empty() && (piece.back() == '\n' || piece.back() == ' ')) piece.pop_back();
  t_last_error += piece;
}

}  // namespace

void keep_library_log_quiet() {
  static std::once_flag once;
  std::call_once(once, [] {
    av_log_set_level(AV_LOG_ERROR);
    av_log_set_callback(keep_errors);
  });
}

void failure(const std::string& out, const std::string& doing, int av_error) {
  char reason[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(av_error, reason, sizeof reason);
  std::string message = "cannot write " + out + ": " + doing + ": " + reason;
  if (!t_last_error.empty()) message += " (" + t_last_error + ")";
  t_last_error.clear();
  t_line_ended = true;
  throw VideoError(message);
}

}  // namespace tarvo::video
