#pragma once
// The program as start-up leaves it for a benchmark that paints through the canvas's own entry
// points: zoom 1, the default undo bounds, the brush tables, the built-in paper grain, and planes
// for a side x side image (their content is the caller's).

#include <cstdint>

#include "canvas/canvas_buffers.h"
#include "canvas/undo_stack.h"
#include "core/program.h"
#include "render/brush_tables.h"
#include "render/paper_grain.h"
#include "row_helper.h"

namespace tarvo::bench {

inline void ready_program(Program& p, int32_t side) {
  lend_row_helper(p, row_helper());
  p.display.view.Zoom = 1.0f;
  p.undo.MaxUndo = 128;
  p.undo.byte_budget = default_undo_budget();
  BuildCoverageCurves(p.tables);
  BuildBlendTable(p.tables);
  p.paper.PaperBuffer = make_paper_grain(kPaperGrainSize, kPaperGrainSize, kPaperGrainSeed);
  p.paper.PaperWidth = p.paper.PaperHeight = kPaperGrainSize;
  allocate_planes(p.canvas, side, side);
}

}  // namespace tarvo::bench
