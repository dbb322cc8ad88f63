#include "recovery/kept_planes.h"

#include <gtest/gtest.h>
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
