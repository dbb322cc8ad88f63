// The fused preview pass: boxes composited each pixel once, or only the pixels the dabs raised.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <span>

#include "canvas/display_surface.h"
#include "render/blend_modes.h"
#include "render/composite_kernel.h"
#include "render/composite_rows.h"
#include "render/render_math.h"
#include "render/segment_renderer.h"

namespace tarvo {

using namespace composite;

namespace {

// An inclusive column span of one row.
struct Span {
  int32_t begin, end;
};

// The columns of row y that box covers and no box of others covers, in increasing order, into
// out (room for others.size() + 1 spans); returns how many.
std::size_t uncovered_spans(const PixelBox& box, std::span<const PixelBox> others, int32_t y,
                            Span* out) {
  std::array<Span, kMaxPixelBoxes> taken;
  std::size_t n_taken = 0;
  for (const PixelBox& o : others) {
    if (o.empty() || y < o.y_begin || y > o.y_end) continue;
    Span span{std::max(o.x_begin, box.x_begin), std::min(o.x_end, box.x_end)};
    if (span.begin > span.end) continue;
    std::size_t i = n_taken++;  // insertion sort by begin: at most a few dozen spans
    for (; i > 0 && taken[i - 1].begin > span.begin; --i) taken[i] = taken[i - 1];
    taken[i] = span;
  }
  std::size_t n = 0;
  int32_t next = box.x_begin;
  for (std::size_t i = 0; i < n_taken; ++i) {
    if (taken[i].begin > next) out[n++] = Span{next, taken[i].begin - 1};
    next = std::max(next, taken[i].end + 1);
  }
  if (next <= box.x_end) out[n++] = Span{next, box.x_end};
  return n;
}

bool box_inside_image(const CanvasBuffers& c, const PixelBox& box) {
  return box.x_begin >= 0 && box.y_begin >= 0 && box.x_end < c.BufferWidth &&
         box.y_end < c.BufferHeight;
}

// Everything one run of box compositing shares: the lookup rows, the kernels, the outputs.
struct PreparedComposite {
  CallSetup setup;
  Kernels kernels;
  Outputs out;
};

// The rows where the set of boxes of others holding the row changes, within box: box.y_begin, then
// every y_begin and y_end + 1 of an other inside the box, ascending, then box.y_end + 1 (so bands
// are [cuts[k], cuts[k + 1]) ); returns how many. out has room for 2 * others.size() + 2.
std::size_t band_cuts(const PixelBox& box, std::span<const PixelBox> others, int32_t* out) {
  std::size_t n = 0;
  const auto add = [&](int32_t y) {
    if (y <= box.y_begin || y > box.y_end) return;
    std::size_t i = n++;
    for (; i > 0 && out[i - 1] > y; --i) out[i] = out[i - 1];
    out[i] = y;
  };
  for (const PixelBox& o : others) {
    if (o.empty()) continue;
    add(o.y_begin);
    add(o.y_end + 1);
  }
  for (std::size_t i = n; i > 0; --i) out[i] = out[i - 1];  // box.y_begin first
  out[0] = box.y_begin;
  out[n + 1] = box.y_end + 1;
  return n + 2;
}

void composite_except(CanvasBuffers& canvas, const PaperTexture& paper, const PreparedComposite& p,
                      const PixelBox& box, std::span<const PixelBox> others) {
  if (box.empty() || !box_inside_image(canvas, box)) return;
  std::array<int32_t, 2 * kMaxPixelBoxes + 2> cuts;
  const std::size_t n_cuts = band_cuts(box, others, cuts.data());
  std::array<Span, kMaxPixelBoxes> spans;
  for (std::size_t band = 0; band + 1 < n_cuts; ++band) {
    if (cuts[band] == cuts[band + 1]) continue;  // repeated cut
    // Every row of the band is held by the same others, so has the same spans.
    const std::size_t n = uncovered_spans(box, others, cuts[band], spans.data());
    for (int32_t y = cuts[band]; n != 0 && y < cuts[band + 1]; ++y) {
      const RowPointers row = row_pointers(canvas, paper, p.setup, p.out, y);
      for (std::size_t i = 0; i < n; ++i) {
        composite_row(row, p.setup, p.kernels, spans[i].begin, spans[i].end, y, canvas.BufferWidth,
                      canvas.BufferHeight, spans[i].end);
      }
    }
  }
}

// Composites the raised span of every row in the record, clipped to the image.
void composite_raised(CanvasBuffers& canvas, const PaperTexture& paper, const PreparedComposite& p,
                      const CoverageChanges& changes) {
  const int32_t top = std::max(changes.top(), 0);
  const int32_t bottom = std::min(changes.bottom(), canvas.BufferHeight - 1);
  for (int32_t y = top; y <= bottom; ++y) {
    int32_t first = 0, last = -1;
    if (!changes.row(y, first, last)) continue;
    first = std::max(first, 0);
    last = std::min(last, canvas.BufferWidth - 1);
    if (first > last) continue;
    const RowPointers row = row_pointers(canvas, paper, p.setup, p.out, y);
    composite_row(row, p.setup, p.kernels, first, last, y, canvas.BufferWidth, canvas.BufferHeight,
                  last);
  }
}

// What a preview pixel depends on besides its coverage, committed colour and paper byte, as bytes
// to compare between the events of a stroke: the lookup rows, paint, mode and the paper in use.
struct SettingsBytes {
  std::array<uint8_t, 256> strength;
  std::array<uint8_t, 256> grain;
  uint8_t paint[3];
  uint8_t mode, paper, relief;
  const uint8_t* paper_bytes;
  int32_t paper_width, paper_height;
};

SettingsBytes settings_bytes(const CallSetup& s, const PaperTexture& paper) {
  SettingsBytes b;
  std::memset(&b, 0, sizeof b);  // padding included, so that equal settings compare equal
  b.strength = s.strength;
  if (s.paper) b.grain = s.grain;
  std::memcpy(b.paint, s.tables.paint, 3);
  b.mode = static_cast<uint8_t>(s.mode);
  b.paper = s.paper;
  b.relief = s.relief;
  if (s.paper) {
    b.paper_bytes = paper.PaperBuffer.data();
    b.paper_width = paper.PaperWidth;
    b.paper_height = paper.PaperHeight;
  }
  return b;
}

// Whether this run may composite only the raised pixels: the record is trusted and the settings
// are those of the stroke so far. Relief reads the neighbours' coverage, so a pixel can go stale
// without being raised; with relief the record is given up for the rest of the stroke.
bool only_raised_pixels(CoverageChanges* changes, const CallSetup& s, const PaperTexture& paper) {
  if (changes == nullptr || !changes->trusted()) return false;
  const SettingsBytes bytes = settings_bytes(s, paper);
  if (s.relief || !changes->same_settings(reinterpret_cast<const uint8_t*>(&bytes), sizeof bytes)) {
    changes->invalidate();
    return false;
  }
  return true;
}

bool prepare_run(PreparedComposite& p, CanvasBuffers& canvas, const CompositeInputs& in) {
  if ((in.flags & (kPreviewFlag | kCommitFlag)) == 0 || !planes_cover_image(canvas)) return false;
  prepare(p.setup, in.paper, in.brush, in.tables, in.PenAltitude);
  p.kernels = kernels_for(p.setup.mode, p.setup.paper, !canvas.layer.empty());
  p.out = outputs_for(canvas, in.flags);
  return true;
}

}  // namespace

void composite_box_except(CanvasBuffers& canvas, const CompositeInputs& in, const PixelBox& box,
                          std::span<const PixelBox> others) {
  if (others.size() >= kMaxPixelBoxes) return;
  PreparedComposite p;
  if (!prepare_run(p, canvas, in)) return;
  if (in.flags & kPreviewFlag)
    note_preview_box(canvas, box.x_begin, box.x_end, box.y_begin, box.y_end);
  composite_except(canvas, in.paper, p, box, others);
}

void composite_boxes_once(CanvasBuffers& canvas, const CompositeInputs& in,
                          std::span<const PixelBox> boxes,
                          const std::function<void(std::size_t)>& before_box,
                          CoverageChanges* changes) {
  const PaperTexture& paper = in.paper;
  PreparedComposite p;
  const bool run = boxes.size() <= kMaxPixelBoxes && prepare_run(p, canvas, in);
  if (run && (in.flags & kPreviewFlag)) {
    for (const PixelBox& b : boxes)
      note_preview_box(canvas, b.x_begin, b.x_end, b.y_begin, b.y_end);
  }
  if (run && only_raised_pixels(changes, p.setup, paper)) {
    // Without relief a pixel's composite reads only its own coverage, and no stamp raises a pixel
    // after the last box that holds it, so one composite of the raised pixels after every stamp
    // gives each what the box-by-box pass would.
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      if (before_box) before_box(i);
    }
    composite_raised(canvas, paper, p, *changes);
    changes->clear();
    return;
  }
  if (!run && changes != nullptr) changes->invalidate();
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    if (before_box) before_box(i);
    if (run) composite_except(canvas, paper, p, boxes[i], boxes.subspan(i + 1));
  }
  if (changes != nullptr) changes->clear();
}

}  // namespace tarvo
