#include "canvas/row_split.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/program.h"

namespace tarvo {

namespace {

using Clock = std::chrono::steady_clock;

// A helper that keeps the caller waiting for its last chunk much longer than a chunk takes the
// caller (four times, and at least this long) has been descheduled. Once is a hiccup (an
// interrupt, a late wake-up); split after split means another process holds its core, and the
// scheduler keeps a thread that just ran where it ran. Each split can then cost the caller a
// scheduler time slice, so splits run on the caller alone for a while before the helper is tried
// again.
constexpr auto kStarvedWait = std::chrono::microseconds(500);
constexpr int kStarvedSplits = 2;
constexpr auto kBackOff = std::chrono::milliseconds(250);

// One call's rows. `next` is 64-bit so that claims past the end cannot wrap for any count.
struct Job {
  RowWorkFn work;
  void* context;
  int64_t count, grain;
  std::atomic<int64_t> next{0};
  bool released = false;  // the helper has finished with this job; guarded by the helper's mutex
};

// Claims chunks until none is left; returns how many it ran.
int64_t drain(Job& job, int32_t lane) {
  for (int64_t chunks = 0;; ++chunks) {
    const int64_t begin = job.next.fetch_add(job.grain, std::memory_order_relaxed);
    if (begin >= job.count) return chunks;
    const int64_t end = std::min(job.count, begin + job.grain);
    job.work(job.context, static_cast<int32_t>(begin), static_cast<int32_t>(end), lane);
  }
}

}  // namespace

// The helper thread. It sleeps until a job is offered, drains it beside the caller and reports
// back under the mutex, so that everything it wrote is visible to the caller once the caller
// has seen the report. It lives as long as its RowHelper.
struct RowHelper::Thread {
 public:
  Thread() {
    if (std::thread::hardware_concurrency() < 2) return;
    try {
      thread_ = std::thread([this] { loop(); });
    } catch (const std::system_error&) {
      // No thread to be had: every split runs on the caller.
    }
  }
  ~Thread() {
    if (!thread_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  bool available() const { return thread_.joinable(); }

  // Offers the job to the helper, drains it on the calling thread too and returns once the helper
  // holds no part of it. Only one caller may use the helper at a time; a second one (a split
  // inside a split) runs its job alone.
  void run(Job& job) {
    if (in_use_.exchange(true, std::memory_order_acquire)) {
      drain(job, 0);
      return;
    }
    if (Clock::now() < resume_after_) {
      drain(job, 0);
      in_use_.store(false, std::memory_order_release);
      return;
    }
    {
      std::lock_guard lock(mutex_);
      pending_ = &job;
    }
    wake_.notify_one();
    const Clock::time_point start = Clock::now();
    const int64_t chunks = drain(job, 0);
    const Clock::duration chunk_time = (Clock::now() - start) / std::max<int64_t>(1, chunks);
    {
      std::unique_lock lock(mutex_);
      if (pending_ == &job) {
        pending_ = nullptr;  // the helper never woke for it: nothing of it is in flight
      } else {
        const Clock::time_point waiting = Clock::now();
        finished_.wait(lock, [&job] { return job.released; });
        const Clock::time_point end = Clock::now();
        const bool starved =
            end - waiting > std::max<Clock::duration>(kStarvedWait, 4 * chunk_time);
        starved_in_a_row_ = starved ? starved_in_a_row_ + 1 : 0;
        if (starved_in_a_row_ >= kStarvedSplits) {
          resume_after_ = end + kBackOff;
          starved_in_a_row_ = 0;
        }
      }
    }
    in_use_.store(false, std::memory_order_release);
  }

 private:
  void loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || pending_ != nullptr; });
      if (stopping_) return;
      Job* job = pending_;
      pending_ = nullptr;
      lock.unlock();
      drain(*job, 1);
      lock.lock();
      job->released = true;
      finished_.notify_one();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_, finished_;
  Job* pending_ = nullptr;
  bool stopping_ = false;
  std::atomic<bool> in_use_{false};
  // Until then splits run on the caller alone; only the caller holding in_use_ touches it.
  Clock::time_point resume_after_{};
  int starved_in_a_row_ = 0;  // the splits just before this one whose helper was kept waiting
  std::thread thread_;
};

RowHelper::RowHelper() : thread_(std::make_unique<Thread>()) {}

RowHelper::~RowHelper() = default;

void lend_row_helper(Program& program, RowHelper& helper) {
  program.canvas.helper = &helper;
  program.display.surface.scratch.helper = &helper;
}

void split_rows(RowHelper* helper, int32_t count, int32_t grain, RowWorkFn work, void* context) {
  if (count <= 0) return;
  grain = std::max(1, grain);
  if (count <= grain || helper == nullptr || !helper->thread_->available()) {
    work(context, 0, count, 0);
    return;
  }
  Job job{work, context, count, grain};
  helper->thread_->run(job);
}

}  // namespace tarvo
