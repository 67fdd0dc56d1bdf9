// One worker of a module at a time: started on demand (on the process's workers, so that
// JoinWorkers and EndWorkers cover it), asked whether it still runs, and waited for with a limit.
//
//   static WorkerSlot slot;
//   if (!slot.Start([] { FindCloverLocalDistr(); })) ...   // false: the last one still runs
//   slot.WaitFor(300000);                                   // limit measured on TheClock()
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace fw {

class WorkerSlot {
 public:
  WorkerSlot() = default;
  WorkerSlot(const WorkerSlot&) = delete;
  WorkerSlot& operator=(const WorkerSlot&) = delete;

  // Starts `body` on a worker unless the previous one still runs (then false).
  bool Start(std::function<void()> body);
  bool Running() const;
  // Waits until the worker ends or `limitMs` have passed on TheClock(); true when it ended (or
  // none ran). The wait itself sleeps in real time between looks, so a test clock that jumps
  // ahead ends it early and a clock without pauses never makes it spin.
  bool WaitFor(int64_t limitMs) const;
  // Waits for the worker without a limit.
  void Join() const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable ended_;
  bool running_ = false;
};

}  // namespace fw
