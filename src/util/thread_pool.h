// The worker threads that run row bands in parallel.
//
// Our own small pool rather than a packaged library: the processing core
// depends on nothing but the standard library; a Run hands its jobs over
// without allocating (the batch lives on the caller's stack), so steady-state
// frames stay allocation-free; and the caller alone decides how a plane is
// cut into bands, so the output never depends on the number or timing of the
// threads.
//
// One pool serves every engine of the library (ThreadPool::Shared(); a
// process that loads two libraries built with this code has one pool in
// each): the engines draw on the same workers, so two engines (two frei0r
// instances, say) cannot start more threads between them than the largest
// count either asked for, and never more than the machine's cores. Each
// engine's calls still run with that engine's own thread on top, so the
// threads working at once are at most the cores plus the engines rendering
// at that moment. Each engine runs through its
// own PoolRunner, which carries that engine's thread count: the number of
// bands its stages cut and the most jobs of one call that run at once.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "util/band_runner.h"

namespace tarvo {

class ThreadPool {
 public:
  // Workers are started by Reserve, never by Run.
  ThreadPool() = default;
  // Stops and joins every worker. Must not run while a Run is in progress.
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  // The process-wide pool. Made on first use and destroyed with the other
  // objects of static duration of the library that holds this code (at
  // program end, or when a host unloads the plug-in), joining its workers, so
  // no thread outlives the code it runs. Objects that use the pool take it
  // in their constructor, which makes it outlive them.
  static ThreadPool& Shared();

  // The cores this process may run on (its affinity mask; at least 1).
  static int32_t HardwareThreads();

  // Makes sure that `threads` jobs can run at once (the calling thread counts
  // as one): starts workers up to min(threads, HardwareThreads()) - 1. Never
  // stops any. When the system refuses a thread, the workers started so far
  // stay and serve every call (nothing is thrown).
  void Reserve(int32_t threads);
  int32_t Workers() const;

  // Runs jobs 0..count-1 and returns when all are done. The calling thread
  // works on its own jobs too, so a call never waits while one of its jobs
  // is still waiting to start, and calls from several threads at once are
  // served side by side (queued in order of arrival). At most `limit` jobs of
  // this call run at once (the caller included). When jobs throw, jobs not yet
  // started are skipped and the first exception is thrown here once every
  // started job has ended. Allocates nothing.
  void Run(int32_t count, BandRunner::Job job, void* context, int32_t limit);

 private:
  struct Batch;
  void WorkerLoop();
  // Takes the next job of `b` (the lock held); unlinks b once it has none left.
  int32_t Claim(Batch* b);
  void Unlink(Batch* b);
  // Runs job `index` of `b` with the lock released and books its end.
  void Execute(std::unique_lock<std::mutex>& lock, Batch* b, int32_t index, bool worker);
  Batch* FindWork() const;

  mutable std::mutex mutex_;
  std::condition_variable wake_;  // workers: a batch arrived, or quit
  std::condition_variable done_;  // callers: a batch ended
  Batch* head_ = nullptr;         // batches with jobs not yet started, oldest first
  Batch* tail_ = nullptr;
  std::atomic<int32_t> linked_{0};  // batches in the list, watched by spinning workers
  int32_t sleepers_ = 0;            // workers waiting on wake_
  bool quit_ = false;
  std::vector<std::thread> workers_;
};

// A view of a pool with one engine's thread count: Parallelism() is that
// count, and Run lets at most that many jobs of a call run at once. With a
// count of 1 every job runs in turn on the calling thread.
class PoolRunner final : public BandRunner {
 public:
  explicit PoolRunner(ThreadPool& pool = ThreadPool::Shared()) : pool_(&pool) {}
  // threads >= 1; 0 (or less) means one per core. Starts pool workers as
  // needed (see ThreadPool::Reserve). Throws nothing.
  void SetThreads(int32_t threads);
  int32_t Threads() const { return threads_; }

  int32_t Parallelism() const override { return threads_; }
  void Run(int32_t count, Job job, void* context) const override;

 private:
  ThreadPool* pool_;
  int32_t threads_ = 1;
};

}  // namespace tarvo
