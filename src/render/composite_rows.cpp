#include "render/composite_rows.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <span>

#include "canvas/display_surface.h"
#include "render/blend_modes.h"
#include "render/composite_kernel.h"
#include "render/render_math.h"

namespace tarvo::composite {

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
         covers(c.GPreview, w, h) && covers(c.BPreview, w, h) &&
         (c.layer.empty() || (covers(c.layer.red, w, h) && covers(c.layer.green, w, h) &&
                              covers(c.layer.blue, w, h) && covers(c.layer.alpha, w, h)));
}

bool paper_usable(const PaperTexture& paper) {
  return paper.PaperWidth > 0 && paper.PaperHeight > 0 &&
         covers(paper.PaperBuffer, paper.PaperWidth, paper.PaperHeight);
}

uint8_t paint_byte(float colour) {
  return static_cast<uint8_t>(std::clamp(round_half_even(colour), 0, 255));
}

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

Outputs outputs_for(CanvasBuffers& c, int32_t flags) {
  Plane* preview[3] = {&c.RPreview, &c.GPreview, &c.BPreview};
  Plane* commit[3] = {&c.RBuffer, &c.GBuffer, &c.BBuffer};
  Plane** first = (flags & kPreviewFlag) ? preview : commit;
  Plane** second = (flags & kCommitFlag) ? commit : preview;
  LayerPlanes* layer = (flags & kCommitFlag) && !c.layer.empty() ? &c.layer : nullptr;
  return Outputs{{first[0], first[1], first[2]}, {second[0], second[1], second[2]}, layer};
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
  if (!c.layer.empty()) {
    Plane* own[3] = {&c.layer.red, &c.layer.green, &c.layer.blue};
    for (int ch = 0; ch < 3; ++ch) {
      r.layer[ch] = own[ch]->row(y);
      r.out_layer[ch] = out.layer ? own[ch]->row(y) : nullptr;
    }
    r.alpha = c.layer.alpha.row(y);
    r.out_alpha = out.layer ? c.layer.alpha.row(y) : nullptr;
  }
  return r;
}

Kernels kernels_for(int32_t mode, bool paper, bool alpha) {
  return blend::with_mode(mode, [paper, alpha]<class Mode>() {
    return alpha ? composite::kernels_for<Mode, true>(paper)
                 : composite::kernels_for<Mode, false>(paper);
  });
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

}  // namespace tarvo::composite
