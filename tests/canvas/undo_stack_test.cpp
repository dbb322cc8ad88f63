#include "canvas/undo_stack.h"

#include <gtest/gtest.h>

#include <utility>

namespace tarvo {
namespace {

CanvasBuffers image(int32_t w, int32_t h, uint8_t seed) {
  CanvasBuffers c;
  allocate_planes(c, w, h);
  for (int32_t y = 0; y <= h; ++y)
    for (int32_t x = 0; x <= w; ++x) {
      c.RBuffer(x, y) = static_cast<uint8_t>(seed + x);
      c.GBuffer(x, y) = static_cast<uint8_t>(seed + y);
      c.BBuffer(x, y) = static_cast<uint8_t>(seed + x * y);
    }
  copy_to_previews(c);
  return c;
}

bool same_image(const CanvasBuffers& a, const CanvasBuffers& b) {
  for (int32_t y = 0; y < a.BufferHeight; ++y)
    for (int32_t x = 0; x < a.BufferWidth; ++x)
      if (a.RBuffer(x, y) != b.RBuffer(x, y) || a.GBuffer(x, y) != b.GBuffer(x, y) ||
          a.BBuffer(x, y) != b.BBuffer(x, y))
        return false;
  return true;
}

void push_whole(UndoStack& s, const CanvasBuffers& c) {
  PushUndo(s, c, 0, 0, static_cast<float>(c.BufferWidth - 1),
           static_cast<float>(c.BufferHeight - 1));
}

TEST(RectNormalisation, FloorsThenSwapsSoReversedIsNotMirrored) {
  // right < left: floor(2.5)=2, floor(0.2+1)=1 -> swapped to 1..2; the mirrored call gives 0..3.
  const PixelRect reversed = normalise_rect(2.5f, 0, 0.2f, 0, 10, 10);
  EXPECT_EQ(reversed.left, 1);
  EXPECT_EQ(reversed.right, 2);
  const PixelRect mirrored = normalise_rect(0.2f, 0, 2.5f, 0, 10, 10);
  EXPECT_EQ(mirrored.left, 0);
  EXPECT_EQ(mirrored.right, 3);
}

TEST(RectNormalisation, ClampsIntoTheImageAndOutsideBecomesEmpty) {
  const PixelRect r = normalise_rect(-5.5f, -3, 100, 7.9f, 10, 8);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, 10);
  EXPECT_EQ(r.bottom, 8);
  EXPECT_TRUE(normalise_rect(20, 20, 30, 30, 10, 8).empty());
  EXPECT_TRUE(normalise_rect(-30, 2, -20, 4, 10, 8).empty());
}

TEST(UndoStack, RecordIsFiveItemsWithPatchesOfTheRectangle) {
  CanvasBuffers c = image(6, 5, 10);
  UndoStack s;
  PushUndo(s, c, 1.5f, 2, 3, 3.2f);  // columns 1..3, rows 2..3
  ASSERT_EQ(s.item_count(), 5u);
  const UndoRecord& r = s.records.back();
  EXPECT_EQ(r.left, 1);
  EXPECT_EQ(r.top, 2);
  ASSERT_EQ(r.red.columns(), 3);
  ASSERT_EQ(r.red.rows(), 2);
  EXPECT_EQ(r.red(2, 1), c.RBuffer(3, 3));
  EXPECT_EQ(r.green(0, 1), c.GBuffer(1, 3));
  EXPECT_EQ(r.blue(1, 0), c.BBuffer(2, 2));
}

TEST(UndoStack, EmptyRectanglePushesNothing) {
  CanvasBuffers c = image(6, 5, 0);
  UndoStack s;
  PushUndo(s, c, 2, 1, 1.5f, 3);  // floor(2)=2, floor(2.5)=2: left equals right
  PushUndo(s, c, 40, 40, 50, 50);
  EXPECT_TRUE(s.empty());
}

TEST(UndoStack, ThreeWholeImageRecordsRestoreTheStartImageWithLastColumnAndRow) {
  CanvasBuffers c = image(7, 5, 3);
  const CanvasBuffers start = image(7, 5, 3);
  UndoStack s;
  push_whole(s, c);
  clearbuffer(c);
  push_whole(s, c);
  CanvasBuffers other = image(7, 5, 99);  // stands in for a fetched image
  c.RBuffer.assign(other.RBuffer);
  c.GBuffer.assign(other.GBuffer);
  c.BBuffer.assign(other.BBuffer);
  push_whole(s, c);
  clearbuffer(c);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(restore_newest(s, c));
  EXPECT_TRUE(same_image(c, start));
  EXPECT_EQ(c.RBuffer(6, 4), start.RBuffer(6, 4));
  EXPECT_EQ(c.RPreview(6, 4), start.RBuffer(6, 4));
  EXPECT_FALSE(restore_newest(s, c));
}

TEST(UndoStack, AnImageWithAlphaGetsItsOwnColoursAndAlphaBack) {
  CanvasBuffers c = image(6, 5, 10);
  c.layer = LayerPlanes{c.RBuffer.copy(), c.GBuffer.copy(), c.BBuffer.copy(), Plane(7, 6)};
  c.layer.alpha.fill(90);
  const LayerPlanes before = c.layer.copy();
  UndoStack s;
  PushUndo(s, c, 1, 1, 3, 2);
  push_whole(s, c);
  EXPECT_EQ(s.bytes_held, std::size_t{7} * (3 * 2 + 6 * 5));  // colour, own colour and alpha
  c.layer.alpha.fill(200);
  c.layer.red.fill(0);
  ASSERT_TRUE(restore_newest(s, c));
  ASSERT_TRUE(restore_newest(s, c));
  for (const auto& [now, was] :
       {std::pair{&c.layer.red, &before.red}, std::pair{&c.layer.alpha, &before.alpha}}) {
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 6; ++x) EXPECT_EQ((*now)(x, y), (*was)(x, y)) << x << "," << y;
  }
  ASSERT_TRUE(restore_undone(s, c));  // the whole-image record's own colours and alpha come back
  EXPECT_EQ(c.layer.alpha(4, 4), 90);
}

TEST(UndoStack, The130thPushDropsTheOldestRecord) {
  CanvasBuffers c = image(4, 3, 0);
  UndoStack s;
  for (int i = 0; i < 130; ++i) {
    c.RBuffer(0, 0) = static_cast<uint8_t>(i);
    push_whole(s, c);
  }
  EXPECT_EQ(s.records.size(), 129u);
  int restored = 0;
  while (restore_newest(s, c)) ++restored;
  EXPECT_EQ(restored, 129);
  EXPECT_EQ(c.RBuffer(0, 0), 1);  // the record holding 0 was the one dropped
}

TEST(Clearing, ClearbufferPaintsWhiteAndLeavesTheSpareColumnAlone) {
  CanvasBuffers c = image(3, 2, 5);
  c.FXbuffer(1, 1) = 200;
  const uint8_t spare = c.RBuffer(3, 0);
  clearbuffer(c);
  EXPECT_EQ(c.RBuffer(2, 1), 255);
  EXPECT_EQ(c.BPreview(2, 1), 255);
  EXPECT_EQ(c.FXbuffer(1, 1), 0);
  EXPECT_EQ(c.RBuffer(3, 0), spare);
}

TEST(Clearing, ClearFXbufferZeroesOnlyTheNormalisedRectangle) {
  CanvasBuffers c = image(5, 5, 0);
  c.FXbuffer.fill(9);
  ClearFXbuffer(c, 1, 1, 2.5f, 2);  // right floor(3.5) = 3 exclusive: columns 1..2, rows 1..2
  EXPECT_EQ(c.FXbuffer(1, 1), 0);
  EXPECT_EQ(c.FXbuffer(2, 2), 0);
  EXPECT_EQ(c.FXbuffer(3, 2), 9);
  EXPECT_EQ(c.FXbuffer(1, 3), 9);
  EXPECT_EQ(c.FXbuffer(0, 1), 9);
}

}  // namespace
}  // namespace tarvo

namespace tarvo {
namespace {

TEST(UndoBudget, OldestRecordsGoWhileTheStackHoldsMoreThanItsBudget) {
  CanvasBuffers c = image(10, 10, 0);
  UndoStack s;
  s.byte_budget = 3 * 100 * 2 + 50;  // room for two whole-image records
  for (int i = 0; i < 5; ++i) {
    c.RBuffer(0, 0) = static_cast<uint8_t>(i);
    push_whole(s, c);
  }
  EXPECT_EQ(s.records.size(), 2u);
  EXPECT_EQ(s.bytes_held, 600u);
  ASSERT_TRUE(restore_newest(s, c));
  ASSERT_TRUE(restore_newest(s, c));
  EXPECT_EQ(c.RBuffer(0, 0), 3);
  EXPECT_EQ(s.bytes_held, 0u);
}

TEST(UndoBudget, TheNewestRecordStaysEvenWhenItAloneIsOverBudget) {
  CanvasBuffers c = image(10, 10, 0);
  UndoStack s;
  s.byte_budget = 10;
  push_whole(s, c);
  push_whole(s, c);
  EXPECT_EQ(s.records.size(), 1u);
  EXPECT_TRUE(restore_newest(s, c));
}

}  // namespace
}  // namespace tarvo

namespace tarvo {
namespace {

// The undo stack against a plain model: a record is the rectangle's pixels, and an undo writes
// them back into the committed planes and the previews. Whole-image records (which hand their
// planes back instead of copying) and large rectangles (whose copies are shared between threads)
// are mixed with small ones; the committed planes' spare column and row must come through as they
// were, and the previews must equal the committed planes after every undo.
struct ModelRecord {
  PixelRect rect;
  std::vector<uint8_t> r, g, b;
};

struct Model {
  CanvasBuffers canvas;
  std::vector<ModelRecord> records;
  uint32_t seed = 1;

  uint32_t next() { return seed = seed * 1664525u + 1013904223u; }

  void scribble() {  // repaints a random band of image pixels, as a stroke commit would
    const int32_t y0 = static_cast<int32_t>(next() % canvas.BufferHeight);
    const int32_t y1 = std::min(canvas.BufferHeight, y0 + static_cast<int32_t>(next() % 300));
    const auto v = static_cast<uint8_t>(next() >> 24);
    for (int32_t y = y0; y < y1; ++y)
      for (int32_t x = 0; x < canvas.BufferWidth; ++x) {
        canvas.RBuffer(x, y) = static_cast<uint8_t>(v + x);
        canvas.GBuffer(x, y) = static_cast<uint8_t>(v ^ y);
        canvas.BBuffer(x, y) = v;
      }
    copy_to_previews(canvas);
  }

  void push(UndoStack& stack, bool whole) {
    const int32_t w = canvas.BufferWidth, h = canvas.BufferHeight;
    PixelRect r{0, 0, w, h};
    if (!whole) {
      r.left = static_cast<int32_t>(next() % w);
      r.top = static_cast<int32_t>(next() % h);
      r.right = std::min(w, r.left + 1 + static_cast<int32_t>(next() % w));
      r.bottom = std::min(h, r.top + 1 + static_cast<int32_t>(next() % h));
    }
    ModelRecord m{r, {}, {}, {}};
    for (int32_t y = r.top; y < r.bottom; ++y)
      for (int32_t x = r.left; x < r.right; ++x) {
        m.r.push_back(canvas.RBuffer(x, y));
        m.g.push_back(canvas.GBuffer(x, y));
        m.b.push_back(canvas.BBuffer(x, y));
      }
    records.push_back(std::move(m));
    PushUndo(stack, canvas, static_cast<float>(r.left), static_cast<float>(r.top),
             static_cast<float>(r.right - 1), static_cast<float>(r.bottom - 1));
  }

  // Checks the restored pixels against the model record it stands for.
  void expect_undone(const ModelRecord& m) const {
    std::size_t i = 0;
    for (int32_t y = m.rect.top; y < m.rect.bottom; ++y)
      for (int32_t x = m.rect.left; x < m.rect.right; ++x, ++i) {
        ASSERT_EQ(canvas.RBuffer(x, y), m.r[i]) << x << "," << y;
        ASSERT_EQ(canvas.GBuffer(x, y), m.g[i]) << x << "," << y;
        ASSERT_EQ(canvas.BBuffer(x, y), m.b[i]) << x << "," << y;
      }
  }

  void expect_previews_equal_committed() const {
    const Plane* c[3] = {&canvas.RBuffer, &canvas.GBuffer, &canvas.BBuffer};
    const Plane* p[3] = {&canvas.RPreview, &canvas.GPreview, &canvas.BPreview};
    for (int k = 0; k < 3; ++k)
      for (int32_t y = 0; y < canvas.BufferHeight; ++y)
        for (int32_t x = 0; x < canvas.BufferWidth; ++x)
          ASSERT_EQ((*c[k])(x, y), (*p[k])(x, y)) << "plane " << k << " at " << x << "," << y;
  }
};

void expect_spare_edges(const CanvasBuffers& c, uint8_t value) {
  for (const Plane* p : {&c.RBuffer, &c.GBuffer, &c.BBuffer}) {
    for (int32_t y = 0; y <= c.BufferHeight; ++y) ASSERT_EQ((*p)(c.BufferWidth, y), value) << y;
    for (int32_t x = 0; x <= c.BufferWidth; ++x) ASSERT_EQ((*p)(x, c.BufferHeight), value) << x;
  }
}

void set_spare_edges(CanvasBuffers& c, uint8_t value) {
  for (Plane* p : {&c.RBuffer, &c.GBuffer, &c.BBuffer}) {
    for (int32_t y = 0; y <= c.BufferHeight; ++y) (*p)(c.BufferWidth, y) = value;
    for (int32_t x = 0; x <= c.BufferWidth; ++x) (*p)(x, c.BufferHeight) = value;
  }
}

TEST(UndoModel, MixedWholeAndPartialRecordsRestoreEveryPixelAndKeepTheSpareEdges) {
  Model m;
  m.canvas = image(733, 611, 4);  // a whole plane is over a megabyte: its copies are shared
  set_spare_edges(m.canvas, 201);
  copy_to_previews(m.canvas);
  UndoStack stack;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 6; ++i) {
      m.push(stack, m.next() % 3 == 0);
      m.scribble();
    }
    for (int i = 0; i < 4; ++i) {
      ASSERT_TRUE(restore_newest(stack, m.canvas));
      m.expect_undone(m.records.back());
      m.records.pop_back();
      m.expect_previews_equal_committed();
      expect_spare_edges(m.canvas, 201);
    }
  }
  while (restore_newest(stack, m.canvas)) {
    m.expect_undone(m.records.back());
    m.records.pop_back();
  }
  EXPECT_TRUE(m.records.empty());
  EXPECT_EQ(stack.bytes_held, 0u);
}

// Get image replaces the committed planes' storage with the host's arrays, whose spare column and
// row hold what the host put there; undoing it brings back the pixels, not the old spare bytes.
TEST(UndoModel, UndoingAReplacedImageKeepsTheCurrentSpareEdges) {
  CanvasBuffers c = image(9, 7, 1);
  const CanvasBuffers start = image(9, 7, 1);
  set_spare_edges(c, 10);
  UndoStack s;
  push_whole(s, c);
  CanvasBuffers fetched = image(9, 7, 50);
  c.RBuffer = std::move(fetched.RBuffer);
  c.GBuffer = std::move(fetched.GBuffer);
  c.BBuffer = std::move(fetched.BBuffer);
  set_spare_edges(c, 77);
  copy_to_previews(c);
  ASSERT_TRUE(restore_newest(s, c));
  EXPECT_TRUE(same_image(c, start));
  expect_spare_edges(c, 77);
  // The storage the undo freed serves the next whole-image push, which must still copy the pixels.
  push_whole(s, c);
  clearbuffer(c);
  ASSERT_TRUE(restore_newest(s, c));
  EXPECT_TRUE(same_image(c, start));
}

// An undo during a stroke restores the committed planes and replaces the previews whole, the
// stroke's paint included; a whole-image record does the same.
TEST(UndoModel, UndoDuringAStrokeCopiesTheWholeCommittedImageToThePreviews) {
  for (bool whole : {false, true}) {
    CanvasBuffers c = image(40, 30, 2);
    UndoStack s;
    if (whole)
      push_whole(s, c);
    else
      PushUndo(s, c, 3, 4, 10, 12);
    clearbuffer(c);
    c.RPreview(35, 25) = 9;  // paint of the stroke in progress, outside the record
    ASSERT_TRUE(restore_newest(s, c, /*stroke_in_progress=*/true));
    EXPECT_EQ(c.RPreview(35, 25), c.RBuffer(35, 25)) << whole;
    EXPECT_EQ(c.RPreview(5, 5), c.RBuffer(5, 5)) << whole;
    EXPECT_EQ(c.RBuffer(5, 5), image(40, 30, 2).RBuffer(5, 5)) << whole;
  }
}

}  // namespace
}  // namespace tarvo

namespace tarvo {
namespace {

// Redo puts back what Undo took back, for patch and whole-image records alike, as often as the
// user goes back and forth; a new change ends it, and redo records count against the budget.
TEST(Redo, UndoAndRedoGoBackAndForthUntilANewChange) {
  for (bool whole : {false, true}) {
    CanvasBuffers c = image(12, 9, 3);
    const CanvasBuffers start = image(12, 9, 3);
    UndoStack s;
    whole ? push_whole(s, c) : PushUndo(s, c, 2, 1, 6, 5);
    c.RBuffer(3, 2) = 200;  // the change the record was taken for
    c.RBuffer(11, 8) = whole ? 201 : c.RBuffer(11, 8);
    copy_to_previews(c);
    CanvasBuffers changed = image(12, 9, 3);
    changed.RBuffer(3, 2) = 200;
    changed.RBuffer(11, 8) = c.RBuffer(11, 8);
    for (int round = 0; round < 2; ++round) {
      ASSERT_TRUE(restore_newest(s, c)) << whole;
      EXPECT_TRUE(same_image(c, start)) << whole;
      EXPECT_EQ(c.RPreview(3, 2), c.RBuffer(3, 2)) << whole;
      EXPECT_EQ(s.bytes_held + s.undone_bytes, whole ? 3u * 12 * 9 : 3u * 5 * 5) << whole;
      ASSERT_TRUE(restore_undone(s, c)) << whole;
      EXPECT_TRUE(same_image(c, changed)) << whole;
      EXPECT_EQ(c.RPreview(3, 2), 200) << whole;
      EXPECT_FALSE(restore_undone(s, c)) << whole;
    }
    ASSERT_TRUE(restore_newest(s, c));
    PushUndo(s, c, 0, 0, 1, 1);  // a new change: nothing is left to redo
    EXPECT_FALSE(restore_undone(s, c)) << whole;
    EXPECT_EQ(s.undone_bytes, 0u) << whole;
    EXPECT_TRUE(same_image(c, start)) << whole;
  }
}

}  // namespace
}  // namespace tarvo
