#include "file/plane_snapshot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tarvo {

namespace {

constexpr uint32_t kVersion = 1;
constexpr std::size_t kHeaderBytes = 8 + 4 * 4;
constexpr std::size_t kTrailerBytes = 4;
// Pieces small enough to stay in the cache between the checksum and the copy into the file.
constexpr std::size_t kPiece = std::size_t{4} << 20;

void put_word(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t get_word(const uint8_t* at) {
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

uint32_t crc_of(uint32_t crc, const uint8_t* bytes, std::size_t size) {
  while (size > 0) {
    const auto piece = static_cast<uInt>(std::min<std::size_t>(size, std::size_t{1} << 30));
    crc = static_cast<uint32_t>(crc32(crc, bytes, piece));
    bytes += piece;
    size -= piece;
  }
  return crc;
}

std::string hex_of(uint32_t crc) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", crc);
  return text;
}

// A file read from its start, every byte going through the checksum.
class CheckedReader {
 public:
  explicit CheckedReader(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~CheckedReader() {
    if (fd_ >= 0) ::close(fd_);
  }
  CheckedReader(const CheckedReader&) = delete;
  CheckedReader& operator=(const CheckedReader&) = delete;

  bool is_open() const { return fd_ >= 0; }
  int64_t size() const {
    struct stat info {};
    return ::fstat(fd_, &info) == 0 ? info.st_size : -1;
  }
  // Reads exactly size bytes into bytes (or nowhere, when bytes is null); false when the file ends
  // first or cannot be read.
  bool read(uint8_t* bytes, std::size_t size, bool checked = true) {
    std::vector<uint8_t> scratch;
    if (bytes == nullptr) scratch.resize(std::min(size, kPiece));
    while (size > 0) {
      uint8_t* into = bytes ? bytes : scratch.data();
      const std::size_t want = std::min(size, kPiece);
      const ssize_t got = ::read(fd_, into, want);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      const auto n = static_cast<std::size_t>(got);
      if (checked) crc_ = crc_of(crc_, into, n);
      if (bytes) bytes += n;
      size -= n;
    }
    return true;
  }
  uint32_t crc() const { return crc_; }

 private:
  int fd_;
  uint32_t crc_ = static_cast<uint32_t>(crc32(0, nullptr, 0));
};

// Reads and checks the header; the shape is empty when it is no snapshot of this version.
PlaneSnapshotShape read_header(CheckedReader& reader) {
  std::array<uint8_t, kHeaderBytes> header{};
  if (!reader.read(header.data(), header.size())) return {};
  if (!is_plane_snapshot(header) || get_word(&header[8]) != kVersion) return {};
  PlaneSnapshotShape shape;
  shape.columns = static_cast<int32_t>(get_word(&header[12]));
  shape.rows = static_cast<int32_t>(get_word(&header[16]));
  shape.planes = static_cast<int32_t>(get_word(&header[20]));
  if (shape.columns <= 0 || shape.rows <= 0 || shape.planes <= 0 || shape.planes > 8) return {};
  const int64_t expected = static_cast<int64_t>(kHeaderBytes + kTrailerBytes) +
                           int64_t{shape.columns} * shape.rows * shape.planes;
  if (reader.size() != expected) return {};
  return shape;
}

// Whether the trailer holds the checksum of everything read before it.
bool trailer_matches(CheckedReader& reader) {
  const uint32_t crc = reader.crc();
  std::array<uint8_t, kTrailerBytes> trailer{};
  return reader.read(trailer.data(), trailer.size(), false) && get_word(trailer.data()) == crc;
}

}  // namespace

std::string write_plane_snapshot(std::span<const Plane* const> planes, const SnapshotSink& sink) {
  if (planes.empty()) return {};
  std::array<uint8_t, kHeaderBytes> header{};
  std::memcpy(header.data(), kPlaneSnapshotMagic.data(), kPlaneSnapshotMagic.size());
  put_word(&header[8], kVersion);
  put_word(&header[12], static_cast<uint32_t>(planes[0]->columns()));
  put_word(&header[16], static_cast<uint32_t>(planes[0]->rows()));
  put_word(&header[20], static_cast<uint32_t>(planes.size()));
  uint32_t crc = crc_of(static_cast<uint32_t>(crc32(0, nullptr, 0)), header.data(), header.size());
  if (!sink(header.data(), header.size())) return {};
  for (const Plane* plane : planes) {
    const uint8_t* bytes = plane->data();
    for (std::size_t done = 0; done < plane->size(); done += kPiece) {
      const std::size_t size = std::min(kPiece, plane->size() - done);
      crc = crc_of(crc, bytes + done, size);
      if (!sink(bytes + done, size)) return {};
    }
  }
  std::array<uint8_t, kTrailerBytes> trailer{};
  put_word(trailer.data(), crc);
  if (!sink(trailer.data(), trailer.size())) return {};
  return hex_of(crc);
}

bool is_plane_snapshot(std::span<const uint8_t> start) {
  return start.size() >= kPlaneSnapshotMagic.size() &&
         std::memcmp(start.data(), kPlaneSnapshotMagic.data(), kPlaneSnapshotMagic.size()) == 0;
}

std::string plane_snapshot_checksum(const std::string& path) {
  CheckedReader reader(path);
  if (!reader.is_open()) return {};
  const PlaneSnapshotShape shape = read_header(reader);
  if (shape.planes == 0) return {};
  const std::size_t bytes = static_cast<std::size_t>(shape.columns) * shape.rows * shape.planes;
  if (!reader.read(nullptr, bytes) || !trailer_matches(reader)) return {};
  return hex_of(reader.crc());
}

std::string read_plane_snapshot(const std::string& path,
                                const std::function<std::string(PlaneSnapshotShape)>& check,
                                std::vector<Plane>& planes) {
  CheckedReader reader(path);
  if (!reader.is_open()) return std::strerror(errno);
  const PlaneSnapshotShape shape = read_header(reader);
  if (shape.planes == 0) return "it is cut short or damaged";
  if (std::string refusal = check(shape); !refusal.empty()) return refusal;
  planes.clear();
  for (int32_t i = 0; i < shape.planes; ++i) {
    planes.emplace_back(shape.columns, shape.rows);
    if (!reader.read(planes.back().data(), planes.back().size())) {
      return "it is cut short or damaged";
    }
  }
  if (!trailer_matches(reader)) return "it is cut short or damaged";
  return {};
}

}  // namespace tarvo
