#include "canvas/row_split.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace tarvo {
namespace {

// Every row is handed out exactly once, in chunks no longer than the grain, to lane 0 or 1, for
// counts that do and do not divide into whole chunks; without a helper, all at once on lane 0.
TEST(RowSplit, EveryRowRunsExactlyOnceOnOneOfTwoLanes) {
  RowHelper helper;
  for (RowHelper* shared : {&helper, static_cast<RowHelper*>(nullptr)}) {
    for (int32_t count : {0, 1, 7, 64, 1000, 4097}) {
      for (int32_t grain : {1, 3, 64, 5000}) {
        std::vector<std::atomic<int>> seen(static_cast<std::size_t>(count));
        std::atomic<bool> bad_chunk{false};
        const int32_t longest = shared ? grain : count, last_lane = shared ? 1 : 0;
        split_rows(shared, count, grain, [&](int32_t begin, int32_t end, int32_t lane) {
          if (begin >= end || end - begin > longest || lane < 0 || lane > last_lane)
            bad_chunk = true;
          for (int32_t i = begin; i < end; ++i) seen[static_cast<std::size_t>(i)]++;
        });
        EXPECT_FALSE(bad_chunk) << count << " / " << grain;
        for (int32_t i = 0; i < count; ++i)
          ASSERT_EQ(seen[static_cast<std::size_t>(i)], 1) << i << " of " << count;
      }
    }
  }
}

// A split inside a split (which no caller makes today) still runs every row, on the caller.
TEST(RowSplit, ASplitInsideASplitStillRunsEveryRow) {
  RowHelper helper;
  std::atomic<int> rows{0};
  split_rows(&helper, 8, 1, [&](int32_t begin, int32_t end, int32_t) {
    for (int32_t i = begin; i < end; ++i)
      split_rows(&helper, 100, 10, [&](int32_t b, int32_t e, int32_t) { rows += e - b; });
  });
  EXPECT_EQ(rows, 800);
}

}  // namespace
}  // namespace tarvo
