#include "file/qt_decode_memory.h"

#include <new>
#include <span>
#include <system_error>
#include <vector>

#include "core/runtime_error.h"
#include "file/page_mapping.h"

namespace tarvo {

DecodeMemory::DecodeMemory(qint64 file_bytes, QSize size, QImage::Format format, int plane_sets)
    : size_(size) {
  try {
    bytes_ = QByteArray(file_bytes, Qt::Uninitialized);
  } catch (const std::bad_alloc&) {
    bytes_ = QByteArray();
  }
  prepare_picture(format);
  prepare_planes(plane_sets);
  // The helper gets the buffers' addresses now, so that it never touches the objects that own them
  // while the reading thread uses those. Listed in the order the reading thread writes them, so
  // that the helper stays ahead of it.
  std::vector<std::span<uint8_t>> buffers{
      {reinterpret_cast<uint8_t*>(bytes_.data()), static_cast<std::size_t>(bytes_.size())},
      {pixels_.get(), pixel_bytes_}};
  for (HostImage& planes : plane_sets_) {
    for (Plane* plane : {&planes.red, &planes.green, &planes.blue}) {
      buffers.emplace_back(plane->data(), plane->size());
    }
  }
  try {
    mapper_ = std::thread([buffers = std::move(buffers)] {
      for (const std::span<uint8_t> buffer : buffers) map_pages_ahead(buffer.data(), buffer.size());
    });
  } catch (const std::system_error&) {
    // No helper thread: each page is mapped by its first write.
  }
}

DecodeMemory::~DecodeMemory() {
  wait_for_mapping();
}

void DecodeMemory::wait_for_mapping() {
  if (mapper_.joinable()) mapper_.join();
}

void DecodeMemory::release_file_bytes() {
  wait_for_mapping();  // the helper may still be mapping them
  bytes_.clear();
}

void DecodeMemory::prepare_picture(QImage::Format format) {
  if (format == QImage::Format_Invalid || size_.isEmpty()) return;
  const int64_t depth = QImage::toPixelFormat(format).bitsPerPixel();
  const int64_t bytes_per_line = (size_.width() * depth + 31) / 32 * 4;  // as QImage aligns rows
  const auto bytes = static_cast<std::size_t>(bytes_per_line * size_.height());
  pixels_.reset(static_cast<uchar*>(std::calloc(bytes, 1)));
  if (!pixels_) return;
  pixel_bytes_ = bytes;
  picture_ = QImage(pixels_.get(), size_.width(), size_.height(),
                    static_cast<qsizetype>(bytes_per_line), format);
}

void DecodeMemory::prepare_planes(int plane_sets) {
  if (size_.isEmpty()) return;
  const int32_t columns = size_.width() + 1, rows = size_.height() + 1;
  try {
    for (int i = 0; i < plane_sets; ++i) {
      plane_sets_.push_back(
          HostImage{Plane(columns, rows), Plane(columns, rows), Plane(columns, rows), Plane()});
    }
  } catch (const RuntimeError&) {
    plane_sets_.clear();  // no room beside the picture now: made after decoding
  }
}

HostImage DecodeMemory::take_planes(int32_t width, int32_t height) {
  wait_for_mapping();  // the helper is done with the planes' memory
  if (!plane_sets_.empty() && plane_sets_.back().width() == width &&
      plane_sets_.back().height() == height) {
    HostImage planes = std::move(plane_sets_.back());
    plane_sets_.pop_back();
    return planes;
  }
  return HostImage{Plane(width + 1, height + 1), Plane(width + 1, height + 1),
                   Plane(width + 1, height + 1), Plane()};
}

}  // namespace tarvo
