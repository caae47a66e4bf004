#include "host/worker_thread.h"

#include <utility>

namespace tarvo {

WorkerThread::WorkerThread() : thread_([this] { Loop(); }) {}

WorkerThread::~WorkerThread() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void WorkerThread::RunBeside(Job side, void* sideArg, Job here, void* hereArg) {
  Start(side, sideArg);
  try {
    here(hereArg);
  } catch (...) {
    try {
      Finish();
    } catch (...) {
    }
    throw;
  }
  Finish();
}

void WorkerThread::Start(Job job, void* arg) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    job_ = job;
    arg_ = arg;
    done_ = false;
    error_ = nullptr;
  }
  wake_.notify_all();
}

void WorkerThread::Finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  wake_.wait(lock, [this] { return done_; });
  if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

void WorkerThread::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return quit_ || job_ != nullptr; });
    if (quit_) return;
    const Job job = std::exchange(job_, nullptr);
    void* const arg = arg_;
    lock.unlock();
    std::exception_ptr error;
    try {
      job(arg);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    error_ = error;
    done_ = true;
    wake_.notify_all();
  }
}

}  // namespace tarvo
