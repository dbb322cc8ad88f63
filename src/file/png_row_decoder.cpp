#include "file/png_row_decoder.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>

#include "file/byte_reader.h"

namespace tarvo {

namespace {

constexpr std::array<uint8_t, 8> kSignature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

// A chunk of text, profile or metadata beyond this size is left to the other decoder, whose limits
// for such chunks are its own.
constexpr uint32_t kLargestAncillaryChunk = 64u << 20;

// The inflating thread stays at most this many blocks of about kBlockBytes of rows ahead.
constexpr std::size_t kBlockBytes = std::size_t{256} << 10;
constexpr int kBlocks = 16;

// The compressed data is read this much at a time.
constexpr std::size_t kInputBytes = std::size_t{1} << 20;

// What stops a decode part way: the file is damaged or not plain after all.
struct Stop {
  PlainPngResult result;
};

// The source's bytes, exactly size of them or a stop as damaged.
class Reader {
 public:
  explicit Reader(const PngByteSource& source) : source_(source) {}

  void read(uint8_t* into, std::size_t size) {
    while (size > 0) {
      std::size_t got = 0;
      try {
        got = source_(into, size);
      } catch (...) {
        throw Stop{PlainPngResult::kDamaged};
      }
      if (got == 0 || got > size) throw Stop{PlainPngResult::kDamaged};
      into += got;
      size -= got;
    }
  }

  uint32_t be32() {
    std::array<uint8_t, 4> bytes{};
    read(bytes.data(), bytes.size());
    return ByteReader(bytes).be32(0);
  }

 private:
  const PngByteSource& source_;
};

struct ChunkStart {
  uint32_t length = 0;
  std::array<char, 4> type{};

  bool is(const char* name) const { return std::memcmp(type.data(), name, 4) == 0; }
  bool critical() const { return (type[0] & 0x20) == 0; }
};

ChunkStart read_chunk_start(Reader& reader) {
  std::array<uint8_t, 8> bytes{};
  reader.read(bytes.data(), bytes.size());
  ChunkStart start;
  start.length = ByteReader(bytes).be32(0);
  std::memcpy(start.type.data(), bytes.data() + 4, 4);
  const bool letters = std::all_of(start.type.begin(), start.type.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
  });
  if (!letters || start.length > 0x7fffffffu) throw Stop{PlainPngResult::kDamaged};
  return start;
}

// The rest of a chunk whose start was read: its data, checked against its CRC.
PngChunk read_chunk_data(Reader& reader, const ChunkStart& start) {
  if (start.length > kLargestAncillaryChunk) throw Stop{PlainPngResult::kNotPlain};
  PngChunk chunk;
  chunk.type.assign(start.type.begin(), start.type.end());
  chunk.data.resize(start.length);
  if (start.length > 0) reader.read(chunk.data.data(), start.length);
  uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(start.type.data()), 4);
  if (start.length > 0) crc = crc32(crc, chunk.data.data(), static_cast<uInt>(start.length));
  if (reader.be32() != crc) throw Stop{PlainPngResult::kDamaged};
  return chunk;
}

PngHeader read_plain_header(Reader& reader) {
  std::array<uint8_t, 8> signature{};
  reader.read(signature.data(), signature.size());
  if (signature != kSignature) throw Stop{PlainPngResult::kNotPlain};
  const ChunkStart start = read_chunk_start(reader);
  if (!start.is("IHDR") || start.length != 13) throw Stop{PlainPngResult::kDamaged};
  const PngChunk chunk = read_chunk_data(reader, start);
  ByteReader fields(chunk.data);
  PngHeader header;
  const uint32_t width = fields.be32(0), height = fields.be32(4);
  header.bit_depth = static_cast<int>(fields.u8(8));
  header.colour_type = static_cast<int>(fields.u8(9));
  const bool plain =
      width > 0 && height > 0 && width <= 0x7fffffffu && height <= 0x7fffffffu &&
      header.bit_depth == 8 &&
      (header.colour_type == 0 || header.colour_type == 2 || header.colour_type == 6) &&
      fields.u8(10) == 0 && fields.u8(11) == 0 && fields.u8(12) == 0;
  if (!plain) throw Stop{PlainPngResult::kNotPlain};
  header.width = static_cast<int32_t>(width);
  header.height = static_cast<int32_t>(height);
  return header;
}

uint8_t paeth(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

// Undoes a row's filter in place: row holds length bytes after the filter byte, prior the row
// above as decoded (zeros above the first).
template <int kPixel>
bool unfilter_row(uint8_t filter, uint8_t* row, const uint8_t* prior, std::size_t length) {
  switch (filter) {
    case 0:
      return true;
    case 1:
      for (std::size_t i = kPixel; i < length; ++i) row[i] += row[i - kPixel];
      return true;
    case 2:
      for (std::size_t i = 0; i < length; ++i) row[i] += prior[i];
      return true;
    case 3:
      for (std::size_t i = 0; i < kPixel; ++i) row[i] += prior[i] >> 1;
      for (std::size_t i = kPixel; i < length; ++i) {
        row[i] += static_cast<uint8_t>((row[i - kPixel] + prior[i]) >> 1);
      }
      return true;
    case 4:
      for (std::size_t i = 0; i < kPixel; ++i) row[i] += prior[i];
      for (std::size_t i = kPixel; i < length; ++i) {
        row[i] += paeth(row[i - kPixel], prior[i], prior[i - kPixel]);
      }
      return true;
    default:
      return false;
  }
}

bool unfilter(int pixel_bytes, uint8_t filter, uint8_t* row, const uint8_t* prior,
              std::size_t length) {
  switch (pixel_bytes) {
    case 1:
      return unfilter_row<1>(filter, row, prior, length);
    case 3:
      return unfilter_row<3>(filter, row, prior, length);
    default:
      return unfilter_row<4>(filter, row, prior, length);
  }
}

// The filtered rows between the inflating thread and the calling one: a ring of blocks, each a
// whole number of rows (filter byte and pixels).
class RowRing {
 public:
  RowRing(std::size_t stride, int32_t rows) : stride_(stride) {
    rows_per_block_ = static_cast<int32_t>(std::max<std::size_t>(1, kBlockBytes / stride));
    rows_per_block_ = std::min(rows_per_block_, rows);
    for (auto& block : blocks_) block.resize(stride_ * static_cast<std::size_t>(rows_per_block_));
  }

  int32_t rows_per_block() const { return rows_per_block_; }
  std::size_t stride() const { return stride_; }

  // The inflating thread's next block to fill, once the calling thread has let go of it; null
  // when the decode was abandoned.
  uint8_t* block_to_fill() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return filled_ - taken_ < kBlocks || abandoned_; });
    return abandoned_ ? nullptr : blocks_[filled_ % kBlocks].data();
  }
  void filled(int32_t rows) {
    {
      std::lock_guard lock(mutex_);
      block_rows_[filled_ % kBlocks] = rows;
      ++filled_;
    }
    changed_.notify_all();
  }
  // The end of the inflating thread's work, with its result.
  void finish(PlainPngResult result) {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
      result_ = result;
    }
    changed_.notify_all();
  }

  // The calling thread's next filled block and its rows; null when there is none and will be
  // none (the inflating thread finished or failed).
  uint8_t* block_to_take(int32_t& rows) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return filled_ > taken_ || finished_; });
    if (filled_ == taken_) return nullptr;
    rows = block_rows_[taken_ % kBlocks];
    return blocks_[taken_ % kBlocks].data();
  }
  void taken() {
    {
      std::lock_guard lock(mutex_);
      ++taken_;
    }
    changed_.notify_all();
  }
  void abandon() {
    {
      std::lock_guard lock(mutex_);
      abandoned_ = true;
    }
    changed_.notify_all();
  }
  // Once the inflating thread has ended.
  PlainPngResult result() const { return result_; }

 private:
  std::size_t stride_;
  int32_t rows_per_block_ = 1;
  std::array<std::vector<uint8_t>, kBlocks> blocks_;
  std::array<int32_t, kBlocks> block_rows_{};
  std::mutex mutex_;
  std::condition_variable changed_;
  int64_t filled_ = 0, taken_ = 0;
  bool finished_ = false, abandoned_ = false;
  PlainPngResult result_ = PlainPngResult::kDamaged;
};

// Reads the image data from the first IDAT chunk (whose start was read) to the end of the file,
// inflating it into the ring; the chunks after it go to after.
class Inflater {
 public:
  Inflater(Reader& reader, const PngHeader& header, RowRing& ring, std::vector<PngChunk>& after)
      : reader_(reader), ring_(ring), after_(after), input_(kInputBytes) {
    rows_left_ = header.height;
  }

  PlainPngResult run(ChunkStart chunk) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return PlainPngResult::kDamaged;
    try {
      const PlainPngResult result = inflate_all(stream, chunk);
      inflateEnd(&stream);
      return result;
    } catch (const Stop& stop) {
      inflateEnd(&stream);
      return stop.result;
    }
  }

 private:
  PlainPngResult inflate_all(z_stream& stream, ChunkStart chunk) {
    uint8_t* block = nullptr;
    int32_t block_rows = 0;
    std::size_t block_bytes = 0;
    const auto next_block = [&] {
      block_rows = std::min(ring_.rows_per_block(), rows_left_);
      block_bytes = ring_.stride() * static_cast<std::size_t>(block_rows);
      block = ring_.block_to_fill();
      if (block == nullptr) throw Stop{PlainPngResult::kDamaged};  // abandoned
      stream.next_out = block;
      stream.avail_out = static_cast<uInt>(block_bytes);
    };
    next_block();
    bool ended = false, rows_in = false;
    std::array<uint8_t, 1> spare{};  // once every row is in: any byte more is too much data
    while (chunk.is("IDAT")) {
      uLong crc = crc32(0L, reinterpret_cast<const Bytef*>(chunk.type.data()), 4);
      for (uint32_t left = chunk.length; left > 0;) {
        const auto size = static_cast<uInt>(std::min<std::size_t>(left, input_.size()));
        reader_.read(input_.data(), size);
        crc = crc32(crc, input_.data(), size);
        left -= size;
        if (ended) throw Stop{PlainPngResult::kDamaged};  // data after the stream's end
        stream.next_in = input_.data();
        stream.avail_in = size;
        while (stream.avail_in > 0 && !ended) {
          if (rows_in) {
            stream.next_out = spare.data();
            stream.avail_out = 1;
          }
          const int status = inflate(&stream, Z_NO_FLUSH);
          if (status == Z_STREAM_END) {
            ended = true;
          } else if (status != Z_OK && status != Z_BUF_ERROR) {
            throw Stop{PlainPngResult::kDamaged};
          }
          if (rows_in) {
            if (stream.avail_out == 0) throw Stop{PlainPngResult::kDamaged};
          } else if (stream.avail_out == 0) {
            ring_.filled(block_rows);
            rows_left_ -= block_rows;
            rows_in = rows_left_ == 0;
            if (!rows_in) next_block();
          }
        }
        if (ended && stream.avail_in > 0) throw Stop{PlainPngResult::kDamaged};
      }
      if (reader_.be32() != crc) throw Stop{PlainPngResult::kDamaged};
      chunk = read_chunk_start(reader_);
    }
    if (!ended || rows_left_ > 0) throw Stop{PlainPngResult::kDamaged};
    for (;; chunk = read_chunk_start(reader_)) {
      if (chunk.is("IEND")) {
        read_chunk_data(reader_, chunk);
        return PlainPngResult::kDecoded;
      }
      if (chunk.critical()) throw Stop{PlainPngResult::kDamaged};  // a second image data, ...
      after_.push_back(read_chunk_data(reader_, chunk));
    }
  }

  Reader& reader_;
  RowRing& ring_;
  std::vector<PngChunk>& after_;
  std::vector<uint8_t> input_;
  int32_t rows_left_ = 0;
};

// Unfilters the ring's rows as they come and hands them on; false when a filter is unknown.
bool take_rows(RowRing& ring, const PngHeader& header,
               const std::function<void(int32_t, const uint8_t*)>& row) {
  const std::size_t length = header.row_bytes();
  std::vector<uint8_t> above(length, 0);  // the last row of the block before, decoded
  int32_t y = 0;
  int32_t rows = 0;
  while (uint8_t* block = ring.block_to_take(rows)) {
    const uint8_t* prior = above.data();
    for (int32_t i = 0; i < rows; ++i, ++y) {
      uint8_t* filtered = block + ring.stride() * static_cast<std::size_t>(i);
      if (!unfilter(header.bytes_per_pixel(), filtered[0], filtered + 1, prior, length)) {
        return false;
      }
      row(y, filtered + 1);
      prior = filtered + 1;
    }
    std::memcpy(above.data(), prior, length);
    ring.taken();
  }
  return y == header.height;
}

PlainPngResult decode(Reader& reader, PlainPng& png,
                      const std::function<void(const PngHeader&)>& start,
                      const std::function<void(int32_t, const uint8_t*)>& row) {
  png.header = read_plain_header(reader);
  ChunkStart chunk = read_chunk_start(reader);
  for (; !chunk.is("IDAT"); chunk = read_chunk_start(reader)) {
    // A palette (a suggested one, in a true-colour file) or a transparency key changes what the
    // rows decode to; any other critical chunk is unknown here.
    if (chunk.is("PLTE") || chunk.is("tRNS")) return PlainPngResult::kNotPlain;
    if (chunk.critical()) return PlainPngResult::kDamaged;
    png.before.push_back(read_chunk_data(reader, chunk));
  }
  start(png.header);
  RowRing ring(png.header.row_bytes() + 1, png.header.height);
  Inflater inflater(reader, png.header, ring, png.after);
  PlainPngResult inflated = PlainPngResult::kDamaged;
  std::thread worker([&] {
    inflated = inflater.run(chunk);
    ring.finish(inflated);
  });
  bool rows_whole = false;
  try {
    rows_whole = take_rows(ring, png.header, row);
  } catch (...) {
    ring.abandon();
    worker.join();
    throw;
  }
  ring.abandon();
  worker.join();
  if (inflated != PlainPngResult::kDecoded) return inflated;
  return rows_whole ? PlainPngResult::kDecoded : PlainPngResult::kDamaged;
}

}  // namespace

std::optional<PngHeader> plain_png_header(std::span<const uint8_t> start) {
  const PngByteSource source = [&start](uint8_t* into, std::size_t size) {
    const std::size_t got = std::min(size, start.size());
    std::memcpy(into, start.data(), got);
    start = start.subspan(got);
    return got;
  };
  Reader reader(source);
  try {
    return read_plain_header(reader);
  } catch (const Stop&) {
    return std::nullopt;
  }
}

PlainPngResult decode_plain_png(const PngByteSource& source, PlainPng& png,
                                const std::function<void(const PngHeader&)>& start,
                                const std::function<void(int32_t y, const uint8_t* pixels)>& row) {
  Reader reader(source);
  try {
    return decode(reader, png, start, row);
  } catch (const Stop& stop) {
    return stop.result;
  }
}

}  // namespace tarvo
