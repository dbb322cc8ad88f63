#pragma once
// Builders for renderer tests: a Program with planes and tables and no window, images filled with a
// value, and a coverage pattern.

#include <cstdint>

#include "canvas/canvas_buffers.h"
#include "core/program.h"
#include "render/brush_tables.h"

namespace tarvo::testing {

// The tables are built once: they never change after start-up.
inline const BrushTables& built_tables() {
  static const BrushTables tables = make_brush_tables();
  return tables;
}

// Committed and preview planes of one colour, coverage zero.
inline void fill_image(CanvasBuffers& c, uint8_t r, uint8_t g, uint8_t b) {
  c.RBuffer.fill(r);
  c.GBuffer.fill(g);
  c.BBuffer.fill(b);
  copy_to_previews(c);
}

inline CanvasBuffers make_canvas(int32_t width, int32_t height, uint8_t r, uint8_t g, uint8_t b) {
  CanvasBuffers c;
  allocate_planes(c, width, height);
  fill_image(c, r, g, b);
  return c;
}

inline void fill_coverage(CanvasBuffers& c, uint8_t m) {
  c.FXbuffer.fill(m);
}

// A program of width x height white pixels with the tables built and no canvas window.
inline void prepare_program(Program& p, int32_t width, int32_t height) {
  allocate_planes(p.canvas, width, height);
  fill_image(p.canvas, 255, 255, 255);
  p.tables = built_tables();
  allocate_stroke_points(p.stroke);
  p.display.view.Zoom = 1.0f;
}

// FNV-1a over bytes, for whole-image checksums.
inline uint64_t fnv1a(const uint8_t* bytes, std::size_t n,
                      uint64_t hash = 14695981039346656037ull) {
  for (std::size_t i = 0; i < n; ++i) {
    hash ^= bytes[i];
    hash *= 1099511628211ull;
  }
  return hash;
}

inline uint64_t committed_hash(const CanvasBuffers& c) {
  uint64_t h = fnv1a(c.RBuffer.data(), c.RBuffer.size());
  h = fnv1a(c.GBuffer.data(), c.GBuffer.size(), h);
  return fnv1a(c.BBuffer.data(), c.BBuffer.size(), h);
}

}  // namespace tarvo::testing
