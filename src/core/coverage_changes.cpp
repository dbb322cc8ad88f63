#include "core/coverage_changes.h"

#include <algorithm>
#include <cstring>

namespace tarvo {

namespace {
constexpr int32_t kNoFirst = INT32_MAX, kNoLast = -1;
}  // namespace

void CoverageChanges::start_stroke() {
  clear();
  trusted_ = true;
  has_settings_ = false;
}

void CoverageChanges::grow(int32_t rows) {
  first_.resize(static_cast<std::size_t>(rows), kNoFirst);
  last_.resize(static_cast<std::size_t>(rows), kNoLast);
  held_first_.resize(static_cast<std::size_t>(rows), kNoFirst);
  held_last_.resize(static_cast<std::size_t>(rows), kNoLast);
}

void CoverageChanges::clear() {
  for (int32_t y = top_; y <= bottom_; ++y) {
    first_[y] = kNoFirst;
    last_[y] = kNoLast;
  }
  top_ = INT32_MAX;
  bottom_ = -1;
}

void CoverageChanges::cleared(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (held_top_ > held_bottom_) return;
  if (held_top_ < top || held_bottom_ >= bottom || held_left_ < left || held_right_ >= right)
    return;
  for (int32_t y = held_top_; y <= held_bottom_; ++y) {
    held_first_[y] = kNoFirst;
    held_last_[y] = kNoLast;
  }
  held_top_ = INT32_MAX;
  held_bottom_ = -1;
  held_left_ = INT32_MAX;
  held_right_ = -1;
}

bool CoverageChanges::same_settings(const uint8_t* bytes, std::size_t n) {
  if (!has_settings_) {
    settings_.assign(bytes, bytes + n);
    has_settings_ = true;
    return true;
  }
  return settings_.size() == n && std::memcmp(settings_.data(), bytes, n) == 0;
}

}  // namespace tarvo
