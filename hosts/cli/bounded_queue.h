// A fixed-size queue between two threads: Push waits for room, Pop for an
// item. Close lets the consumer take what is queued and then stop; Cancel
// stops both sides at once. The slots are made once, so items whose buffers
// are recycled through a second queue cost no allocation per frame.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <utility>
#include <vector>

namespace tarvo::cli {

template <class T>
class BoundedQueue {
 public:
  enum class PopResult { Item, Closed, Timeout };

  explicit BoundedQueue(size_t capacity) : slots_(capacity > 0 ? capacity : 1) {}
  BoundedQueue(const BoundedQueue&) = delete;
  BoundedQueue& operator=(const BoundedQueue&) = delete;

  // Moves `item` in once there is room. False (and `item` untouched) once
  // the queue is closed or cancelled.
  bool Push(T& item) {
    std::unique_lock<std::mutex> lock(mutex_);
    notFull_.wait(lock, [&] { return closed_ || count_ < slots_.size(); });
    if (closed_) return false;
    slots_[(head_ + count_) % slots_.size()] = std::move(item);
    ++count_;
    notEmpty_.notify_one();
    return true;
  }

  // Takes the oldest item, waiting up to `wait`. Closed when the queue was
  // cancelled, or closed and empty.
  PopResult PopFor(T& out, std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!notEmpty_.wait_for(lock, wait, [&] { return cancelled_ || count_ > 0 || closed_; })) return PopResult::Timeout;
    return TakeLocked(out);
  }

  // Takes the oldest item, waiting as long as it takes.
  PopResult Pop(T& out) {
    std::unique_lock<std::mutex> lock(mutex_);
    notEmpty_.wait(lock, [&] { return cancelled_ || count_ > 0 || closed_; });
    return TakeLocked(out);
  }

  // No more items: the consumer takes the queued ones, then gets Closed.
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    notEmpty_.notify_all();
    notFull_.notify_all();
  }

  // Stops both sides now; queued items stay until the queue is destroyed.
  void Cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = cancelled_ = true;
    notEmpty_.notify_all();
    notFull_.notify_all();
  }

 private:
  PopResult TakeLocked(T& out) {
    if (cancelled_ || count_ == 0) return PopResult::Closed;
    out = std::move(slots_[head_]);
    head_ = (head_ + 1) % slots_.size();
    --count_;
    notFull_.notify_one();
    return PopResult::Item;
  }

  std::mutex mutex_;
  std::condition_variable notEmpty_, notFull_;
  std::vector<T> slots_;
  size_t head_ = 0, count_ = 0;
  bool closed_ = false, cancelled_ = false;
};

}  // namespace tarvo::cli
