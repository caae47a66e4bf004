// A second thread that runs one job at a time beside the calling thread. A
// job is a plain function and its argument, so handing one over allocates
// nothing.
#pragma once

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace tarvo {

class WorkerThread {
 public:
  using Job = void (*)(void*);

  WorkerThread();
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Runs `side` on this thread while `here` runs on the calling thread, and
  // returns when both are done. When either throws, the exception is thrown
  // here once both have finished; when both throw, the calling thread's wins.
  void RunBeside(Job side, void* sideArg, Job here, void* hereArg);

 private:
  void Start(Job job, void* arg);
  // Waits for the job; an exception it threw is thrown here.
  void Finish();
  void Loop();

  std::mutex mutex_;
  std::condition_variable wake_;
  Job job_ = nullptr;
  void* arg_ = nullptr;
  bool done_ = true;
  bool quit_ = false;
  std::exception_ptr error_;
  std::thread thread_;  // last: starts once the members above exist
};

}  // namespace tarvo
