#include "recovery/kept_planes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "file/plane_snapshot.h"
#include "file/png_encoder.h"

namespace tarvo {

namespace {

// The answer: the error number (0 for none), then the checksum (a snapshot's 8 hexadecimal digits,
// or a pixel digest's text) and its length.
struct Answer {
  int32_t error = 0;
  uint32_t length = 0;
  std::array<char, 64> checksum{};
};

bool read_exactly(int fd, void* into, std::size_t size) {
  auto* bytes = static_cast<char*>(into);
  while (size > 0) {
    const ssize_t got = ::read(fd, bytes, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

// Over the socket: a child that is gone is an error, not a signal that ends the program.
bool send_exactly(int fd, const void* from, std::size_t size) {
  const auto* bytes = static_cast<const char*>(from);
  while (size > 0) {
    const ssize_t put = ::send(fd, bytes, size, MSG_NOSIGNAL);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    bytes += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

// Closes every descriptor of the child but its socket, so that nothing of the program (another
// keeper's socket among them) stays open because this child holds it.
void close_all_but(int kept) {
  if (kept > 3) ::close_range(3, static_cast<unsigned>(kept - 1), 0);
  ::close_range(static_cast<unsigned>(kept + 1), ~0U, 0);
}

// Gives the child's share of the whole pages within [data, data + size) back to the kernel.
void let_go_of(const uint8_t* data, std::size_t size) {
  const auto page = static_cast<uintptr_t>(::getpagesize());
  const auto begin = (reinterpret_cast<uintptr_t>(data) + page - 1) & ~(page - 1);
  const auto end = (reinterpret_cast<uintptr_t>(data) + size) & ~(page - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

// The part of [data, data + size) that lies in one of planes, let go of once it is written: the
// snapshot writes the planes straight from their memory and never reads a piece twice.
void let_go_of_written(const Plane* const (&planes)[3], const void* data, std::size_t size) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  for (const Plane* plane : planes) {
    if (bytes >= plane->data() && bytes + size <= plane->data() + plane->size()) {
      let_go_of(bytes, size);
      return;
    }
  }
}

struct ChildSink {
  const KeptPlanes::WriteCall* write;
  int fd;
  int error = 0;
};

// The planes as an 8-bit RGB PNG into put; the CRC-32 of its bytes in hex, empty on failure.
std::string write_png_file(const Plane* const (&planes)[3], const SnapshotSink& put, int& error) {
  const Plane& red = *planes[0];
  const Plane& green = *planes[1];
  const Plane& blue = *planes[2];
  const PngHeader header{std::max(red.columns() - 1, 1), std::max(red.rows() - 1, 1), 8, 2};
  std::vector<uint8_t> file;
  try {
    file = encode_png(
        header,
        [&](int32_t y, uint8_t* out) {
          const uint8_t* r = red.row(y);
          const uint8_t* g = green.row(y);
          const uint8_t* b = blue.row(y);
          for (int32_t x = 0; x < header.width; ++x, out += 3) {
            out[0] = r[x];
            out[1] = g[x];
            out[2] = b[x];
          }
        },
        PngEncodeOptions{}, nullptr);
  } catch (const std::exception&) {
    error = ENOMEM;
    return {};
  }
  if (!put(file.data(), file.size())) return {};
  char text[9];
  std::snprintf(
      text, sizeof text, "%08lx",
      crc32(0, file.data(), static_cast<uInt>(std::min<std::size_t>(file.size(), 1u << 30))));
  return text;
}

// The digest of the planes' pixels, row by row, red, then green, then blue.
Answer pixel_digest_of(const Plane* const (&planes)[3], KeptPlanes::PixelDigest* digest) {
  Answer answer;
  if (digest == nullptr) {
    answer.error = EINVAL;
    return answer;
  }
  for (const Plane* plane : planes) {
    const auto width = static_cast<std::size_t>(std::max(plane->columns() - 1, 0));
    for (int32_t y = 0; y + 1 < plane->rows(); ++y) digest->add(plane->row(y), width);
  }
  const std::string text = digest->text();
  answer.length = static_cast<uint32_t>(std::min(text.size(), answer.checksum.size()));
  std::memcpy(answer.checksum.data(), text.data(), answer.length);
  return answer;
}

// The child's whole life: take the pixels' digest when asked, wait for a path, write the snapshot
// there, answer, leave.
[[noreturn]] void serve(int socket, const Plane* const (&planes)[3],
                        std::span<const Plane* const> unneeded, const KeptPlanes::WriteCall& write,
                        KeptPlanes::PixelDigest* digest, pid_t parent) {
  for (const Plane* plane : unneeded) {
    if (std::find(std::begin(planes), std::end(planes), plane) == std::end(planes)) {
      let_go_of(plane->data(), plane->size());
    }
  }
  sigset_t all;
  sigfillset(&all);
  ::sigprocmask(SIG_SETMASK, &all, nullptr);
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  // Named apart from the program, so that ending the program by its name leaves a snapshot to be
  // finished.
  ::prctl(PR_SET_NAME, "tarvo-kept");
  // The pointer's thread comes first, as for the journal's writer.
  ::setpriority(PRIO_PROCESS, 0, 10);
  if (::getppid() != parent) ::_exit(0);
  close_all_but(socket);
  char form = 0;
  Answer digested;  // taken once: a digest is fed the pixels only once
  bool digest_taken = false;
  while (read_exactly(socket, &form, sizeof form) && form == 'D') {
    if (!digest_taken) digested = pixel_digest_of(planes, digest);
    digest_taken = true;
    if (!send_exactly(socket, &digested, sizeof digested)) ::_exit(0);
  }
  uint32_t length = 0;
  std::array<char, PATH_MAX + 1> path{};
  if (form == 0 || !read_exactly(socket, &length, sizeof length) || length == 0 ||
      length > PATH_MAX || !read_exactly(socket, path.data(), length)) {
    ::_exit(0);
  }
  Answer answer;
  ChildSink sink{&write, ::open(path.data(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600)};
  if (sink.fd < 0) {
    answer.error = errno;
    send_exactly(socket, &answer, sizeof answer);
    ::_exit(0);
  }
  ::fchmod(sink.fd, 0600);
  std::string expected;
  if (form == 'S') {
    // The snapshot is announced before it is written: a reader waits for this lock, and from the
    // answer on the child finishes the file whatever becomes of the program, which may be killed
    // the next moment. The planes are safe from that as soon as the checksum is named.
    ::flock(sink.fd, LOCK_EX);
    expected = plane_snapshot_checksum_of(planes);
    ::prctl(PR_SET_PDEATHSIG, 0);
    answer.length = static_cast<uint32_t>(expected.size());
    std::memcpy(answer.checksum.data(), expected.data(), expected.size());
    send_exactly(socket, &answer, sizeof answer);
  }
  const auto put = [&sink, &planes](const void* data, std::size_t size) {
    const void* const whole = data;
    const std::size_t whole_size = size;
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t put = (*sink.write)(sink.fd, bytes, size);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        sink.error = put < 0 ? errno : ENOSPC;
        return false;
      }
      bytes += put;
      size -= static_cast<std::size_t>(put);
    }
    let_go_of_written(planes, whole, whole_size);
    return true;
  };
  const std::string checksum =
      form == 'P' ? write_png_file(planes, put, sink.error) : write_plane_snapshot(planes, put);
  if (!checksum.empty() && form == 'S' && checksum != expected) sink.error = EIO;
  if (!checksum.empty() && sink.error == 0 && form == 'S' && ::fdatasync(sink.fd) != 0) {
    sink.error = errno;
  }
  ::close(sink.fd);
  answer = Answer{};
  answer.error = !checksum.empty() && sink.error == 0 ? 0 : (sink.error ? sink.error : EIO);
  if (answer.error == 0) {
    answer.length = static_cast<uint32_t>(checksum.size());
    std::memcpy(answer.checksum.data(), checksum.data(), checksum.size());
  }
  send_exactly(socket, &answer, sizeof answer);
  ::_exit(0);
}

}  // namespace

std::unique_ptr<KeptPlanes> KeptPlanes::keep(const Plane& red, const Plane& green,
                                             const Plane& blue, const WriteCall& write,
                                             std::span<const Plane* const> unneeded,
                                             PixelDigest* digest) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return nullptr;
  const Plane* const planes[3] = {&red, &green, &blue};
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child == 0) serve(ends[1], planes, unneeded, write, digest, parent);
  ::close(ends[1]);
  if (child < 0) {
    ::close(ends[0]);
    return nullptr;
  }
  return std::unique_ptr<KeptPlanes>(new KeptPlanes(child, ends[0]));
}

KeptPlanes::~KeptPlanes() {
  close_socket();  // the child reads the end of its commands and leaves
  if (!waited_) return;
  while (::waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

KeptPlanes::Written KeptPlanes::write_snapshot(const std::string& path) {
  Written announced = begin_snapshot(path);
  if (announced.checksum.empty()) return announced;
  return *snapshot_written(-1);
}

KeptPlanes::Written KeptPlanes::begin_snapshot(const std::string& path) {
  Written announced = ask(path, 'S');
  if (announced.checksum.empty()) close_socket();
  return announced;
}

std::optional<KeptPlanes::Written> KeptPlanes::snapshot_written(int timeout_ms) {
  if (socket_ >= 0) {
    pollfd ready{socket_, POLLIN, 0};
    int polled;
    while ((polled = ::poll(&ready, 1, timeout_ms)) < 0 && errno == EINTR) {
    }
    if (polled == 0) return std::nullopt;
  }
  Written written = answer();
  close_socket();
  return written;
}

KeptPlanes::Written KeptPlanes::write_png(const std::string& path) {
  Written written = ask(path, 'P');
  close_socket();
  return written;
}

KeptPlanes::Written KeptPlanes::ask(const std::string& path, char form) {
  const auto length = static_cast<uint32_t>(path.size());
  if (socket_ < 0 || !send_exactly(socket_, &form, sizeof form) ||
      !send_exactly(socket_, &length, sizeof length) ||
      !send_exactly(socket_, path.data(), path.size())) {
    return Written{{}, EPIPE};  // the child is gone
  }
  return answer();
}

KeptPlanes::Written KeptPlanes::answer() {
  Written written;
  Answer answer;
  if (socket_ < 0 || !read_exactly(socket_, &answer, sizeof answer)) {
    written.error = EPIPE;  // the child is gone
  } else if (answer.error != 0) {
    written.error = answer.error;
  } else {
    written.checksum.assign(answer.checksum.data(), std::min<std::size_t>(answer.length, 64));
  }
  return written;
}

void KeptPlanes::close_socket() {
  if (socket_ >= 0) ::close(socket_);
  socket_ = -1;
}

std::string KeptPlanes::pixel_digest() {
  const char form = 'D';
  Answer answer;
  if (socket_ < 0 || !send_exactly(socket_, &form, sizeof form) ||
      !read_exactly(socket_, &answer, sizeof answer) || answer.error != 0) {
    return {};
  }
  return std::string(answer.checksum.data(), std::min<std::size_t>(answer.length, 64));
}

}  // namespace tarvo
