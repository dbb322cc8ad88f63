// GEGL comes before any Qt header: its GLib headers must not see Qt's keyword macros.
// The GIMP host's write-back: the painted pixels of the canvas into the layer, strip by strip
// through its shadow buffer, merged as one undo step.
#include <algorithm>
#include <cstring>
#include <iostream>
#include <numeric>
#include <string>
#include <vector>

#include "gimp/gimp_api.h"
#include "gimp/gimp_host.h"
#include "gimp/gimp_host_detail.h"
#include "gimp/gimp_pixels.h"

namespace tarvo {

using namespace gimp_host_detail;

// One write-back's working state: the canvas planes, the rectangle the selection leaves of the
// layer, and strip buffers for its pixels in the layer's format and as the canvas has them.
struct GimpHost::StripWriter {
  const Plane &red, &green, &blue;
  const LayerPlanes* layer;  // the canvas's own colours and alpha, when it painted the layer's
  int32_t x, columns;
  const Babl* native;
  PixelPatcher patcher;
  GeglBuffer *source, *shadow;
  std::size_t strip_stride, fresh_stride;
  std::vector<uint8_t> strip, fresh;  // the layer's pixels; the canvas's, three bytes a pixel
  std::vector<uint8_t> own;           // with layer: the canvas's own colours, as fresh
  std::vector<int32_t> painted_in_row;
  std::vector<int32_t> columns_painted;
  // Whether the strips cover the whole layer, so that once merged without a selection the layer
  // holds exactly what was written: then written_bands takes each band's hash as it goes.
  bool hash_written = false;
  std::vector<uint64_t> written_bands;

  StripWriter(const Plane& r, const Plane& g, const Plane& b, const LayerPlanes* l, int32_t left,
              int32_t width, int32_t rows, const Babl* format, bool opaque, GeglBuffer* from,
              GeglBuffer* to)
      : red(r),
        green(g),
        blue(b),
        layer(l),
        x(left),
        columns(width),
        native(format),
        patcher(format, width, opaque),
        source(from),
        shadow(to),
        strip_stride(static_cast<std::size_t>(width) * patcher.bytes_per_pixel()),
        fresh_stride(static_cast<std::size_t>(width) * 3),
        strip(strip_stride * rows),
        fresh(fresh_stride * rows),
        own(l ? fresh_stride * rows : 0),
        painted_in_row(rows) {}
};

void GimpHost::write_back(const Plane& red, const Plane& green, const Plane& blue,
                          const LayerPlanes* layer) {
  const int32_t drawable = options_.drawable;
  written_in_part_ = false;
  const int32_t width = gimp_api::width(drawable), height = gimp_api::height(drawable);
  for (const Plane* plane : {&red, &green, &blue}) {
    if (plane->columns() != width + 1 || plane->rows() != height + 1) {
      resized_in_gimp(red, green, blue, layer, width, height);
      return;
    }
  }
  int32_t x = 0, y = 0, columns = 0, rows = 0;
  const bool base_fits = base_width_ == width && base_height_ == height;
  if (!gimp_api::mask_intersect(drawable, x, y, columns, rows) || columns <= 0 || rows <= 0) {
    // The selection leaves nothing of this layer to paint on: what was painted stays out.
    written_in_part_ =
        base_fits && painted_anywhere(red, green, blue, nullptr, 0, 0, width, height);
    return;
  }
  // The canvas's own colours and alpha are taken where it painted the layer's, and the layer's
  // alpha is not locked meanwhile.
  if (layer && (!base_fits || base_alpha_.empty() || !gimp_api::has_alpha(drawable) ||
                gimp_api::alpha_locked(drawable))) {
    layer = nullptr;
  }
  for (const Plane* plane : {&red, &green, &blue}) {
    if (layer == nullptr) break;
    for (const Plane* own : {&layer->red, &layer->green, &layer->blue, &layer->alpha}) {
      if (own->columns() != plane->columns() || own->rows() != plane->rows()) layer = nullptr;
    }
  }
  // A write-back that would change no pixel leaves GIMP's undo history and the image's dirty state
  // alone.
  if (base_fits && !painted_anywhere(red, green, blue, layer, x, y, columns, rows)) return;
  if (gimp_api::pixels_locked(drawable)) {
    // Checked before anything is written, so that the refused write leaves no undo step behind.
    const std::string why = "The pixels of " + quoted_name(drawable) +
                            " were locked in GIMP, so the painting was not sent: unlock them "
                            "(\"Lock pixels\" in the Layers dock) and send it again. The painting "
                            "stays on the canvas.";
    std::cerr << "tarvo: " << why << std::endl;
    const bool asked = options_.presence->someone_looking && options_.tell;
    if (asked) options_.tell(why);
    throw ImageNotWritten(why, asked);
  }
  if (check_unchanged() && !painted_anywhere(red, green, blue, layer, x, y, columns, rows)) return;
  BufferRef source(gimp_api::buffer(drawable));
  BufferRef shadow(gimp_api::shadow_buffer(drawable));
  if (!source.buffer || !shadow.buffer) fail("GIMP gave no pixels of the layer: " + pdb_error());
  const BusyPointer busy(options_.presence->someone_looking);
  // A painted pixel becomes opaque, so that what was painted shows in the layer as on the canvas,
  // unless the layer's alpha is locked.
  StripWriter writer(red, green, blue, layer, x, columns, std::min<int32_t>(kStripRows, rows),
                     gimp_api::format(drawable), !gimp_api::alpha_locked(drawable), source.buffer,
                     shadow.buffer);
  writer.hash_written = x == 0 && y == 0 && columns == width && rows == height &&
                        gimp_api::selection_empty(options_.image);
  const Progress progress(options_.show_progress, "Tarvo: writing the layer", columns, rows);
  for (int32_t top = y; top < y + rows; top += kStripRows) {
    const int32_t count = std::min(kStripRows, y + rows - top);
    write_strip(writer, top, count, base_fits);
    progress.rows_done(top + count - y);
  }
  gegl_buffer_flush(shadow.buffer);
  // A selection may keep some painted pixels of the rectangle out of the layer, partly or wholly,
  // and a merge that fails keeps them all out: what GIMP then holds is read back as the new record
  // of what the canvas started from.
  const bool selected = !gimp_api::selection_empty(options_.image);
  try {
    merge_as_one_step(x, y, columns, rows);
  } catch (const RuntimeError&) {
    if (base_fits) read_back_base(x, y, columns, rows);
    rehash_bands(y, rows);
    throw;
  }
  if (selected && base_fits) read_back_base(x, y, columns, rows);
  if (writer.hash_written && !selected) {
    bands_ = std::move(writer.written_bands);
  } else {
    rehash_bands(y, rows);
  }
  // Painted pixels the selection kept out, inside its rectangle or beyond it, differ from what the
  // layer now holds.
  written_in_part_ =
      selected && base_fits && painted_anywhere(red, green, blue, nullptr, 0, 0, width, height);
}

bool GimpHost::painted_anywhere(const Plane& red, const Plane& green, const Plane& blue,
                                const LayerPlanes* layer, int32_t x, int32_t y, int32_t columns,
                                int32_t rows) {
  std::vector<uint8_t> now(static_cast<std::size_t>(columns) * 3);
  for (int32_t row = y; row < y + rows; ++row) {
    interleave_rgb(red.row(row) + x, green.row(row) + x, blue.row(row) + x, columns, now.data());
    if (std::memcmp(now.data(), base_row(row, x), now.size()) != 0) return true;
    if (layer == nullptr) continue;
    // Colours that look alike over white may still differ.
    interleave_rgb(layer->red.row(row) + x, layer->green.row(row) + x, layer->blue.row(row) + x,
                   columns, now.data());
    if (std::memcmp(now.data(), base_own_row(row, x), now.size()) != 0 ||
        std::memcmp(layer->alpha.row(row) + x, base_alpha_.row(row) + x,
                    static_cast<std::size_t>(columns)) != 0) {
      return true;
    }
  }
  return false;
}

void GimpHost::read_back_base(int32_t x, int32_t y, int32_t columns, int32_t rows) {
  // A buffer of its own: one that read the layer before the merge may hold its old tiles.
  BufferRef layer(gimp_api::buffer(options_.drawable));
  if (!layer.buffer) {
    base_width_ = base_height_ = 0;  // unknown: the next send writes every pixel
    return;
  }
  const bool alpha = gimp_api::has_alpha(options_.drawable);
  const bool own = alpha && !base_alpha_.empty();
  read_rgb(layer.buffer, rectangle(x, y, columns, rows), gimp_api::format(options_.drawable), alpha,
           base_row(y, x), static_cast<std::size_t>(base_width_) * 3,
           own ? base_own_row(y, x) : nullptr, own ? base_alpha_.row(y) + x : nullptr,
           static_cast<std::size_t>(base_width_));
}

void GimpHost::write_strip(StripWriter& w, int32_t top, int32_t count, bool base_fits) {
  int64_t painted = 0;
  for (int32_t row = top; row < top + count; ++row) {
    uint8_t* now = w.fresh.data() + w.fresh_stride * (row - top);
    interleave_rgb(w.red.row(row) + w.x, w.green.row(row) + w.x, w.blue.row(row) + w.x, w.columns,
                   now);
    const uint8_t* base = base_fits ? base_row(row, w.x) : nullptr;
    if (w.layer) {
      // Every pixel whose own colour or alpha changed; its look over white changes with them.
      uint8_t* own = w.own.data() + w.fresh_stride * (row - top);
      interleave_rgb(w.layer->red.row(row) + w.x, w.layer->green.row(row) + w.x,
                     w.layer->blue.row(row) + w.x, w.columns, own);
      w.painted_in_row[row - top] =
          count_differing_pixels(own, base_own_row(row, w.x), w.columns,
                                 w.layer->alpha.row(row) + w.x, base_alpha_.row(row) + w.x);
      painted += w.painted_in_row[row - top];
      continue;
    }
    w.painted_in_row[row - top] = base ? count_differing_pixels(now, base, w.columns) : w.columns;
    painted += w.painted_in_row[row - top];
  }
  const GeglRectangle area = rectangle(w.x, top, w.columns, count);
  const uint8_t* written = w.strip.data();
  std::size_t written_stride = w.strip_stride;
  if (painted == static_cast<int64_t>(w.columns) * count && w.patcher.replaces_whole_pixels()) {
    // Nothing of the layer's pixels stays: the strip need not be read.
    gegl_buffer_set(w.shadow, &area, 0, w.native, w.fresh.data(),
                    static_cast<gint>(w.fresh_stride));
    written = w.fresh.data();
    written_stride = w.fresh_stride;
  } else {
    gegl_buffer_get(w.source, &area, 1.0, w.native, w.strip.data(),
                    static_cast<gint>(w.strip_stride), GEGL_ABYSS_NONE);
    for (int32_t row = top; row < top + count; ++row) {
      if (w.painted_in_row[row - top] == 0) continue;
      const uint8_t* now = w.fresh.data() + w.fresh_stride * (row - top);
      const uint8_t* base = base_fits ? base_row(row, w.x) : nullptr;
      const uint8_t* own = w.layer ? w.own.data() + w.fresh_stride * (row - top) : nullptr;
      const uint8_t* alpha = w.layer ? w.layer->alpha.row(row) + w.x : nullptr;
      w.columns_painted.clear();
      if (w.painted_in_row[row - top] == w.columns) {
        w.columns_painted.resize(w.columns);
        std::iota(w.columns_painted.begin(), w.columns_painted.end(), 0);
      } else {
        for (int32_t column = 0; column < w.columns; ++column) {
          const bool painted_pixel =
              own ? !same_pixel(own + 3 * column, base_own_row(row, w.x) + 3 * column) ||
                        alpha[column] != base_alpha_(w.x + column, row)
                  : !same_pixel(now + 3 * column, base + 3 * column);
          if (painted_pixel) w.columns_painted.push_back(column);
        }
      }
      w.patcher.patch(w.strip.data() + w.strip_stride * (row - top), w.columns, w.columns_painted,
                      own ? own : now, alpha);
    }
    gegl_buffer_set(w.shadow, &area, 0, w.native, w.strip.data(),
                    static_cast<gint>(w.strip_stride));
  }
  if (w.hash_written) add_band_hashes(written, written_stride, count, w.written_bands);
  // What GIMP holds once this is merged is what the canvas sent; unpainted pixels already equal
  // what was handed out.
  for (int32_t row = top; row < top + count && base_fits; ++row) {
    if (w.painted_in_row[row - top] == 0) continue;
    std::memcpy(base_row(row, w.x), w.fresh.data() + w.fresh_stride * (row - top), w.fresh_stride);
    if (w.layer) {
      std::memcpy(base_own_row(row, w.x), w.own.data() + w.fresh_stride * (row - top),
                  w.fresh_stride);
      std::memcpy(base_alpha_.row(row) + w.x, w.layer->alpha.row(row) + w.x,
                  static_cast<std::size_t>(w.columns));
    }
  }
}

void GimpHost::merge_as_one_step(int32_t x, int32_t y, int32_t columns, int32_t rows) {
  const bool grouped = gimp_api::undo_group_start(options_.image);
  const bool merged = gimp_api::merge_shadow(options_.drawable);
  const std::string merge_error = merged ? std::string() : pdb_error();
  if (grouped) gimp_api::undo_group_end(options_.image);
  if (!merged) fail("GIMP did not take the painted pixels into the layer: " + merge_error);
  gimp_api::update(options_.drawable, x, y, columns, rows);
  gimp_api::flush_displays();
}

}  // namespace tarvo
