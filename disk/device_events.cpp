#include "disk/device_events.h"

#include <algorithm>
#include <mutex>

#include "app/clock.h"
#include "app/globals.h"
#include "app/log.h"

namespace fw {

DeviceChangeSettler::DeviceChangeSettler(std::function<void()> postUpdateAllDrives)
    : post_(std::move(postUpdateAllDrives)) {}

void DeviceChangeSettler::DeviceChanged(int64_t nowMs) {
  if (format_op_in_progress.load() != 0) return;
  if (lastEventMs_ + kSettleMs >= nowMs) return;
  lastEventMs_ = nowMs;
  // Arming an armed timer restarts it.
  armed_ = true;
  timerAtMs_ = nowMs + kSettleMs;
  FW_LOGP("GetDeviceEvent", "==>> GetDeviceEvent: #DBT_DEVNODES_CHANGED: SetTimer_ 1000");
}

bool DeviceChangeSettler::TimerDue(int64_t nowMs) {
  if (!armed_ || nowMs < timerAtMs_) return false;
  lastEventMs_ = nowMs;
  armed_ = false;
  // The refresh is posted even while a disk job runs: the timer was armed before it started.
  if (post_) post_();
  FW_LOGP("GetDeviceEvent", "==>> GetDeviceEvent: PostEvent(#UM_UPDATE_ALL_DRIVES)");
  return true;
}

int64_t DeviceChangeSettler::MsUntilTimer(int64_t nowMs) const {
  if (!armed_) return -1;
  return std::max<int64_t>(0, timerAtMs_ - nowMs);
}

DriveArrivalWatcher::DriveArrivalWatcher(std::unique_ptr<DeviceMonitor> monitor,
                                         std::function<void()> post)
    : monitor_(std::move(monitor)), settler_(std::move(post)) {}

DriveArrivalWatcher::~DriveArrivalWatcher() { Stop(); }

void DriveArrivalWatcher::Start() {
  if (thread_.joinable() || !monitor_) return;
  stop_ = 0;
  thread_ = std::thread([this] { Run(); });
}

void DriveArrivalWatcher::Stop() {
  if (!thread_.joinable()) return;
  stop_ = 1;
  monitor_->Wake();
  thread_.join();
}

void DriveArrivalWatcher::Run() {
  Clock& clock = TheClock();
  while (stop_.load() == 0) {
    const int64_t wait = settler_.MsUntilTimer(clock.NowMs());
    const int events = monitor_->Wait(static_cast<int>(wait));
    if (stop_.load() != 0) break;
    if (events < 0) {
      FW_LOGP("GetDeviceEvent", "GetDeviceEvent: the " + monitor_->Source() +
                                    " device monitor failed; drive arrival is not watched");
      break;
    }
    if (events > 0) settler_.DeviceChanged(clock.NowMs());
    settler_.TimerDue(clock.NowMs());
  }
}

namespace {

std::mutex watchMutex;
std::unique_ptr<DriveArrivalWatcher> watch;

}  // namespace

bool StartDriveArrivalWatch(std::function<void()> post) {
  std::lock_guard<std::mutex> lock(watchMutex);
  if (watch) return true;
  std::string error;
  std::unique_ptr<DeviceMonitor> monitor = OpenDeviceMonitor(&error);
  if (!monitor) {
    FW_LOG("StartDriveArrivalWatch: no device monitor (" + error +
           "); the drive list changes on Refresh only");
    return false;
  }
  FW_LOG("StartDriveArrivalWatch: block devices watched through the " + monitor->Source() +
         " source");
  watch = std::make_unique<DriveArrivalWatcher>(std::move(monitor), std::move(post));
  watch->Start();
  return true;
}

void StopDriveArrivalWatch() {
  std::unique_ptr<DriveArrivalWatcher> stopping;
  {
    std::lock_guard<std::mutex> lock(watchMutex);
    stopping = std::move(watch);
  }
}

}  // namespace fw
