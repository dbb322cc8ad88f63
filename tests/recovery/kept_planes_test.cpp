#include "recovery/kept_planes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "file/plane_snapshot.h"

namespace tarvo {
namespace {

const auto any_shape = [](PlaneSnapshotShape) { return std::string(); };

TEST(KeptPlanes, TheSnapshotHoldsThePlanesAsTheyWereWhenKept) {
  // Planes of many pages, so that the child lets go of whole pages as it writes them; the child
  // lets go of its share of preview, and not of red although asked to.
  Plane red(3000, 2000), green(3000, 2000), blue(3000, 2000), preview(3000, 2000);
  red.fill(10);
  green.fill(20);
  blue.fill(30);
  preview.fill(40);
  const Plane* const unneeded[] = {&preview, &red};
  const auto kept = KeptPlanes::keep(red, green, blue, ::write, unneeded);
  ASSERT_NE(kept, nullptr);
  red.fill(99);  // painted after the moment kept

  const std::string path = testing::TempDir() + "kept-" + std::to_string(::getpid()) + ".tvp";
  const KeptPlanes::Written written = kept->write_snapshot(path);
  ASSERT_EQ(written.error, 0);
  EXPECT_EQ(written.checksum, plane_snapshot_checksum(path));
  std::vector<Plane> read;
  ASSERT_EQ(read_plane_snapshot(path, any_shape, read), "");
  EXPECT_EQ(read[0](2999, 1999), 10);
  EXPECT_EQ(read[0](1500, 1000), 10);
  EXPECT_EQ(read[1](2999, 1999), 20);
  EXPECT_EQ(read[2](0, 0), 30);
  // What the child let go of was its own share: the program's planes are as it left them.
  EXPECT_EQ(red(1500, 1000), 99);
  EXPECT_EQ(green(1500, 1000), 20);
  EXPECT_EQ(preview(1500, 1000), 40);
  // Once only: the child has left.
  EXPECT_EQ(kept->write_snapshot(path).error, EPIPE);
  std::remove(path.c_str());
}

TEST(KeptPlanes, ASnapshotAnnouncedIsFinishedWhenTheProgramIsKilledAndReadOnceWhole) {
  const std::string path = testing::TempDir() + "killed-" + std::to_string(::getpid()) + ".tvp";
  int announced[2];
  ASSERT_EQ(::pipe(announced), 0);
  const pid_t program = ::fork();
  if (program == 0) {
    // A program that keeps its planes, has the snapshot begun and is killed at once, while its
    // child writes slowly.
    Plane red(400, 300), green(400, 300), blue(400, 300);
    red.fill(7);
    green.fill(8);
    blue.fill(9);
    const auto slow = [](int fd, const void* bytes, std::size_t size) -> ssize_t {
      ::usleep(100'000);
      return ::write(fd, bytes, size);
    };
    const auto kept = KeptPlanes::keep(red, green, blue, slow);
    const std::string checksum = kept ? kept->begin_snapshot(path).checksum : std::string();
    (void)!::write(announced[1], checksum.data(), checksum.size());
    ::kill(::getpid(), SIGKILL);
  }
  ::close(announced[1]);
  char text[64] = {};
  const ssize_t got = ::read(announced[0], text, sizeof text);
  ::close(announced[0]);
  ::waitpid(program, nullptr, 0);
  ASSERT_EQ(got, 16);
  // The child, orphaned, still holds the file: the reader waits for it to be whole.
  EXPECT_EQ(plane_snapshot_checksum(path), std::string(text, 16));
  std::vector<Plane> read;
  ASSERT_EQ(read_plane_snapshot(path, any_shape, read), "");
  EXPECT_EQ(read[1](399, 299), 8);
  std::remove(path.c_str());
}

// The sum of the pixels fed to it: short text, which the child makes without allocating.
class SumDigest : public KeptPlanes::PixelDigest {
 public:
  void add(const uint8_t* bytes, std::size_t size) override {
    for (std::size_t i = 0; i < size; ++i) sum_ += bytes[i];
  }
  std::string text() override { return std::to_string(sum_); }

 private:
  uint64_t sum_ = 0;
};

TEST(KeptPlanes, ThePixelDigestIsOfThePlanesAsKeptAndAWriteMayFollowIt) {
  Plane red(300, 200), green(300, 200), blue(300, 200);
  red.fill(1);
  green.fill(2);
  blue.fill(3);
  SumDigest digest;
  const Plane borrowed = Plane::borrowing(red);  // the planes' own bytes, as a host tap keeps them
  const auto kept = KeptPlanes::keep(borrowed, green, blue, ::write, {}, &digest);
  ASSERT_NE(kept, nullptr);
  red.fill(9);
  // Every pixel but the spare column and row, of red, green and blue as they were.
  const std::string expected = std::to_string(299 * 199 * (1 + 2 + 3));
  EXPECT_EQ(kept->pixel_digest(), expected);
  EXPECT_EQ(kept->pixel_digest(), expected);
  const std::string path = testing::TempDir() + "digest-" + std::to_string(::getpid()) + ".tvp";
  ASSERT_EQ(kept->write_snapshot(path).error, 0);
  std::vector<Plane> read;
  ASSERT_EQ(read_plane_snapshot(path, any_shape, read), "");
  EXPECT_EQ(read[0](10, 10), 1);
  EXPECT_EQ(red(10, 10), 9);  // the borrowed plane never freed or changed the bytes
  std::remove(path.c_str());
}

TEST(KeptPlanes, AWriteThatFailsSaysWhyAndAKeeperNeverAskedLeaves) {
  Plane plane(64, 64);
  const auto full = [](int, const void*, std::size_t) -> ssize_t {
    errno = ENOSPC;
    return -1;
  };
  const std::string path = testing::TempDir() + "full-" + std::to_string(::getpid()) + ".tvp";
  EXPECT_EQ(KeptPlanes::keep(plane, plane, plane, full)->write_snapshot(path).error, ENOSPC);
  std::remove(path.c_str());
  // Destroyed unasked, the keeper's child is waited for and gone.
  KeptPlanes::keep(plane, plane, plane, ::write).reset();
  errno = 0;
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

}  // namespace
}  // namespace tarvo
