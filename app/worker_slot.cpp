#include "app/worker_slot.h"

#include <chrono>
#include <utility>

#include "app/clock.h"
#include "app/workers.h"

namespace fw {

bool WorkerSlot::Start(std::function<void()> body) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_) return false;
    running_ = true;
  }
  StartWorker([this, body = std::move(body)] {
    body();
    std::lock_guard<std::mutex> done(mutex_);
    running_ = false;
    ended_.notify_all();
  });
  return true;
}

bool WorkerSlot::Running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

bool WorkerSlot::WaitFor(int64_t limitMs) const {
  const int64_t start = TheClock().NowMs();
  std::unique_lock<std::mutex> lock(mutex_);
  while (running_) {
    if (TheClock().NowMs() - start >= limitMs) return false;
    ended_.wait_for(lock, std::chrono::milliseconds(100));
  }
  return true;
}

void WorkerSlot::Join() const {
  std::unique_lock<std::mutex> lock(mutex_);
  ended_.wait(lock, [this] { return !running_; });
}

}  // namespace fw
