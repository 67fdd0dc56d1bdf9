// Drive arrival: device-change notifications, debounced into one refresh of the drive tree.
//
// A burst of notifications (a stick being plugged in raises several) arms a settle timer of
// 1000 ms at its first notification; notifications within 1000 ms of the last arming are dropped,
// and none count while a disk job runs (format_op_in_progress = 1: the job refreshes the list
// itself when it ends). When the timer fires, one UM_UPDATE_ALL_DRIVES goes to the event loop,
// whose handler runs UpdateAllDrives.
//
//   fw::StartDriveArrivalWatch([] { TheWindows().PostEvent({kMainWindow, UiEventKind::Refresh});
//   });
//   ...
//   fw::StopDriveArrivalWatch();
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "platform/device_monitor.h"

namespace fw {

// The private event code of the refresh posted to the event loop.
inline constexpr int UM_UPDATE_ALL_DRIVES = 0x10001;

// The settle logic, on a caller-given time line (milliseconds of a monotonic clock).
class DeviceChangeSettler {
 public:
  static constexpr int64_t kSettleMs = 1000;

  explicit DeviceChangeSettler(std::function<void()> postUpdateAllDrives);
  // A device-change notification at `nowMs` (DBT_DEVNODES_CHANGED).
  void DeviceChanged(int64_t nowMs);
  // The settle timer: when it is armed and due at `nowMs` it fires, posts the refresh and
  // returns true.
  bool TimerDue(int64_t nowMs);
  // Milliseconds until the armed timer fires (0 when due); -1 when it is not armed.
  int64_t MsUntilTimer(int64_t nowMs) const;

 private:
  std::function<void()> post_;
  bool armed_ = false;
  int64_t timerAtMs_ = 0;
  // When the last settle timer was armed or fired; far in the past at first.
  int64_t lastEventMs_ = INT64_MIN / 2;
};

// Feeds a DeviceMonitor's notifications to a settler on a thread of its own (times from the
// process's clock). The thread is joined by Stop or the destructor.
class DriveArrivalWatcher {
 public:
  DriveArrivalWatcher(std::unique_ptr<DeviceMonitor> monitor, std::function<void()> post);
  ~DriveArrivalWatcher();
  DriveArrivalWatcher(const DriveArrivalWatcher&) = delete;
  DriveArrivalWatcher& operator=(const DriveArrivalWatcher&) = delete;

  void Start();
  void Stop();

 private:
  void Run();

  std::unique_ptr<DeviceMonitor> monitor_;
  DeviceChangeSettler settler_;
  std::atomic<int> stop_{0};
  std::thread thread_;
};

// The process's watch over the system's device monitor: `post` runs on the watcher's thread and
// must only queue the refresh for the event loop. False (logged) when no monitor can be opened;
// the drive tree then changes only on Refresh.
bool StartDriveArrivalWatch(std::function<void()> post);
void StopDriveArrivalWatch();

}  // namespace fw
