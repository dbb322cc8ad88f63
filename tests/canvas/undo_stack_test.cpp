#include "canvas/undo_stack.h"

#include <gtest/gtest.h>

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
  PushUndo(s, c, 0, 0, static_cast<float>(c.BufferWidth - 1), static_cast<float>(c.BufferHeight - 1));
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
