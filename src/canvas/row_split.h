#pragma once
// Splits a run of rows between the calling thread and one helper thread, for the whole-image
// operations (the blit, the undo copies) whose time goes into memory traffic that one core cannot
// saturate alone.
//
// The call is synchronous: it returns once every row has been processed, so event handlers keep
// running to their end before the next event. Rows are handed out in chunks of `grain` from a
// shared counter, so the caller never waits for work that the helper has not started: if the other
// core is busy, the caller simply takes every chunk itself and only ever waits for the one chunk
// the helper may be in the middle of. When that wait shows the helper being kept off its core by
// another process (far longer than a chunk takes), splits run on the caller alone for a quarter
// of a second before the helper is tried again. Work must not throw.

#include <cstdint>
#include <memory>
#include <type_traits>

namespace tarvo {

// Processes rows [begin, end) as worker `lane` (0 for the calling thread, 1 for the helper), so
// that each worker may use its own scratch memory.
using RowWorkFn = void (*)(void* context, int32_t begin, int32_t end, int32_t lane);

// The helper thread. The program makes one for its life and hands it to the state whose passes
// it shares (the canvas planes, the display surface, the file host); without one, a split runs
// on the calling thread alone. On a machine with one core it starts no thread.
class RowHelper {
 public:
  RowHelper();
  ~RowHelper();
  RowHelper(const RowHelper&) = delete;
  RowHelper& operator=(const RowHelper&) = delete;

  struct Thread;

 private:
  friend void split_rows(RowHelper*, int32_t, int32_t, RowWorkFn, void*);
  std::unique_ptr<Thread> thread_;
};

struct Program;

// Lets program's whole-image passes (plane and undo copies, the blit) share their rows with
// helper, which must outlive it.
void lend_row_helper(Program& program, RowHelper& helper);

// Runs work over rows [0, count) in chunks of grain rows, shared with helper. Below two chunks,
// without a helper, or when its thread could not be had, everything runs on the calling thread
// as lane 0.
void split_rows(RowHelper* helper, int32_t count, int32_t grain, RowWorkFn work, void* context);

// The same for any callable taking (begin, end, lane).
template <class Work>
void split_rows(RowHelper* helper, int32_t count, int32_t grain, Work&& work) {
  using W = std::remove_reference_t<Work>;
  split_rows(
      helper, count, grain,
      [](void* context, int32_t begin, int32_t end, int32_t lane) {
        (*static_cast<W*>(context))(begin, end, lane);
      },
      const_cast<void*>(static_cast<const void*>(&work)));
}

// For passes measured in bytes (plane copies, reading an image file into planes): chunks of about
// a megabyte, so that a pass of a megabyte or less stays on the calling thread. work takes
// (begin, end).
template <class Work>
void share_rows_with_helper(RowHelper* helper, int32_t rows, int64_t bytes_per_row, Work&& work) {
  constexpr int64_t kChunkBytes = int64_t{1} << 20;
  const int64_t grain = kChunkBytes / (bytes_per_row > 0 ? bytes_per_row : 1);
  const auto chunk = static_cast<int32_t>(grain < 1 ? 1 : (grain > rows ? rows : grain));
  if (rows <= 0) return;
  split_rows(helper, rows, chunk,
             [&work](int32_t begin, int32_t end, int32_t) { work(begin, end); });
}

}  // namespace tarvo
