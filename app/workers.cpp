#include "app/workers.h"

#include <atomic>
#include <chrono>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "app/globals.h"
#include "app/log.h"

namespace fw {
namespace {

struct Worker {
  std::thread thread;
  std::shared_ptr<std::atomic<bool>> done;
};

class Workers {
 public:
  ~Workers() { Join({}); }  // the last line of defence; the front ends join before main returns

  void Start(std::function<void()> body) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = list_.begin(); it != list_.end();) {
      if (it->done->load()) {
        it->thread.join();
        it = list_.erase(it);
      } else {
        ++it;
      }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    list_.push_back({std::thread([body = std::move(body), done] {
                       body();
                       *done = true;
                     }),
                     done});
  }

  int Running() {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const Worker& w : list_) n += w.done->load() ? 0 : 1;
    return n;
  }

  void Join(const std::function<void()>& wait) {
    while (Running() > 0) {
      if (wait) {
        wait();
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    std::list<Worker> finished;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finished.swap(list_);
    }
    for (Worker& w : finished) w.thread.join();
  }

 private:
  std::mutex mutex_;
  std::list<Worker> list_;
};

Workers& TheWorkers() {
  static Workers workers;
  return workers;
}

}  // namespace

void StartWorker(std::function<void()> body) { TheWorkers().Start(std::move(body)); }

int RunningWorkerCount() { return TheWorkers().Running(); }

void JoinWorkers(const std::function<void()>& wait) { TheWorkers().Join(wait); }

void EndWorkers(const std::function<void()>& wait) {
  if (RunningWorkerCount() > 0) {
    FW_LOG_MAIN("The program ends while a job runs: asking it to stop");
    CancelMainThread = 1;
    FormatStatus = 1;
  }
  JoinWorkers(wait);
}

}  // namespace fw
