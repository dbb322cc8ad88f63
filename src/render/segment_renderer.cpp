#include "render/segment_renderer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <span>

#include "render/blend_modes.h"
#include "render/composite_kernel.h"
#include "render/render_math.h"

namespace tarvo {

namespace {

using composite::CallTables;
using composite::Kernels;
using composite::RowPointers;
using composite::SpanFunction;

constexpr int32_t kBlendModes = 10;  // codes 1..10 have table planes

bool all_finite(float a, float b, float c, float d, float e) {
  return std::isfinite(a) && std::isfinite(b) && std::isfinite(c) && std::isfinite(d) &&
         std::isfinite(e);
}

// floor(min - size) .. floor(max + size) on one axis, in single precision, clipped to 0..limit-1.
void axis_range(float a, float b, float size, int32_t limit, int32_t& begin, int32_t& end) {
  const float low = std::min(a, b) - size, high = std::max(a, b) + size;
  begin = std::max(0, floor_to_int(low));
  end = std::min(limit - 1, floor_to_int(high));
}

PixelBox clipped_box(const CanvasBuffers& canvas, float size, float x1, float y1, float x2,
                     float y2) {
  PixelBox box{};
  axis_range(x1, x2, size, canvas.BufferWidth, box.x_begin, box.x_end);
  axis_range(y1, y2, size, canvas.BufferHeight, box.y_begin, box.y_end);
  return box;
}

bool covers(const Plane& plane, int32_t columns, int32_t rows) {
  return plane.columns() >= columns && plane.rows() >= rows;
}

bool planes_cover_image(const CanvasBuffers& c) {
  const int32_t w = c.BufferWidth, h = c.BufferHeight;
  return w > 0 && h > 0 && covers(c.FXbuffer, w, h) && covers(c.RBuffer, w, h) &&
         covers(c.GBuffer, w, h) && covers(c.BBuffer, w, h) && covers(c.RPreview, w, h) &&
         covers(c.GPreview, w, h) && covers(c.BPreview, w, h);
}

bool paper_usable(const PaperTexture& paper) {
  return paper.PaperWidth > 0 && paper.PaperHeight > 0 &&
         covers(paper.PaperBuffer, paper.PaperWidth, paper.PaperHeight);
}

uint8_t paint_byte(float colour) {
  return static_cast<uint8_t>(std::clamp(round_half_even(colour), 0, 255));
}

// The per-call lookup rows: coverage to strength (curve and opacity folded in) and paper byte to
// the coverage it takes away; the paint bytes, the effective mode and, for a mode that needs its
// table, each channel's row of it.
struct CallSetup {
  std::array<uint8_t, 256> strength;
  std::array<uint8_t, 256> grain;
  CallTables tables;
  int32_t mode = 0;
  bool paper = false, relief = false;
};

void fill_strength(CallSetup& s, const BrushSettings& brush, const BrushTables& tables) {
  const bool curve = brush.BrushCurve == 1 || brush.BrushCurve == 2;
  const float opacity = std::isnan(brush.Opacity) ? 0.0f : std::clamp(brush.Opacity, 0.0f, 255.0f);
  const auto whole = static_cast<int32_t>(opacity);
  if (static_cast<float>(whole) == opacity) {
    // A whole opacity (every value the slider gives) times a whole coverage needs no rounding:
    // the same bytes in plain integer arithmetic, at a fraction of the cost, once per event.
    for (int32_t m = 0; m < 256; ++m) {
      const int32_t shaped = curve ? tables.CoverageCurves(m, brush.BrushCurve - 1) : m;
      s.strength[m] = static_cast<uint8_t>(whole * shaped / 255);
    }
    // Full opacity without a curve (the usual brush) maps every coverage to itself.
    s.tables.strength_is_coverage = !curve && whole == 255;
    return;
  }
  for (int32_t m = 0; m < 256; ++m) {
    const int32_t shaped = curve ? tables.CoverageCurves(m, brush.BrushCurve - 1) : m;
    s.strength[m] = static_cast<uint8_t>(round_half_even(double{opacity} * shaped) / 255);
  }
}

void fill_grain(CallSetup& s, int32_t grain) {
  for (int32_t p = 0; p < 256; ++p) s.grain[p] = static_cast<uint8_t>((p * grain) / 255);
}

// A box with at least this many times the paper tile's pixels grounds the tile first.
constexpr std::size_t kGroundTileFactor = 8;

// The paper tile with the grain row applied to every byte: the coverage each paper pixel takes
// away.
PaperTexture ground_paper(const PaperTexture& paper, const std::array<uint8_t, 256>& grain) {
  PaperTexture ground;
  ground.PaperWidth = paper.PaperWidth;
  ground.PaperHeight = paper.PaperHeight;
  ground.PaperBuffer = Plane(paper.PaperWidth, paper.PaperHeight);
  for (int32_t y = 0; y < paper.PaperHeight; ++y) {
    const uint8_t* from = paper.PaperBuffer.row(y);
    uint8_t* to = ground.PaperBuffer.row(y);
    for (int32_t x = 0; x < paper.PaperWidth; ++x) to[x] = grain[from[x]];
  }
  return ground;
}

void choose_blend(CallSetup& s, const BrushSettings& brush, const BrushTables& tables,
                  float PenAltitude) {
  uint8_t* paint = s.tables.paint;
  paint[0] = paint_byte(brush.ColorR);
  paint[1] = paint_byte(brush.ColorG);
  paint[2] = paint_byte(brush.ColorB);
  if (PenAltitude < 0.0f) paint[0] = paint[1] = paint[2] = 255;
  const bool built = tables.blend.size() >= (std::size_t{kBlendModes} << 16);
  const int32_t mode = brush.BlendMode;
  s.mode = built && mode >= 1 && mode <= kBlendModes ? mode : 0;
  for (int ch = 0; ch < 3; ++ch) {
    s.tables.blend[ch] = s.mode == 0 ? nullptr : tables.blend_plane(s.mode - 1) + paint[ch] * 256;
  }
}

void prepare(CallSetup& s, const PaperTexture& paper, const BrushSettings& brush,
             const BrushTables& tables, float PenAltitude) {
  const int32_t grain = std::clamp(brush.PaperGrain, 0, 255);
  s.paper = grain >= 1 && paper_usable(paper);
  s.relief = brush.Emboss >= 1;
  fill_strength(s, brush, tables);
  if (s.paper) fill_grain(s, grain);
  choose_blend(s, brush, tables, PenAltitude);
  s.tables.strength = s.strength.data();
  s.tables.grain = s.paper ? s.grain.data() : nullptr;
  s.tables.paper_width = paper.PaperWidth;
}

// Where the composited colour goes: the previews, the committed planes or both.
struct Outputs {
  Plane* a[3];
  Plane* b[3];
};

Outputs outputs_for(CanvasBuffers& c, int32_t flags) {
  Plane* preview[3] = {&c.RPreview, &c.GPreview, &c.BPreview};
  Plane* commit[3] = {&c.RBuffer, &c.GBuffer, &c.BBuffer};
  Plane** first = (flags & kPreviewFlag) ? preview : commit;
  Plane** second = (flags & kCommitFlag) ? commit : preview;
  return Outputs{{first[0], first[1], first[2]}, {second[0], second[1], second[2]}};
}

const uint8_t* paper_row(const PaperTexture& paper, bool use, int32_t y) {
  return use ? paper.PaperBuffer.row(y % paper.PaperHeight) : nullptr;
}

RowPointers row_pointers(CanvasBuffers& c, const PaperTexture& paper, const CallSetup& s,
                         const Outputs& out, int32_t y) {
  RowPointers r{};
  const bool neighbours = y >= 1 && y + 1 < c.BufferHeight;
  r.fx = c.FXbuffer.row(y);
  r.fx_up = neighbours ? c.FXbuffer.row(y - 1) : nullptr;
  r.fx_down = neighbours ? c.FXbuffer.row(y + 1) : nullptr;
  r.paper = paper_row(paper, s.paper, y);
  r.paper_up = paper_row(paper, s.paper && neighbours, y - 1);
  r.paper_down = paper_row(paper, s.paper && neighbours, y + 1);
  const Plane* image[3] = {&c.RBuffer, &c.GBuffer, &c.BBuffer};
  for (int ch = 0; ch < 3; ++ch) {
    r.image[ch] = image[ch]->row(y);
    r.out_a[ch] = out.a[ch]->row(y);
    r.out_b[ch] = out.b[ch]->row(y);
  }
  return r;
}

Kernels kernels_for(int32_t mode, bool paper) {
  return blend::with_mode(mode,
                          [paper]<class Mode>() { return composite::kernels_for<Mode>(paper); });
}

// Narrows begin..end to the pixels from the first to the last with coverage. Coverage 0 gives
// strength 0 (paper only lowers coverage), which leaves a pixel as it is, so the pixels cut off
// would be left alone anyway; most of a segment's box lies beside the stroke, so this is where the
// box's cost goes. Eight bytes are tested at a time.
void trim_to_coverage(const uint8_t* fx, int32_t& begin, int32_t& end) {
  const auto word_at = [fx](int32_t x) {
    uint64_t w;
    std::memcpy(&w, fx + x, 8);
    return w;
  };
  while (begin + 8 <= end + 1 && word_at(begin) == 0) begin += 8;
  while (begin <= end && fx[begin] == 0) ++begin;
  while (end - 8 >= begin - 1 && word_at(end - 7) == 0) end -= 8;
  while (end >= begin && fx[end] == 0) --end;
}

// Columns x_begin..x_end of one row, all of them composited: relief applies only to
// 2 <= x < BufferWidth - 2 of rows 2 <= y < BufferHeight - 2. Every pixel's result depends on the
// pixel alone, never on the span.
void composite_columns(const RowPointers& row, const CallSetup& s, const Kernels& k,
                       int32_t x_begin, int32_t x_end, int32_t y, int32_t width, int32_t height) {
  if (x_begin > x_end) return;
  const int32_t mid_begin = std::max(x_begin, 2), mid_end = std::min(x_end, width - 3);
  const bool relief_row = s.relief && y >= 2 && y < height - 2 && mid_begin <= mid_end;
  if (!relief_row) {
    k.plain(row, s.tables, x_begin, x_end);
    return;
  }
  k.plain(row, s.tables, x_begin, mid_begin - 1);
  k.relief(row, s.tables, mid_begin, mid_end);
  k.plain(row, s.tables, mid_end + 1, x_end);
}

// A run of zero coverage at least this long splits a row's span in two: a curving stroke crosses
// a row of its rectangle several times, and a commit would otherwise composite the untouched
// pixels between the crossings too.
constexpr int32_t kZeroGapBytes = 32;

// The first column from x on (up to end + 1) where at least kZeroGapBytes of coverage are zero,
// looked for eight bytes at a time.
int32_t next_zero_gap(const uint8_t* fx, int32_t x, int32_t end) {
  int32_t zeros = 0;
  for (; x + 8 <= end + 1; x += 8) {
    uint64_t w;
    std::memcpy(&w, fx + x, 8);
    zeros = w == 0 ? zeros + 8 : 0;
    if (zeros >= kZeroGapBytes) return x + 8 - zeros;
  }
  return end + 1;
}

// Runs are widened to a whole number of this many pixels where the columns after them have no
// coverage: the kernels' vector loops then leave no pixels to a scalar tail, which for the short
// runs of a stroke's rows took most of their time.
constexpr int32_t kRunBlock = 32;

// Columns x_begin..x_end of one row. When coverage 0 gives strength 0 (paper only lowers coverage),
// a pixel without coverage is left as it is, so only the runs of columns between long zero gaps
// are composited: the pixels skipped would be left alone anyway, and most of a box or a stroke's
// rectangle lies beside the stroke. The columns x_end + 1 .. zero_end have no coverage either
// (the caller knows), so a run may be widened into them; widening never reaches the next run,
// which lies at least kZeroGapBytes beyond a gap's start, and visits no pixel twice.
void composite_row(const RowPointers& row, const CallSetup& s, const Kernels& k, int32_t x_begin,
                   int32_t x_end, int32_t y, int32_t width, int32_t height, int32_t zero_end) {
  if (s.strength[0] != 0) {
    composite_columns(row, s, k, x_begin, x_end, y, width, height);
    return;
  }
  trim_to_coverage(row.fx, x_begin, x_end);
  while (x_begin <= x_end) {
    const int32_t gap = next_zero_gap(row.fx, x_begin, x_end);
    int32_t run_end = gap - 1;
    trim_to_coverage(row.fx, x_begin, run_end);
    const int32_t zeros_to = gap <= x_end ? gap + kZeroGapBytes - 1 : std::max(x_end, zero_end);
    const int32_t blocks = (run_end - x_begin + kRunBlock) / kRunBlock;
    run_end = std::max(run_end, std::min(zeros_to, x_begin + blocks * kRunBlock - 1));
    composite_columns(row, s, k, x_begin, run_end, y, width, height);
    x_begin = gap;
    trim_to_coverage(row.fx, x_begin, x_end);
  }
}

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

}  // namespace

std::optional<RedrawRect> preview_redraw_rect(float x1, float y1, float x2, float y2,
                                              float BrushSize, float Zoom) {
  if (Zoom == 0.0f || !all_finite(x1, y1, x2, y2, BrushSize) || !std::isfinite(Zoom)) {
    return std::nullopt;
  }
  SortPair(x1, x2);
  SortPair(y1, y2);
  const float margin = 1.0f / Zoom;
  return RedrawRect{round_half_even(std::floor(x1 - BrushSize) - margin),
                    round_half_even(std::floor(y1 - BrushSize) - margin),
                    round_half_even(std::floor(x2 + BrushSize) + margin),
                    round_half_even(std::floor(y2 + BrushSize) + margin)};
}

void composite_box(CanvasBuffers& canvas, const PaperTexture& paper, const BrushSettings& brush,
                   const BrushTables& tables, float PenAltitude, int32_t flags, float x1, float y1,
                   float x2, float y2, const CoverageChanges* held) {
  if ((flags & (kPreviewFlag | kCommitFlag)) == 0) return;
  if (!all_finite(x1, y1, x2, y2, brush.BrushSize) || !planes_cover_image(canvas)) return;
  const PixelBox box = clipped_box(canvas, brush.BrushSize, x1, y1, x2, y2);
  if (box.empty()) return;
  if (flags & kPreviewFlag)
    note_preview_box(canvas, box.x_begin, box.x_end, box.y_begin, box.y_end);

  CallSetup setup;
  prepare(setup, paper, brush, tables, PenAltitude);
  const Kernels kernels = kernels_for(setup.mode, setup.paper);
  const Outputs out = outputs_for(canvas, flags);
  // A box many times the paper tile (a stroke's commit) looks the grain up once per tile byte
  // instead of once per pixel, and three times with relief.
  PaperTexture ground;
  const std::size_t box_pixels =
      std::size_t(box.x_end - box.x_begin + 1) * std::size_t(box.y_end - box.y_begin + 1);
  if (setup.paper && box_pixels >= kGroundTileFactor * std::size_t(paper.PaperWidth) *
                                       std::size_t(paper.PaperHeight)) {
    ground = ground_paper(paper, setup.grain);
    setup.tables.grain_applied = true;
  }
  const PaperTexture& rows_paper = setup.tables.grain_applied ? ground : paper;
  const bool held_only = held != nullptr && setup.strength[0] == 0;
  for (int32_t y = box.y_begin; y <= box.y_end; ++y) {
    int32_t x_begin = box.x_begin, x_end = box.x_end;
    if (held_only) {
      int32_t first = 0, last = -1;
      if (!held->held_row(y, first, last)) continue;
      x_begin = std::max(x_begin, first);
      x_end = std::min(x_end, last);
      if (x_begin > x_end) continue;
    }
    const RowPointers row = row_pointers(canvas, rows_paper, setup, out, y);
    // Beyond the held span, up to the box's edge, the coverage is zero.
    composite_row(row, setup, kernels, x_begin, x_end, y, canvas.BufferWidth, canvas.BufferHeight,
                  box.x_end);
  }
}

PixelBox segment_pixel_box(const CanvasBuffers& canvas, float BrushSize, float x1, float y1,
                           float x2, float y2) {
  if (!all_finite(x1, y1, x2, y2, BrushSize)) return PixelBox{0, -1, 0, -1};
  return clipped_box(canvas, BrushSize, x1, y1, x2, y2);
}

namespace {

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

bool prepare_run(PreparedComposite& p, CanvasBuffers& canvas, const PaperTexture& paper,
                 const BrushSettings& brush, const BrushTables& tables, float PenAltitude,
                 int32_t flags) {
  if ((flags & (kPreviewFlag | kCommitFlag)) == 0 || !planes_cover_image(canvas)) return false;
  prepare(p.setup, paper, brush, tables, PenAltitude);
  p.kernels = kernels_for(p.setup.mode, p.setup.paper);
  p.out = outputs_for(canvas, flags);
  return true;
}

}  // namespace

void composite_box_except(CanvasBuffers& canvas, const PaperTexture& paper,
                          const BrushSettings& brush, const BrushTables& tables, float PenAltitude,
                          int32_t flags, const PixelBox& box, std::span<const PixelBox> others) {
  if (others.size() >= kMaxPixelBoxes) return;
  PreparedComposite p;
  if (!prepare_run(p, canvas, paper, brush, tables, PenAltitude, flags)) return;
  if (flags & kPreviewFlag)
    note_preview_box(canvas, box.x_begin, box.x_end, box.y_begin, box.y_end);
  composite_except(canvas, paper, p, box, others);
}

void composite_boxes_once(CanvasBuffers& canvas, const PaperTexture& paper,
                          const BrushSettings& brush, const BrushTables& tables, float PenAltitude,
                          int32_t flags, std::span<const PixelBox> boxes,
                          const std::function<void(std::size_t)>& before_box,
                          CoverageChanges* changes) {
  PreparedComposite p;
  const bool run = boxes.size() <= kMaxPixelBoxes &&
                   prepare_run(p, canvas, paper, brush, tables, PenAltitude, flags);
  if (run && (flags & kPreviewFlag)) {
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

void RenderSegment(Program& program, int32_t flags, float x1, float y1, float x2, float y2) {
  composite_box(program.canvas, program.paper, program.brush, program.tables,
                program.tablet.PenAltitude, flags, x1, y1, x2, y2);
  if ((flags & kPreviewFlag) == 0) return;
  const std::optional<RedrawRect> rect =
      preview_redraw_rect(x1, y1, x2, y2, program.brush.BrushSize, program.display.view.Zoom);
  if (!rect) return;
  const CanvasBuffers& c = program.canvas;
  BlitPlanes(program.display, program.size(), c.RPreview, c.GPreview, c.BPreview, rect->left,
             rect->top, rect->right, rect->bottom);
}

}  // namespace tarvo
