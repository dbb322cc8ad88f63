#include "file/plane_snapshot.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

namespace tarvo {

namespace {

constexpr uint32_t kVersion = 2;
constexpr std::size_t kHeaderBytes = 8 + 4 * 4;
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

// The running checksum of a snapshot of either version: XXH3-64 takes a tenth of the time CRC-32
// does, which at the largest size is a third of a second.
class Checksum {
 public:
  explicit Checksum(uint32_t version) : version_(version) { XXH3_64bits_reset(&xxh3_); }
  void add(const uint8_t* bytes, std::size_t size) {
    if (version_ == 1) {
      crc_ = crc_of(crc_, bytes, size);
    } else {
      XXH3_64bits_update(&xxh3_, bytes, size);
    }
  }
  uint64_t value() const { return version_ == 1 ? crc_ : XXH3_64bits_digest(&xxh3_); }
  // The trailer's size, and the checksum's hexadecimal digits.
  std::size_t bytes() const { return version_ == 1 ? 4 : 8; }
  std::string hex() const {
    char text[17];
    std::snprintf(text, sizeof text, "%0*llx", static_cast<int>(2 * bytes()),
                  static_cast<unsigned long long>(value()));
    return text;
  }

 private:
  uint32_t version_;
  uint32_t crc_ = static_cast<uint32_t>(crc32(0, nullptr, 0));
  XXH3_state_t xxh3_;
};

// Waits, for at most a minute, until no writer holds fd's file: a snapshot being written by a
// process that outlived the program that began it is read once it is whole.
void wait_for_writer(int fd) {
  for (int tries = 0; tries < 6000 && ::flock(fd, LOCK_SH | LOCK_NB) != 0; ++tries) {
    if (errno != EWOULDBLOCK && errno != EINTR) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// A file read from its start, every byte going through the checksum.
class CheckedReader {
 public:
  explicit CheckedReader(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ >= 0) wait_for_writer(fd_);
  }
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
  // Reads exactly size bytes into bytes (or nowhere, when bytes is null), through the checksum
  // once it is chosen; false when the file ends first or cannot be read.
  bool read(uint8_t* bytes, std::size_t size) {
    std::vector<uint8_t> scratch;
    if (bytes == nullptr) scratch.resize(std::min(size, kPiece));
    while (size > 0) {
      uint8_t* into = bytes ? bytes : scratch.data();
      const std::size_t want = std::min(size, kPiece);
      const ssize_t got = ::read(fd_, into, want);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      const auto n = static_cast<std::size_t>(got);
      if (checksum_) checksum_->add(into, n);
      if (bytes) bytes += n;
      size -= n;
    }
    return true;
  }
  // The checksum of the version read, fed what was read before it.
  void check_from_here(uint32_t version, std::span<const uint8_t> before) {
    checksum_.emplace(version);
    checksum_->add(before.data(), before.size());
  }
  // Stops checking; what the bytes read until now sum to.
  Checksum unchecked() {
    Checksum done = *checksum_;
    checksum_.reset();
    return done;
  }

 private:
  int fd_;
  std::optional<Checksum> checksum_;
};

// Reads and checks the header; the shape is empty when it is no snapshot of this version.
PlaneSnapshotShape read_header(CheckedReader& reader) {
  std::array<uint8_t, kHeaderBytes> header{};
  if (!reader.read(header.data(), header.size())) return {};
  const uint32_t version = get_word(&header[8]);
  if (!is_plane_snapshot(header) || version < 1 || version > kVersion) return {};
  reader.check_from_here(version, header);
  PlaneSnapshotShape shape;
  shape.columns = static_cast<int32_t>(get_word(&header[12]));
  shape.rows = static_cast<int32_t>(get_word(&header[16]));
  shape.planes = static_cast<int32_t>(get_word(&header[20]));
  if (shape.columns <= 0 || shape.rows <= 0 || shape.planes <= 0 || shape.planes > 8) return {};
  const int64_t expected = static_cast<int64_t>(kHeaderBytes + Checksum(version).bytes()) +
                           int64_t{shape.columns} * shape.rows * shape.planes;
  if (reader.size() != expected) return {};
  return shape;
}

// The checksum of everything read before the trailer, in hex; empty when the trailer does not
// hold it.
std::string trailer_checksum(CheckedReader& reader) {
  const Checksum checksum = reader.unchecked();
  std::array<uint8_t, 8> trailer{};
  if (!reader.read(trailer.data(), checksum.bytes())) return {};
  uint64_t stored = get_word(trailer.data());
  if (checksum.bytes() == 8) stored |= uint64_t{get_word(&trailer[4])} << 32;
  return stored == checksum.value() ? checksum.hex() : std::string();
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
  Checksum checksum(kVersion);
  checksum.add(header.data(), header.size());
  if (!sink(header.data(), header.size())) return {};
  for (const Plane* plane : planes) {
    const uint8_t* bytes = plane->data();
    for (std::size_t done = 0; done < plane->size(); done += kPiece) {
      const std::size_t size = std::min(kPiece, plane->size() - done);
      checksum.add(bytes + done, size);
      if (!sink(bytes + done, size)) return {};
    }
  }
  std::array<uint8_t, 8> trailer{};
  put_word(trailer.data(), static_cast<uint32_t>(checksum.value()));
  put_word(&trailer[4], static_cast<uint32_t>(checksum.value() >> 32));
  if (!sink(trailer.data(), checksum.bytes())) return {};
  return checksum.hex();
}

std::string plane_snapshot_checksum_of(std::span<const Plane* const> planes) {
  return write_plane_snapshot(planes, [](const void*, std::size_t) { return true; });
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
  if (!reader.read(nullptr, bytes)) return {};
  return trailer_checksum(reader);
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
  if (trailer_checksum(reader).empty()) return "it is cut short or damaged";
  return {};
}

}  // namespace tarvo
