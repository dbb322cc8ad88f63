#include "file/qt_plain_png.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <QFile>
#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <future>
#include <stdexcept>

#include "canvas/pixel_split.h"

namespace tarvo {

namespace {

struct FileState {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};

  bool operator==(const FileState& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
  }
};

std::optional<FileState> file_state(const QString& path) {
  struct stat info {};
  if (::stat(QFile::encodeName(path).constData(), &info) != 0) return std::nullopt;
  return FileState{info.st_dev, info.st_ino, info.st_size, info.st_mtim};
}

}  // namespace

QByteArray stand_in_png(const PlainPng& png) {
  std::vector<PngChunk> chunks;
  PngChunk& header = chunks.emplace_back();
  header.type = "IHDR";
  header.data = {0,
                 0,
                 0,
                 1,
                 0,
                 0,
                 0,
                 1,
                 static_cast<uint8_t>(png.header.bit_depth),
                 static_cast<uint8_t>(png.header.colour_type),
                 0,
                 0,
                 0};
  chunks.insert(chunks.end(), png.before.begin(), png.before.end());
  const std::vector<uint8_t> row(1 + static_cast<std::size_t>(png.header.bytes_per_pixel()), 0);
  PngChunk& data = chunks.emplace_back();
  data.type = "IDAT";
  uLongf size = compressBound(static_cast<uLong>(row.size()));
  data.data.resize(size);
  compress(data.data.data(), &size, row.data(), static_cast<uLong>(row.size()));
  data.data.resize(size);
  chunks.insert(chunks.end(), png.after.begin(), png.after.end());
  chunks.emplace_back().type = "IEND";
  const std::vector<uint8_t> bytes = write_png_chunks(chunks);
  return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qsizetype>(bytes.size()));
}

// The planes are not mapped ahead here: the decoding thread that writes them waits for the
// inflating one anyway, so its page faults cost nothing, where a mapping thread would take a
// core's share from the inflating thread.
std::optional<PlainPngFile> read_plain_png_rows(const QString& path, QSize size, PlaneCopy copy) {
  const std::optional<FileState> before = file_state(path);
  const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
  std::array<uint8_t, 33> start{};
  const std::optional<PngHeader> plain =
      descriptor >= 0 && ::pread(descriptor, start.data(), start.size(), 0) == 33
          ? plain_png_header(start)
          : std::nullopt;
  if (!before || !plain) {
    if (descriptor >= 0) ::close(descriptor);
    return std::nullopt;
  }
  const PngByteSource source = [descriptor](uint8_t* into, std::size_t size) -> std::size_t {
    while (true) {
      const ssize_t got = ::read(descriptor, into, size);
      if (got >= 0) return static_cast<std::size_t>(got);
      if (errno != EINTR) throw std::runtime_error("the file cannot be read");
    }
  };
  std::future<QByteArray> checksum =
      std::async(std::launch::async, [&path] { return checksum_of_file(path); });
  const bool with_alpha = plain->colour_type == 6;
  const bool lent = copy == PlaneCopy::kLent && !with_alpha;
  const bool copied = makes_plane_copy(copy, !with_alpha);
  const PixelLayout layout = plain->colour_type == 0   ? PixelLayout::kGrey
                             : plain->colour_type == 6 ? PixelLayout::kBytesRgba
                                                       : PixelLayout::kBytesRgb;
  const auto planes = [](int32_t width, int32_t height) {
    return HostImage{Plane(width + 1, height + 1), Plane(width + 1, height + 1),
                     Plane(width + 1, height + 1), Plane()};
  };
  PlainPngFile read;
  ImageFile& result = read.file;
  PlainPng& png = read.png;
  PlainPngResult decoded = PlainPngResult::kDamaged;
  try {
    decoded = decode_plain_png(
        source, png,
        [&](const PngHeader& found) {
          if (found.width != size.width() || found.height != size.height()) {
            throw std::runtime_error("the file changed since its header was read");
          }
          result.image = planes(found.width, found.height);
          if (with_alpha) result.image.alpha = Plane(found.width + 1, found.height + 1);
          if (copied) result.copy = planes(found.width, found.height);
          if (lent) {
            for (RowDigests& digests : result.digests) {
              digests.resize(static_cast<std::size_t>(found.height));
            }
          }
        },
        [&](int32_t y, const uint8_t* pixels) {
          HostImage& image = result.image;
          const PlaneRow out{image.red.row(y), image.green.row(y), image.blue.row(y),
                             with_alpha ? image.alpha.row(y) : nullptr};
          const int32_t width = image.width();
          split_pixel_row(layout, pixels, width, out);
          const uint8_t* rows[3] = {out.red, out.green, out.blue};
          Plane* copies[3] = {&result.copy.red, &result.copy.green, &result.copy.blue};
          for (int c = 0; c < 3; ++c) {
            if (copied) std::memcpy(copies[c]->row(y), rows[c], static_cast<std::size_t>(width));
            if (lent) result.digests[c][static_cast<std::size_t>(y)] = row_digest(rows[c], width);
          }
        });
  } catch (const std::exception&) {
    decoded = PlainPngResult::kDamaged;  // read as any other file, which says what is wrong
  }
  ::close(descriptor);
  result.checksum = checksum.get();
  if (decoded != PlainPngResult::kDecoded || result.checksum.isEmpty() ||
      file_state(path) != before) {
    return std::nullopt;
  }
  return read;
}

}  // namespace tarvo
