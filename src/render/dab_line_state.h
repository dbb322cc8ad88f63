#pragma once

namespace tarvo {

// The dab spacing phase: distance walked since the last dab. It carries across sub-segments and
// strokes and is set to 0 only when a dab is stamped.
struct DabLineState {
  float StepDistance = 0.0f;
};

}  // namespace tarvo
