#pragma once
// The two byte lookup tables built once at start-up and only read afterwards.
//
// CoverageCurves(m, k): shaped coverage for raw coverage m under curve k + 1 (0 the rim curve,
// 1 the hardening curve). BlendTable(p, i, k): the result of blend mode k + 1 for paint byte p and
// image byte i; the paint always comes first.

#include "core/brush_tables_state.h"

namespace tarvo {

void BuildCoverageCurves(BrushTables& tables);
void BuildBlendTable(BrushTables& tables);

// Both tables, built in start-up order.
BrushTables make_brush_tables();

}  // namespace tarvo
