#include "app/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace fw {
namespace {

std::atomic<bool> gPauses{true};

class RealClock final : public Clock {
 public:
  void Pause(int64_t milliseconds) override {
    if (milliseconds <= 0 || !gPauses.load()) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  int64_t NowMs() const override {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

RealClock gReal;
std::atomic<Clock*> gClock{&gReal};

}  // namespace

Clock& TheClock() { return *gClock.load(); }
void SetPausesEnabled(bool enabled) { gPauses = enabled; }
bool PausesEnabled() { return gPauses.load(); }
void SetClockForTesting(Clock* clock) { gClock = clock ? clock : &gReal; }
void Pause(int64_t milliseconds) { TheClock().Pause(milliseconds); }

}  // namespace fw
