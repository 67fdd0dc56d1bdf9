#include "platform/linux/udev_monitor.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/linux/block_backend.h"

namespace fw {
namespace {

class UdevMonitor final : public DeviceMonitor {
 public:
  UdevMonitor(std::string source, std::vector<std::string> onlyDisks, udev* u, udev_monitor* m,
              int wakeFd)
      : source_(std::move(source)),
        onlyDisks_(std::move(onlyDisks)),
        udev_(u),
        monitor_(m),
        wakeFd_(wakeFd) {}
  ~UdevMonitor() override {
    udev_monitor_unref(monitor_);
    udev_unref(udev_);
    close(wakeFd_);
  }
  std::string Source() const override { return source_; }

  int Wait(int timeoutMs) override {
    pollfd fds[2] = {{udev_monitor_get_fd(monitor_), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    int n = poll(fds, 2, timeoutMs);
    if (n < 0) return errno == EINTR ? 0 : -1;
    if (fds[1].revents & POLLIN) {
      uint64_t count = 0;
      if (read(wakeFd_, &count, sizeof count) < 0) {
        // Nothing to drain: another Wait took the wake-up first.
      }
    }
    if (fds[0].revents & (POLLERR | POLLNVAL)) return -1;
    if (!(fds[0].revents & POLLIN)) return 0;
    // Take everything that is queued (the socket does not block), so a burst counts as what it is.
    int events = 0;
    while (udev_device* d = udev_monitor_receive_device(monitor_)) {
      if (Watched(d)) ++events;
      udev_device_unref(d);
    }
    return events;
  }

  void Wake() override {
    const uint64_t one = 1;
    if (write(wakeFd_, &one, sizeof one) < 0) {
      // The counter is full, so a wake-up is pending anyway.
    }
  }

 private:
  bool Watched(udev_device* d) const {
    if (onlyDisks_.empty()) return true;
    const char* type = udev_device_get_devtype(d);
    // A partition counts as its disk.
    udev_device* disk = d;
    if (type && std::strcmp(type, "partition") == 0)
      disk = udev_device_get_parent_with_subsystem_devtype(d, "block", "disk");
    const char* name = disk ? udev_device_get_sysname(disk) : nullptr;
    return name && std::find(onlyDisks_.begin(), onlyDisks_.end(), name) != onlyDisks_.end();
  }

  std::string source_;
  std::vector<std::string> onlyDisks_;
  udev* udev_;
  udev_monitor* monitor_;
  int wakeFd_;
};

}  // namespace

std::string DeviceEventSource(const std::string& root) {
  std::string path = root;
  if (path.empty() || path.back() != '/') path += '/';
  path += "run/udev/control";
  return access(path.c_str(), F_OK) == 0 ? "udev" : "kernel";
}

std::unique_ptr<DeviceMonitor> OpenUdevMonitor(const std::string& source,
                                               const std::vector<std::string>& onlyDisks,
                                               std::string* error) {
  udev* u = udev_new();
  if (!u) {
    if (error) *error = "udev_new failed";
    return nullptr;
  }
  udev_monitor* m = udev_monitor_new_from_netlink(u, source.c_str());
  if (!m) {
    if (error) *error = "no netlink socket for the " + source + " source";
    udev_unref(u);
    return nullptr;
  }
  int rc = udev_monitor_filter_add_match_subsystem_devtype(m, "block", nullptr);
  if (rc >= 0) rc = udev_monitor_enable_receiving(m);
  const int wakeFd = rc >= 0 ? eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
  if (rc < 0 || wakeFd < 0) {
    if (error)
      *error = std::string("cannot listen to the ") + source +
               " source: " + std::strerror(rc < 0 ? -rc : errno);
    udev_monitor_unref(m);
    udev_unref(u);
    return nullptr;
  }
  return std::make_unique<UdevMonitor>(source, onlyDisks, u, m, wakeFd);
}

std::unique_ptr<DeviceMonitor> OpenDeviceMonitor(std::string* error) {
  return OpenUdevMonitor(DeviceEventSource("/"), DefaultBlockBackend().OnlyDevices(), error);
}

}  // namespace fw
