#pragma once
// The measurement of tarvo_bench's GIMP plug-in, shared by its GIMP 2.10 and GIMP 3 entry points.

#include <cstdint>

// Runs the iterations on the drawable (GIMP's ids) and writes their figures to output. False when
// the output cannot be written or a measurement failed (the file then says why).
bool run_gimp_bench(int32_t image, int32_t drawable, const char* output, int iterations);
