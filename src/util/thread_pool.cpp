#include "util/thread_pool.h"

#include <sched.h>

#include <algorithm>
#include <utility>

#include "util/thread_scratch.h"

namespace tarvo {

// One Run call: lives on the caller's stack; linked into the pool's list
// while it has jobs not yet started. Guarded by the pool's mutex.
struct ThreadPool::Batch {
  BandRunner::Job job = nullptr;
  void* context = nullptr;
  int32_t count = 0;
  int32_t limit = 1;
  int32_t next = 0;     // next job to hand out
  int32_t running = 0;  // jobs executing now
  int32_t ended = 0;    // jobs finished or skipped
  std::exception_ptr error;
  Batch* link = nullptr;
  bool linked = false;
};

ThreadPool::~ThreadPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  linked_.fetch_add(1, std::memory_order_relaxed);  // ends any spin
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

ThreadPool& ThreadPool::Shared() {
  static ThreadPool pool;
  return pool;
}

int32_t ThreadPool::HardwareThreads() {
  // The affinity mask (taskset, a container's cpuset) bounds what may run at
  // once; hardware_concurrency counts every core of the machine.
  cpu_set_t set;
  unsigned n = 0;
  if (sched_getaffinity(0, sizeof(set), &set) == 0) n = static_cast<unsigned>(CPU_COUNT(&set));
  if (n == 0) n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int32_t>(std::min(n, 1024u));
}

void ThreadPool::Reserve(int32_t threads) {
  const int32_t want = std::min(threads, HardwareThreads()) - 1;
  std::lock_guard<std::mutex> lock(mutex_);
  if (quit_) return;
  try {
    workers_.reserve(static_cast<size_t>(std::max(want, 0)));
    while (static_cast<int32_t>(workers_.size()) < want) workers_.emplace_back([this] { WorkerLoop(); });
  } catch (const std::exception&) {
    // Out of threads or memory: the workers started so far serve every
    // call; the results do not depend on how many there are.
  }
}

int32_t ThreadPool::Workers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int32_t>(workers_.size());
}

void ThreadPool::Unlink(Batch* b) {
  if (!b->linked) return;
  Batch** p = &head_;
  Batch* prev = nullptr;
  while (*p != b) {
    prev = *p;
    p = &(*p)->link;
  }
  *p = b->link;
  if (tail_ == b) tail_ = prev;
  b->link = nullptr;
  b->linked = false;
  linked_.fetch_sub(1, std::memory_order_relaxed);
}

int32_t ThreadPool::Claim(Batch* b) {
  const int32_t index = b->next++;
  ++b->running;
  if (b->next >= b->count) Unlink(b);  // nothing left to hand out
  return index;
}

void ThreadPool::Execute(std::unique_lock<std::mutex>& lock, Batch* b, int32_t index, bool worker) {
  lock.unlock();
  std::exception_ptr error;
  try {
    b->job(b->context, index);
  } catch (...) {
    error = std::current_exception();
  }
  lock.lock();
  --b->running;
  ++b->ended;
  if (error) {
    if (!b->error) b->error = error;
    // Jobs not yet started are skipped.
    b->ended += b->count - b->next;
    b->next = b->count;
    Unlink(b);
  }
  // The caller waits for its batch; a worker's end may be the last one.
  if (worker && b->ended == b->count) done_.notify_all();
}

ThreadPool::Batch* ThreadPool::FindWork() const {
  for (Batch* b = head_; b != nullptr; b = b->link)
    if (b->running < b->limit) return b;
  return nullptr;
}

namespace {

// A short pause inside a spin loop.
inline void Relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#else
  std::this_thread::yield();
#endif
}

// Pauses a worker spends watching for work before it sleeps: about 50 to
// 150 microseconds, long enough to bridge the gap between two stages of a
// frame (so a worker is not woken by the system two dozen times a frame), far
// too short to matter to an idle machine.
constexpr int kSpinPauses = 2000;

}  // namespace

void ThreadPool::WorkerLoop() {
  // The worker's scratch lives on its own stack and goes when it ends.
  ScratchArena scratch;
  ScopedScratch useScratch(scratch);
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    Batch* b = FindWork();
    if (b == nullptr) {
      if (quit_) return;
      lock.unlock();
      for (int i = 0; i < kSpinPauses && linked_.load(std::memory_order_relaxed) == 0; ++i) Relax();
      lock.lock();
      b = FindWork();
      if (b == nullptr) {
        if (quit_) return;
        ++sleepers_;
        wake_.wait(lock);
        --sleepers_;
        continue;
      }
    }
    const int32_t index = Claim(b);
    Execute(lock, b, index, true);
  }
}

void ThreadPool::Run(int32_t count, BandRunner::Job job, void* context, int32_t limit) {
  if (count <= 0) return;
  Batch b;
  b.job = job;
  b.context = context;
  b.count = count;
  b.limit = std::max(limit, 1);
  std::unique_lock<std::mutex> lock(mutex_);
  const bool helpers = count > 1 && b.limit > 1 && !workers_.empty();
  if (helpers) {
    b.linked = true;
    if (tail_ != nullptr)
      tail_->link = &b;
    else
      head_ = &b;
    tail_ = &b;
    linked_.fetch_add(1, std::memory_order_relaxed);
  }
  // The caller works on its own batch until every job has been handed out.
  // Its first claim is made under the same lock as the enqueueing, so
  // workers always see it running and keep to limit - 1 of their own.
  while (b.next < b.count) {
    if (!helpers) {
      ++b.next;
      ++b.running;
      Execute(lock, &b, b.next - 1, false);
      continue;
    }
    const int32_t index = Claim(&b);
    if (index == 0 && sleepers_ > 0) {
      // Spinning workers see the batch by themselves; sleeping ones are woken.
      const int32_t wanted = std::min(count, b.limit) - 1;
      if (wanted >= sleepers_)
        wake_.notify_all();
      else
        for (int32_t i = 0; i < wanted; ++i) wake_.notify_one();
    }
    Execute(lock, &b, index, false);
  }
  done_.wait(lock, [&] { return b.ended == b.count; });
  if (b.error) std::rethrow_exception(b.error);
}

void PoolRunner::SetThreads(int32_t threads) {
  const int32_t n = threads >= 1 ? threads : ThreadPool::HardwareThreads();
  if (n > 1) pool_->Reserve(n);
  threads_ = n;
}

void PoolRunner::Run(int32_t count, Job job, void* context) const { pool_->Run(count, job, context, threads_); }

}  // namespace tarvo
