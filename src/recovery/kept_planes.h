#pragma once
// Planes kept as they are at one moment without copying them, for a journal's base: a child
// process forked at that moment shares the program's memory, which the kernel copies a page at a
// time only where the program writes afterwards. Keeping the largest image costs the pointer's
// thread the fork alone (its page tables, milliseconds) instead of a copy of every byte into fresh
// memory (most of a second), and no memory beyond the pages painted while the child lives.
//
// The child does nothing until told: it takes a digest of the planes' pixels when asked, then
// writes the planes as a snapshot (plane_snapshot.h) or a PNG file into the file it is given,
// answers with the snapshot's checksum or the error, and leaves; it leaves at once when the object
// is destroyed, and when the program dies, except while it writes a snapshot, which it finishes.
// Between the fork and its end the child only opens, writes and closes files: nothing that
// another thread of the program could have held at the fork.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "core/plane.h"

namespace tarvo {

// Whether the child may allocate memory, as the PNG form does. The C library makes its allocator
// whole again in a child after the fork; the address sanitizer's allocator (GCC 12's) is not, and
// a child that allocates while another thread of the program held one of its locks at the fork
// waits for ever. The snapshot form allocates nothing.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kChildMayAllocate = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kChildMayAllocate = false;
#else
inline constexpr bool kChildMayAllocate = true;
#endif
#else
inline constexpr bool kChildMayAllocate = true;
#endif

class KeptPlanes {
 public:
  // write(2) or a stand-in for it, which the child calls for every write.
  using WriteCall = std::function<ssize_t(int, const void*, std::size_t)>;

  // What the child takes a digest of the planes' pixels with: fed each row of red, then of green,
  // then of blue (the spare column and row left out), then asked for the digest as text of at
  // most 64 characters. Made before the fork; only where kChildMayAllocate.
  class PixelDigest {
   public:
    virtual ~PixelDigest() = default;
    virtual void add(const uint8_t* bytes, std::size_t size) = 0;
    virtual std::string text() = 0;
  };

  // Forks the child that keeps the three planes (of one shape) as they are now; null when the
  // system refuses another process (the caller then copies them). The child lets go at once of
  // its share of the planes in unneeded (those the program writes most while painting: the
  // previews, the coverage), and of each piece of the three as soon as it is written: a page the
  // child no longer shares is the program's alone again, and the program's next write to it
  // needs no copy of it into fresh memory.
  // digest, when given, is what pixel_digest takes the digest with.
  static std::unique_ptr<KeptPlanes> keep(const Plane& red, const Plane& green, const Plane& blue,
                                          const WriteCall& write,
                                          std::span<const Plane* const> unneeded = {},
                                          PixelDigest* digest = nullptr);
  // Tells the child to leave, and waits for it.
  ~KeptPlanes();
  KeptPlanes(const KeptPlanes&) = delete;
  KeptPlanes& operator=(const KeptPlanes&) = delete;

  struct Written {
    std::string checksum;  // the snapshot's, empty when it failed
    int error = 0;         // errno of the failure, when it had one
  };
  // Has the child take the digest given to keep of the planes' pixels as they were kept; empty
  // when there is none or the child is gone. The child stays for a write after it.
  std::string pixel_digest();
  // Has the child write the snapshot to path (a new private file, 0600, synced to the disk) and
  // waits for its end. Once only: the child leaves after it.
  Written write_snapshot(const std::string& path);
  // The same in two steps. The first answers as soon as the child holds the file, locked, and
  // has taken the checksum the snapshot will have (a fraction of the write's time); from then on
  // the child writes the snapshot even if the program is killed, so the planes are as safe as
  // the snapshot will be. The checksum is empty when the file cannot be made (the error says why).
  Written begin_snapshot(const std::string& path);
  // The end of the write begun: waits up to timeout_ms (-1: for ever), and gives nothing while
  // the child is still writing.
  std::optional<Written> snapshot_written(int timeout_ms);
  // The same with the planes encoded as an 8-bit RGB PNG (png_encoder.h, on the child's one
  // thread) instead of a snapshot; the checksum is then the CRC-32 of the file's bytes. Only
  // where kChildMayAllocate.
  Written write_png(const std::string& path);
  // The child's process id, for a caller that must stop its write at once (SIGKILL).
  pid_t child() const { return child_; }
  // The destructor leaves the child unwaited: one killed at child(), whose memory's teardown,
  // long for a large image, is the kernel's, after the program has ended; or one finishing a
  // snapshot begun, which it does on its own.
  void leave_unwaited() { waited_ = false; }

 private:
  KeptPlanes(pid_t child, int socket) : child_(child), socket_(socket) {}
  // Sends the command and path; the child's first answer.
  Written ask(const std::string& path, char form);
  Written answer();
  void close_socket();

  pid_t child_;
  bool waited_ = true;
  int socket_;  // the program's end of the socket the child reads its command from and answers on
};

}  // namespace tarvo
