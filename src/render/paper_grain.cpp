#include "render/paper_grain.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace tarvo {

namespace {

// A float field of the texture's size that wraps at its edges.
struct GrainField {
  int32_t width = 0, height = 0;
  std::vector<float> values;

  float& at(int32_t x, int32_t y) {
    x %= width;
    y %= height;
    if (x < 0) x += width;
    if (y < 0) y += height;
    return values[static_cast<std::size_t>(y) * width + x];
  }
};

// A well-mixed 32-bit hash (an avalanche finaliser), so neighbouring lattice points are unrelated.
uint32_t mix(uint32_t v) {
  v ^= v >> 16;
  v *= 0x7feb352du;
  v ^= v >> 15;
  v *= 0x846ca68bu;
  v ^= v >> 16;
  return v;
}

uint32_t hash3(uint32_t a, uint32_t b, uint32_t c, uint32_t seed) {
  return mix(a ^ mix(b ^ mix(c ^ mix(seed))));
}

// A number in [0, 1) from a hash.
float unit(uint32_t h) {
  return static_cast<float>(h >> 8) * (1.0f / 16777216.0f);
}

// Deterministic random numbers for the fibres.
class GrainRandom {
 public:
  explicit GrainRandom(uint32_t seed) : state_(mix(seed ^ 0x9e3779b9u)) {}
  float next() {
    state_ = mix(state_ + 0x9e3779b9u);
    return unit(state_);
  }

 private:
  uint32_t state_;
};

float smooth(float t) {
  return t * t * (3.0f - 2.0f * t);
}

// One octave: cells_x x cells_y random lattice values stretched over the texture and interpolated
// smoothly; lattice index cells_x is index 0 again, which makes the octave wrap. Each octave's
// lattice is shifted by its own fraction of a cell so that the octaves' lattice lines do not meet.
struct Octave {
  int32_t cells_x, cells_y;
  uint32_t id;
  float amplitude;
  float shift_x, shift_y;  // 0..1 cell
};

void add_octave(GrainField& field, const Octave& octave, uint32_t seed) {
  auto lattice = [&](int32_t ix, int32_t iy) {
    return unit(hash3(static_cast<uint32_t>(ix % octave.cells_x),
                      static_cast<uint32_t>(iy % octave.cells_y), octave.id, seed)) -
           0.5f;
  };
  for (int32_t y = 0; y < field.height; ++y) {
    const float v = (y + 0.5f) * octave.cells_y / field.height + octave.shift_y;
    const int32_t iy = static_cast<int32_t>(v);
    const float fy = smooth(v - iy);
    for (int32_t x = 0; x < field.width; ++x) {
      const float u = (x + 0.5f) * octave.cells_x / field.width + octave.shift_x;
      const int32_t ix = static_cast<int32_t>(u);
      const float fx = smooth(u - ix);
      const float top = lattice(ix, iy) + (lattice(ix + 1, iy) - lattice(ix, iy)) * fx;
      const float bottom =
          lattice(ix, iy + 1) + (lattice(ix + 1, iy + 1) - lattice(ix, iy + 1)) * fx;
      field.at(x, y) += octave.amplitude * (top + (bottom - top) * fy);
    }
  }
}

// Spreads value over the four pixels around (x, y), wrapping at the edges.
void splat(GrainField& field, float x, float y, float value) {
  const float fx = std::floor(x), fy = std::floor(y);
  const float tx = x - fx, ty = y - fy;
  const int32_t ix = static_cast<int32_t>(fx), iy = static_cast<int32_t>(fy);
  field.at(ix, iy) += value * (1 - tx) * (1 - ty);
  field.at(ix + 1, iy) += value * tx * (1 - ty);
  field.at(ix, iy + 1) += value * (1 - tx) * ty;
  field.at(ix + 1, iy + 1) += value * tx * ty;
}

// Short straight fibres, strongest in their middle: mostly ridges (negative, where paint catches),
// some hollows.
void add_fibres(GrainField& field, uint32_t seed) {
  GrainRandom random(seed);
  const int32_t count = std::max(1, field.width * field.height / 96);
  for (int32_t i = 0; i < count; ++i) {
    const float x0 = random.next() * field.width, y0 = random.next() * field.height;
    const float angle = random.next() * std::numbers::pi_v<float>;
    const float length = 5.0f + random.next() * 19.0f;
    const float strength = (random.next() < 0.7f ? -1.0f : 1.0f) * (0.12f + 0.2f * random.next());
    const float dx = std::cos(angle), dy = std::sin(angle);
    for (float s = 0; s <= length; s += 0.5f) {
      const float taper = std::sin(std::numbers::pi_v<float> * s / length);
      splat(field, x0 + dx * s, y0 + dy * s, strength * taper * 0.5f);
    }
  }
}

// The lattice of an octave with cells of about cell_size pixels, at least one cell a side.
Octave octave_of(const GrainField& field, float cell_size, uint32_t id, float amplitude,
                 uint32_t seed) {
  const auto cells = [&](int32_t side) {
    return std::max(1, static_cast<int32_t>(std::lround(side / cell_size)));
  };
  return Octave{cells(field.width),
                cells(field.height),
                id,
                amplitude,
                unit(hash3(id, 1, 0xffffffffu, seed)),
                unit(hash3(id, 2, 0xffffffffu, seed))};
}

Plane quantise(const GrainField& field) {
  double sum = 0, sum_squares = 0;
  for (float v : field.values) {
    sum += v;
    sum_squares += static_cast<double>(v) * v;
  }
  const double n = static_cast<double>(field.values.size());
  const double mean = sum / n;
  const double deviation = std::sqrt(std::max(sum_squares / n - mean * mean, 1e-12));
  Plane grain(field.width, field.height);
  for (int32_t y = 0; y < field.height; ++y) {
    uint8_t* row = grain.row(y);
    for (int32_t x = 0; x < field.width; ++x) {
      const double v = field.values[static_cast<std::size_t>(y) * field.width + x];
      const double level = std::round(128.0 + 42.0 * (v - mean) / deviation);
      row[x] = static_cast<uint8_t>(std::clamp(level, 0.0, 255.0));
    }
  }
  return grain;
}

}  // namespace

Plane make_paper_grain(int32_t width, int32_t height, uint32_t seed) {
  if (width < 1 || height < 1) return Plane();
  GrainField field{width, height, std::vector<float>(static_cast<std::size_t>(width) * height)};
  // Cell sizes in pixels and weights: a faint cloudiness, most of the weight in the 2..8 pixel
  // tooth of the paper.
  const float cell_sizes[] = {64, 32, 16, 8, 4, 2};
  const float amplitudes[] = {0.15f, 0.2f, 0.3f, 0.45f, 0.5f, 0.35f};
  for (uint32_t i = 0; i < 6; ++i) {
    add_octave(field, octave_of(field, cell_sizes[i], i, amplitudes[i], seed), seed);
  }
  add_fibres(field, seed);
  return quantise(field);
}

}  // namespace tarvo
