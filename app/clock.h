// The one clock through which every deliberate pause of the program goes (status texts held for
// 2000 ms, the 500 ms lock retries, the one-second waits of the downloads and so on). The desktop
// front end keeps the pauses; tests and the CLI's --no-pauses make them return at once.
#pragma once

#include <cstdint>

namespace fw {

class Clock {
 public:
  virtual ~Clock() = default;
  // Waits the given number of milliseconds (or not at all when pauses are off).
  virtual void Pause(int64_t milliseconds) = 0;
  // Monotonic milliseconds, for elapsed times and speeds.
  virtual int64_t NowMs() const = 0;
};

// The process's clock; a real one by default.
Clock& TheClock();
// Turns pauses off (true) or on. Safe to call at any time from any thread.
void SetPausesEnabled(bool enabled);
bool PausesEnabled();
// Replaces the clock (tests); nullptr restores the real one.
void SetClockForTesting(Clock* clock);

// Shorthand for TheClock().Pause(ms).
void Pause(int64_t milliseconds);

}  // namespace fw
