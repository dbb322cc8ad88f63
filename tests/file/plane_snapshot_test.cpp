#include "file/plane_snapshot.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tarvo {
namespace {

struct SnapshotFile {
  std::string path = testing::TempDir() + "snapshot-" + std::to_string(::getpid()) + ".tvp";
  ~SnapshotFile() { std::remove(path.c_str()); }

  std::string write(const std::vector<Plane>& planes) const {
    std::ofstream out(path, std::ios::binary);
    const Plane* list[] = {&planes[0], &planes[1], &planes[2]};
    return write_plane_snapshot(list, [&out](const void* bytes, std::size_t size) {
      out.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
      return bool(out);
    });
  }
  std::vector<char> bytes() const {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  void rewrite(const std::vector<char>& bytes) const {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
  }
};

std::vector<Plane> patterned_planes(int32_t columns, int32_t rows) {
  std::vector<Plane> planes;
  for (int p = 0; p < 3; ++p) {
    planes.emplace_back(columns, rows);
    for (int32_t y = 0; y < rows; ++y) {
      for (int32_t x = 0; x < columns; ++x) planes[p](x, y) = uint8_t(x * 7 + y * 13 + p * 61);
    }
  }
  return planes;
}

const auto any_shape = [](PlaneSnapshotShape) { return std::string(); };

TEST(PlaneSnapshot, ReadsBackEveryByteAndNamesItsChecksum) {
  const SnapshotFile file;
  const std::vector<Plane> planes = patterned_planes(301, 17);
  const std::string checksum = file.write(planes);
  ASSERT_EQ(checksum.size(), 16u);
  EXPECT_EQ(plane_snapshot_checksum(file.path), checksum);

  std::vector<Plane> read;
  ASSERT_EQ(read_plane_snapshot(file.path, any_shape, read), "");
  ASSERT_EQ(read.size(), 3u);
  for (int p = 0; p < 3; ++p) {
    ASSERT_EQ(read[p].columns(), 301);
    ASSERT_EQ(read[p].rows(), 17);
    EXPECT_TRUE(std::equal(read[p].data(), read[p].data() + read[p].size(), planes[p].data()));
  }
}

TEST(PlaneSnapshot, AFileCutShortOrChangedInOneByteIsRefused) {
  const SnapshotFile file;
  file.write(patterned_planes(64, 48));
  const std::vector<char> whole = file.bytes();
  std::vector<Plane> read;

  std::vector<char> changed = whole;
  changed[changed.size() / 2] ^= 1;
  file.rewrite(changed);
  EXPECT_EQ(plane_snapshot_checksum(file.path), "");
  EXPECT_EQ(read_plane_snapshot(file.path, any_shape, read), "it is cut short or damaged");

  file.rewrite(std::vector<char>(whole.begin(), whole.end() - 1));
  EXPECT_EQ(plane_snapshot_checksum(file.path), "");
  EXPECT_NE(read_plane_snapshot(file.path, any_shape, read), "");
}

TEST(PlaneSnapshot, TheShapeIsCheckedBeforeAnythingIsAllocated) {
  const SnapshotFile file;
  file.write(patterned_planes(10, 10));
  std::vector<Plane> read;
  const auto refuse = [](PlaneSnapshotShape shape) {
    return shape.columns == 10 && shape.rows == 10 && shape.planes == 3 ? "too big" : "";
  };
  EXPECT_EQ(read_plane_snapshot(file.path, refuse, read), "too big");
  EXPECT_TRUE(read.empty());
  EXPECT_FALSE(is_plane_snapshot(std::vector<uint8_t>{0x89, 'P', 'N', 'G'}));
}

TEST(PlaneSnapshot, AnOlderJournalsSnapshotWithItsCrc32StillReads) {
  const SnapshotFile file;
  const std::vector<Plane> planes = patterned_planes(5, 4);
  // Version 1: the same header and planes, then the CRC-32 of everything before it.
  std::vector<char> bytes = {'T', 'V', 'P', 'L', 'A', 'N', 'E', 'S'};
  for (const uint32_t word : {1u, 5u, 4u, 3u}) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(word >> (8 * i)));
  }
  for (const Plane& plane : planes) bytes.insert(bytes.end(), plane.data(), plane.data() + 20);
  const auto crc = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(crc >> (8 * i)));
  file.rewrite(bytes);
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", crc);
  EXPECT_EQ(plane_snapshot_checksum(file.path), hex);
  std::vector<Plane> read;
  ASSERT_EQ(read_plane_snapshot(file.path, any_shape, read), "");
  EXPECT_EQ(read[2](4, 3), planes[2](4, 3));
}

}  // namespace
}  // namespace tarvo
