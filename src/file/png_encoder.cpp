#include "file/png_encoder.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "canvas/row_split.h"
#include "core/runtime_error.h"

namespace tarvo {

namespace {

constexpr std::size_t kStripBytes = std::size_t{1} << 20;
constexpr std::array<uint8_t, 8> kSignature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

void put_word(std::vector<uint8_t>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void put_chunk(std::vector<uint8_t>& out, const char (&type)[5], std::span<const uint8_t> data) {
  put_word(out, static_cast<uint32_t>(data.size()));
  const std::size_t type_at = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  const uLong crc = crc32(0, out.data() + type_at, static_cast<uInt>(4 + data.size()));
  put_word(out, static_cast<uint32_t>(crc));
}

// The zlib header for a deflate stream of 32 KB window at this level (its FLEVEL says how hard
// the compressor tried; the check bits make the pair a multiple of 31).
std::array<uint8_t, 2> zlib_header(int level) {
  const int flevel = level <= 1 ? 0 : level <= 5 ? 1 : level == 6 ? 2 : 3;
  const int cmf = 0x78;
  int flg = flevel << 6;
  flg += 31 - (cmf * 256 + flg) % 31;
  return {static_cast<uint8_t>(cmf), static_cast<uint8_t>(flg)};
}

// The Paeth predictor without branches, so that the loop over a row is vectorised.
inline uint8_t paeth(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  const int nearer_b_or_c = pb <= pc ? b : c;
  return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : nearer_b_or_c);
}

// The row filtered each of the five ways, and the one chosen.
class RowFilter {
 public:
  RowFilter(std::size_t row_bytes, int bpp) : bytes_(row_bytes), bpp_(bpp) {
    for (auto& candidate : candidates_) candidate.resize(row_bytes + 1);
  }
  // row and previous (the row above; zeros for the first) hold row_bytes bytes. Returns the
  // filter byte followed by the filtered row.
  const std::vector<uint8_t>& filter(const uint8_t* row, const uint8_t* previous) {
    const std::size_t n = bytes_;
    const std::size_t bpp = static_cast<std::size_t>(bpp_);
    uint8_t* none = candidates_[0].data() + 1;
    uint8_t* sub = candidates_[1].data() + 1;
    uint8_t* up = candidates_[2].data() + 1;
    uint8_t* average = candidates_[3].data() + 1;
    uint8_t* pae = candidates_[4].data() + 1;
    std::memcpy(none, row, n);
    for (std::size_t i = 0; i < bpp; ++i) {
      sub[i] = row[i];
      up[i] = static_cast<uint8_t>(row[i] - previous[i]);
      average[i] = static_cast<uint8_t>(row[i] - (previous[i] >> 1));
      pae[i] = static_cast<uint8_t>(row[i] - previous[i]);
    }
    for (std::size_t i = bpp; i < n; ++i) {
      sub[i] = static_cast<uint8_t>(row[i] - row[i - bpp]);
      up[i] = static_cast<uint8_t>(row[i] - previous[i]);
      average[i] = static_cast<uint8_t>(row[i] - ((row[i - bpp] + previous[i]) >> 1));
    }
    for (std::size_t i = bpp; i < n; ++i) {
      pae[i] = static_cast<uint8_t>(row[i] - paeth(row[i - bpp], previous[i], previous[i - bpp]));
    }
    std::size_t best = 0;
    uint64_t best_sum = UINT64_MAX;
    for (std::size_t f = 0; f < candidates_.size(); ++f) {
      const uint8_t* bytes = candidates_[f].data() + 1;
      uint64_t sum = 0;
      for (std::size_t i = 0; i < n; ++i) {
        sum += static_cast<uint64_t>(std::abs(static_cast<int>(static_cast<int8_t>(bytes[i]))));
      }
      if (sum < best_sum) {
        best_sum = sum;
        best = f;
      }
    }
    candidates_[best][0] = static_cast<uint8_t>(best);
    return candidates_[best];
  }

 private:
  std::size_t bytes_;
  int bpp_;
  std::array<std::vector<uint8_t>, 5> candidates_;
};

// One strip, deflated: the IDAT chunk's data, and the Adler-32 and length of what went in.
struct Strip {
  std::vector<uint8_t> deflated;
  uLong adler = 1;
  std::size_t raw_bytes = 0;
  uLong crc = 0;  // of the chunk's type and data
  bool failed = false;
};

// A lane's scratch: a deflate stream reset for each strip, the rows and the filters.
struct Lane {
  Lane(const PngHeader& header, int level)
      : row(header.row_bytes()),
        previous(header.row_bytes()),
        filter(header.row_bytes(), header.bytes_per_pixel()) {
    stream.zalloc = Z_NULL;
    stream.zfree = Z_NULL;
    stream.opaque = Z_NULL;
    ready = deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_FILTERED) == Z_OK;
  }
  ~Lane() {
    if (ready) deflateEnd(&stream);
  }
  Lane(const Lane&) = delete;
  Lane& operator=(const Lane&) = delete;

  z_stream stream{};
  bool ready = false;
  std::vector<uint8_t> row, previous;
  RowFilter filter;
};

// The chunk's type leads each strip's bytes, so that its CRC is taken over them in one pass.
constexpr std::size_t kTypeBytes = 4;

// Deflates input onto the end of strip.deflated, growing it as needed.
bool deflate_into(z_stream& stream, const uint8_t* input, std::size_t size, int flush,
                  Strip& strip) {
  stream.next_in = const_cast<Bytef*>(input);
  stream.avail_in = static_cast<uInt>(size);
  for (;;) {
    const std::size_t used = kTypeBytes + stream.total_out;
    if (strip.deflated.size() - used < 64 * 1024) {
      strip.deflated.resize(strip.deflated.size() + std::max<std::size_t>(size, 256 * 1024));
    }
    stream.next_out = strip.deflated.data() + used;
    stream.avail_out = static_cast<uInt>(strip.deflated.size() - used);
    if (deflate(&stream, flush) == Z_STREAM_ERROR) return false;
    if (stream.avail_in == 0 && stream.avail_out > 0) return true;
  }
}

void encode_strip(const PngHeader& header, const PngRowSource& rows, int32_t first, int32_t end,
                  bool last, Lane& lane, Strip& strip) {
  if (!lane.ready || deflateReset(&lane.stream) != Z_OK) {
    strip.failed = true;
    return;
  }
  const std::size_t n = header.row_bytes();
  if (first > 0) {
    rows(first - 1, lane.previous.data());
  } else {
    std::fill(lane.previous.begin(), lane.previous.end(), uint8_t{0});
  }
  strip.deflated.resize(n * static_cast<std::size_t>(end - first) / 2 + 1024);
  std::memcpy(strip.deflated.data(), "IDAT", kTypeBytes);
  for (int32_t y = first; y < end; ++y) {
    rows(y, lane.row.data());
    const std::vector<uint8_t>& filtered =
        lane.filter.filter(lane.row.data(), lane.previous.data());
    strip.adler = adler32(strip.adler, filtered.data(), static_cast<uInt>(filtered.size()));
    strip.raw_bytes += filtered.size();
    const int flush = y + 1 < end ? Z_NO_FLUSH : last ? Z_FINISH : Z_SYNC_FLUSH;
    if (!deflate_into(lane.stream, filtered.data(), filtered.size(), flush, strip)) {
      strip.failed = true;
      return;
    }
    std::swap(lane.row, lane.previous);
  }
  strip.deflated.resize(kTypeBytes + lane.stream.total_out);
  strip.crc = crc32(0, strip.deflated.data(), static_cast<uInt>(strip.deflated.size()));
}

// The signature, the header, the ancillary chunks and the first image data chunk, which holds
// the zlib stream's header.
std::vector<uint8_t> file_start(const PngHeader& header, const PngEncodeOptions& options) {
  std::vector<uint8_t> start(kSignature.begin(), kSignature.end());
  std::vector<uint8_t> ihdr;
  put_word(ihdr, static_cast<uint32_t>(header.width));
  put_word(ihdr, static_cast<uint32_t>(header.height));
  ihdr.insert(ihdr.end(), {static_cast<uint8_t>(header.bit_depth),
                           static_cast<uint8_t>(header.colour_type), 0, 0, 0});
  put_chunk(start, "IHDR", ihdr);
  start.insert(start.end(), options.ancillary.begin(), options.ancillary.end());
  put_chunk(start, "IDAT", zlib_header(options.level));
  return start;
}

// The chunk that ends the zlib stream with its Adler-32, the trailing chunks and the end.
std::vector<uint8_t> file_end(uLong adler, const PngEncodeOptions& options) {
  std::vector<uint8_t> trailer;
  put_word(trailer, static_cast<uint32_t>(adler));
  std::vector<uint8_t> end;
  put_chunk(end, "IDAT", trailer);
  end.insert(end.end(), options.trailing.begin(), options.trailing.end());
  put_chunk(end, "IEND", {});
  return end;
}

// Hands the strips to the sink in order, each as an IDAT chunk, as soon as the strips before it
// are out: the strip's length, its type and data (held together), and its CRC. A strip handed
// out is freed. Only the calling thread (lane 0) writes; the helper's strips wait for it.
class StripWriter {
 public:
  StripWriter(std::vector<Strip>& strips, const PngBytesSink& out) : strips_(strips), out_(out) {
    ready_ = std::make_unique<std::atomic<bool>[]>(strips.size());
  }

  // Strip s is deflated (or failed), on either thread.
  void finished(std::size_t s) { ready_[s].store(true, std::memory_order_release); }

  // On the calling thread: writes out every strip that is ready in order. Stops at the first
  // failure, of a strip or of the sink, which stopped() then reports.
  void write_ready() {
    while (!stopped() && next_ < strips_.size() && ready_[next_].load(std::memory_order_acquire)) {
      Strip& strip = strips_[next_];
      if (strip.failed) {
        failed_strip_.store(true);
        return;
      }
      adler_ = adler32_combine(adler_, strip.adler, static_cast<z_off_t>(strip.raw_bytes));
      try {
        std::array<uint8_t, 4> length{};
        put_be32(length.data(), static_cast<uint32_t>(strip.deflated.size() - kTypeBytes));
        out_(length);
        out_(strip.deflated);
        std::array<uint8_t, 4> crc{};
        put_be32(crc.data(), static_cast<uint32_t>(strip.crc));
        out_(crc);
      } catch (...) {
        sink_error_ = std::current_exception();
        stop_.store(true);
        return;
      }
      std::vector<uint8_t>().swap(strip.deflated);
      ++next_;
    }
  }

  bool stopped() const { return stop_.load() || failed_strip_.load(); }
  bool all_written() const { return next_ == strips_.size(); }
  uLong adler() const { return adler_; }
  // Throws what stopped the writing, if anything did.
  void rethrow() const {
    if (sink_error_) std::rethrow_exception(sink_error_);
    if (failed_strip_.load()) {
      throw RuntimeError(error_number::kOutOfMemory, "Out of memory: cannot encode the picture");
    }
  }

 private:
  static void put_be32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
  }

  std::vector<Strip>& strips_;
  const PngBytesSink& out_;
  std::unique_ptr<std::atomic<bool>[]> ready_;
  std::size_t next_ = 0;
  uLong adler_ = adler32(0, nullptr, 0);
  std::atomic<bool> stop_{false}, failed_strip_{false};
  std::exception_ptr sink_error_;
};

}  // namespace

void encode_png_to(const PngHeader& header, const PngRowSource& rows,
                   const PngEncodeOptions& options, RowHelper* helper, const PngBytesSink& out) {
  const std::size_t row_bytes = header.row_bytes();
  const auto rows_per_strip = static_cast<int32_t>(
      std::clamp<std::size_t>(kStripBytes / std::max<std::size_t>(row_bytes, 1), 1,
                              static_cast<std::size_t>(std::max(header.height, 1))));
  const int32_t strip_count = (header.height + rows_per_strip - 1) / rows_per_strip;
  out(file_start(header, options));
  std::vector<Strip> strips(static_cast<std::size_t>(strip_count));
  StripWriter writer(strips, out);
  std::array<std::unique_ptr<Lane>, 2> lanes;
  std::atomic<int32_t> done{0};
  // The last strip alone finishes its stream. A strip that runs out of memory is marked failed
  // (work shared with the helper must not throw); once the writing has stopped, the strips left
  // are skipped.
  split_rows(helper, strip_count, 1, [&](int32_t begin, int32_t end, int32_t lane) {
    std::unique_ptr<Lane>& scratch = lanes[static_cast<std::size_t>(lane & 1)];
    for (int32_t s = begin; s < end; ++s) {
      Strip& strip = strips[static_cast<std::size_t>(s)];
      if (writer.stopped()) {
        strip.failed = true;
      } else {
        try {
          if (!scratch) scratch = std::make_unique<Lane>(header, options.level);
          const int32_t first = s * rows_per_strip;
          encode_strip(header, rows, first, std::min(header.height, first + rows_per_strip),
                       s + 1 == strip_count, *scratch, strip);
        } catch (const std::bad_alloc&) {
          strip.failed = true;
        }
      }
      writer.finished(static_cast<std::size_t>(s));
      const int32_t finished = done.fetch_add(1) + 1;
      if (lane == 0) {
        writer.write_ready();
        if (options.progress) options.progress(double(finished) / strip_count);
      }
    }
  });
  writer.write_ready();
  writer.rethrow();
  if (!writer.all_written()) {
    throw RuntimeError(error_number::kOutOfMemory, "Out of memory: cannot encode the picture");
  }
  if (options.progress) options.progress(1.0);
  out(file_end(writer.adler(), options));
}

std::vector<uint8_t> encode_png(const PngHeader& header, const PngRowSource& rows,
                                const PngEncodeOptions& options, RowHelper* helper) {
  std::vector<uint8_t> file;
  encode_png_to(header, rows, options, helper, [&file](std::span<const uint8_t> bytes) {
    file.insert(file.end(), bytes.begin(), bytes.end());
  });
  return file;
}

}  // namespace tarvo
