#pragma once
// The coverage a stroke's dabs raised since the previews last caught up with it, and whether the
// previews can be trusted everywhere else.
//
// A preview pixel is a pure function of its coverage, its committed colour, the paper under it and
// the stroke's settings; without relief it reads no neighbour. While none of those but the coverage
// changes, a pixel whose coverage has not changed since it was last composited would come out of a
// composite exactly as it already is. And every pixel a dab raises lies in the box of the
// sub-segment that laid it, which is composited after it. So, between strokes the coverage being
// zero everywhere, the preview pass of one pointer event need only composite the pixels raised
// during that event; the rest of its boxes are already what compositing them would give.
//
// The record is one span of columns per row, from the first to the last pixel raised (a span may
// take in unchanged pixels, which compositing leaves as they are), so marking costs nothing per
// pixel. It stays trustworthy from the start of a stroke until something other than the dabs
// changes what a preview depends on: a new committed image, an undo, a clear, another paper, or
// different settings (the renderer compares them). From then on, until the next stroke, the
// preview pass composites its boxes in full.
//
// Beside it, the same marks build a second record that only the commit empties: the span of every
// pixel raised since the coverage was last cleared around all of them. The dabs are the only
// writers of coverage and every pixel they raise is marked, so outside that record the coverage is
// zero; the commit composites the record's spans instead of scanning its whole box for coverage.
// It is a superset of the coverage (a clear or a new image may zero what it holds), never less.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvo {

class CoverageChanges {
 public:
  // A stroke begins: the coverage is zero and the previews are current.
  void start_stroke();
  // Something other than the dabs changed what the previews depend on.
  void invalidate() { trusted_ = false; }
  bool trusted() const { return trusted_; }

  // The columns first..last of row y (first <= last, row inside an image of rows rows) were
  // raised. Grows the record to rows rows the first time an image of that height is seen.
  void mark(int32_t y, int32_t first, int32_t last, int32_t rows) {
    if (static_cast<std::size_t>(rows) > first_.size()) grow(rows);
    if (first < first_[y]) first_[y] = first;
    if (last > last_[y]) last_[y] = last;
    if (y < top_) top_ = y;
    if (y > bottom_) bottom_ = y;
    if (first < held_first_[y]) held_first_[y] = first;
    if (last > held_last_[y]) held_last_[y] = last;
    if (y < held_top_) held_top_ = y;
    if (y > held_bottom_) held_bottom_ = y;
    if (first < held_left_) held_left_ = first;
    if (last > held_right_) held_right_ = last;
  }
  // The raised span of row y; false when nothing in it was raised.
  bool row(int32_t y, int32_t& first, int32_t& last) const {
    if (y < top_ || y > bottom_) return false;
    first = first_[y];
    last = last_[y];
    return first <= last;
  }
  // The rows that may hold a raised span: top() > bottom() when none does.
  int32_t top() const { return top_; }
  int32_t bottom() const { return bottom_; }
  // The previews caught up with every raised pixel: the record empties, its trust unchanged.
  void clear();

  // The span of row y that may hold coverage (the second record); false when the row holds none.
  bool held_row(int32_t y, int32_t& first, int32_t& last) const {
    if (y < held_top_ || y > held_bottom_) return false;
    first = held_first_[y];
    last = held_last_[y];
    return first <= last;
  }
  // The coverage was cleared over columns left .. right - 1 of rows top .. bottom - 1: when that
  // takes in every span of the second record, the record empties; otherwise it stays as it is.
  void cleared(int32_t left, int32_t top, int32_t right, int32_t bottom);

  // Whether these settings (the renderer's lookup rows, paint and mode, as opaque bytes) are those
  // the stroke's previews were composited with. The first settings of a stroke are adopted.
  bool same_settings(const uint8_t* bytes, std::size_t n);

 private:
  void grow(int32_t rows);

  std::vector<int32_t> first_, last_;  // per row; first > last when nothing was raised
  int32_t top_ = INT32_MAX, bottom_ = -1;
  // The second record, per row as the first, and the columns its spans reach.
  std::vector<int32_t> held_first_, held_last_;
  int32_t held_top_ = INT32_MAX, held_bottom_ = -1;
  int32_t held_left_ = INT32_MAX, held_right_ = -1;
  bool trusted_ = false;
  bool has_settings_ = false;
  std::vector<uint8_t> settings_;
};

}  // namespace tarvo
