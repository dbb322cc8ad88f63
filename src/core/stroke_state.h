#pragma once
// The stroke in progress: its point list, its progress along the curve and everything it may have
// touched. Image coordinates throughout, as single floats.

#include <array>
#include <cstdint>
#include <vector>

namespace tarvo {

// One row of the point list: image x, image y, pressure 0..1.
struct StrokePoint {
  float x = 0.0f, y = 0.0f, pressure = 0.0f;
};

// What the press that started the current drag chose; moves and the release keep to it, so that
// changing the modifiers or the comma key mid-drag never mixes painting with navigation or picking.
enum class PressMode : uint8_t { None, Navigate, Pick, Paint };

constexpr int32_t kLastStrokeRow = 10000;  // rows 0..10000; the list wraps to row 0 after it

struct StrokeState {
  // Allocated once when the canvas loads, never resized, never cleared.
  std::vector<StrokePoint> StrokePoints;
  int32_t PointIndex = 0;
  float LastX = 0.0f, LastY = 0.0f, LastPressure = 0.0f;
  float DirtyLeft = 0.0f, DirtyTop = 0.0f, DirtyRight = 0.0f, DirtyBottom = 0.0f;
  bool MouseIsDown = false;
  float DragStartX = 0.0f, DragStartY = 0.0f, DragStartZoom = 0.0f;
  float DragStartPanX = 0.0f, DragStartPanY = 0.0f;
  PressMode press_mode = PressMode::None;
  // Strokes committed since start-up: lets the window notice a commit (for the autosave).
  uint64_t commits = 0;
};

// A paint stroke is under way: the previews show it, the committed planes do not hold it yet.
// Reads two fields and nothing else, so a signal handler may ask.
inline bool stroke_on_screen(const StrokeState& stroke) {
  return stroke.MouseIsDown && stroke.press_mode == PressMode::Paint;
}

inline void allocate_stroke_points(StrokeState& stroke) {
  stroke.StrokePoints.assign(kLastStrokeRow + 1, StrokePoint{});
}

}  // namespace tarvo
