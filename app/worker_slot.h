// One worker thread that a module owns: started on demand, asked whether it still runs, waited
// for with a limit, and joined before the module's state goes away (shutdown, tests). The Part's
// "start a thread and never join it" becomes a slot whose last thread is joined at the next start
// or at JoinAll.
//
//   static WorkerSlot slot;
//   if (!slot.Start([] { FindCloverLocalDistr(); })) ...   // false: the last one still runs
//   slot.WaitFor(300000);                                   // limit measured on TheClock()
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace fw {

class WorkerSlot {
 public:
  WorkerSlot() = default;
  WorkerSlot(const WorkerSlot&) = delete;
  WorkerSlot& operator=(const WorkerSlot&) = delete;
  ~WorkerSlot() { Join(); }

  // Starts `body` on a new thread unless the previous one still runs (then false). A finished
  // previous thread is joined first.
  bool Start(std::function<void()> body);
  bool Running() const;
  // Waits until the worker ends or `limitMs` have passed on TheClock(); true when it ended (or
  // none ran). The wait itself sleeps in real time between looks, so a test clock that jumps
  // ahead ends it early and a clock without pauses never makes it spin.
  bool WaitFor(int64_t limitMs) const;
  // Waits for the worker without a limit.
  void Join();

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable ended_;
  std::thread thread_;
  bool running_ = false;
};

}  // namespace fw
