#pragma once
// Writing a whole buffer to a descriptor, for the recovery copies: one loop over write(2) that
// resumes after a signal and allocates nothing, so the crash handler can use it too.

#include <unistd.h>

#include <cerrno>
#include <cstddef>

namespace tarvo {

// Writes size bytes of data to fd; false (errno set, ENOSPC for a write that took nothing) when
// they could not all be written.
inline bool write_all(int fd, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace tarvo
