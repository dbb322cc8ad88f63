#pragma once
// The memory that reading an image file fills, prepared before anything is read into it.
//
// Opening a large image writes big fresh buffers one after the other: the file's bytes, the
// decoded picture, and the host's colour planes (with, when asked for, a copy of those). The first
// write to each page of fresh memory traps into the kernel, which for a whole image costs about as
// much as writing every byte again. Knowing the sizes from the file's header, this allocates every
// buffer up front and has a helper thread map their pages (map_pages_ahead) while the reading
// thread reads the file and runs the decoder, so that the reading thread finds them mapped.
//
// Qt's readers decode into a picture of the right size and format that they are given, instead of
// allocating their own; the prepared picture's buffer is zero-filled, so the decoder always starts
// from the same memory. Everything here is best effort: a buffer that cannot be prepared (no
// memory, an unknown decoded format, no helper thread) is made later, where it was made before.

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "file/qt_image_file.h"

namespace tarvo {

class DecodeMemory {
 public:
  // For a file of file_bytes bytes whose header gives the picture's size and, when the reader
  // knows it, the format the decoder will produce (QImage::Format_Invalid when not); with
  // plane_sets (1 or 2) sets of colour planes.
  DecodeMemory(qint64 file_bytes, QSize size, QImage::Format format, int plane_sets);
  ~DecodeMemory();  // waits for the helper thread

  DecodeMemory(const DecodeMemory&) = delete;
  DecodeMemory& operator=(const DecodeMemory&) = delete;

  // A buffer of file_bytes bytes (uninitialised) to read the file into, empty when it could not be
  // had; valid until release_file_bytes. It may be changed in place but must not be reallocated
  // before then: the helper may still be mapping it.
  QByteArray& file_bytes() { return bytes_; }
  void release_file_bytes();

  // The picture to decode into: an image over the prepared buffer, or a null image. The decoder
  // may fill it or replace it; an image still using the buffer must not outlive this object.
  QImage take_picture() { return std::move(picture_); }

  // Waits until the helper has mapped every buffer; after it, the file bytes may be reallocated.
  void wait_for_mapping();

  // A set of colour planes for a decoded picture of width x height pixels, with the spare column
  // and row zero: a prepared set when there is one left of that size, else new planes.
  HostImage take_planes(int32_t width, int32_t height);

 private:
  struct FreeBytes {
    void operator()(uchar* p) const { std::free(p); }
  };

  void prepare_picture(QImage::Format format);
  void prepare_planes(int plane_sets);

  QSize size_;
  QByteArray bytes_;
  std::unique_ptr<uchar[], FreeBytes> pixels_;
  std::size_t pixel_bytes_ = 0;
  QImage picture_;
  std::vector<HostImage> plane_sets_;
  std::thread mapper_;
};

}  // namespace tarvo
