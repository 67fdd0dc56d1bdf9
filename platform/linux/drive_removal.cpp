#include "platform/linux/drive_removal.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/dbus_connection.h"

namespace fw {
namespace {

constexpr const char* kUDisks = "org.freedesktop.UDisks2";
constexpr uint64_t kPingTimeoutUs = 3'000'000;

std::string ErrnoReason(const std::string& what) { return what + ": " + std::strerror(errno); }

// A descriptor that closes itself.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

class LinuxDriveRemoval final : public DriveRemovalService {
 public:
  explicit LinuxDriveRemoval(LinuxDriveRemovalConfig config) : config_(std::move(config)) {
    if (config_.sysRoot.empty() || config_.sysRoot.back() != '/') config_.sysRoot += '/';
  }

  bool Flush(const std::string& devicePath, std::string* reason) override {
    Fd fd(open(devicePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return Fail(reason, ErrnoReason("cannot open " + devicePath));
    if (fsync(fd.get()) != 0) return Fail(reason, ErrnoReason("flush of " + devicePath));
    struct stat st {};
    // A block device also keeps buffers of its own; dropping them makes the next reader (after
    // the stick comes back) see what is on it.
    if (fstat(fd.get(), &st) == 0 && S_ISBLK(st.st_mode) && ioctl(fd.get(), BLKFLSBUF, 0) != 0)
      return Fail(reason, ErrnoReason("flush of the buffers of " + devicePath));
    return true;
  }

  bool UDisksAnswers(std::string* reason) override {
    BusConnection bus = ConnectBus(BusKind::kSystem, config_.busAddress, reason);
    if (!bus) return false;
    sd_bus_message* call = nullptr;
    int rc = sd_bus_message_new_method_call(bus.get(), &call, kUDisks, "/org/freedesktop/UDisks2",
                                            "org.freedesktop.DBus.Peer", "Ping");
    BusMessage owned(call);
    BusError error;
    sd_bus_message* reply = nullptr;
    if (rc >= 0) rc = sd_bus_call(bus.get(), call, kPingTimeoutUs, error.get(), &reply);
    BusMessage ownedReply(reply);
    if (rc < 0) return Fail(reason, "udisks2 does not answer: " + error.Text(rc));
    return true;
  }

  bool UDisksRemove(const std::string& devicePath, std::string* reason) override {
    BusConnection bus = ConnectBus(BusKind::kSystem, config_.busAddress, reason);
    if (!bus) return false;
    std::string drive;
    if (!DriveOf(bus.get(), devicePath, &drive, reason)) return false;
    BusError error;
    int canPowerOff = 0;
    int rc = sd_bus_get_property_trivial(bus.get(), kUDisks, drive.c_str(),
                                         "org.freedesktop.UDisks2.Drive", "CanPowerOff",
                                         error.get(), 'b', &canPowerOff);
    if (rc < 0) return Fail(reason, "CanPowerOff of " + drive + ": " + error.Text(rc));
    const char* method = canPowerOff ? "PowerOff" : "Eject";
    sd_bus_message* reply = nullptr;
    rc = sd_bus_call_method(bus.get(), kUDisks, drive.c_str(), "org.freedesktop.UDisks2.Drive",
                            method, error.get(), &reply, "a{sv}", 0);
    BusMessage ownedReply(reply);
    if (rc < 0) return Fail(reason, std::string(method) + ": " + error.Text(rc));
    return true;
  }

  bool DeleteDevice(const std::string& name, std::string* reason) override {
    if (name.empty() || name.find('/') != std::string::npos || name[0] == '.')
      return Fail(reason, "not a disk name: " + name);
    const std::string path = config_.sysRoot + "sys/block/" + name + "/device/delete";
    Fd fd(open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (fd.get() < 0) return Fail(reason, ErrnoReason("cannot open " + path));
    if (write(fd.get(), "1", 1) != 1) return Fail(reason, ErrnoReason("write to " + path));
    return true;
  }

  bool DetachLoop(const std::string& devicePath, std::string* reason) override {
    Fd fd(open(devicePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return Fail(reason, ErrnoReason("cannot open " + devicePath));
    // With other openers left the kernel detaches when the last of them closes.
    if (ioctl(fd.get(), LOOP_CLR_FD, 0) != 0)
      return Fail(reason, ErrnoReason("detach of " + devicePath));
    return true;
  }

 private:
  static bool Fail(std::string* reason, const std::string& text) {
    if (reason) *reason = text;
    return false;
  }

  // The udisks2 drive object behind a block device node.
  static bool DriveOf(sd_bus* bus, const std::string& devicePath, std::string* drive,
                      std::string* reason) {
    BusError error;
    sd_bus_message* reply = nullptr;
    int rc = sd_bus_call_method(bus, kUDisks, "/org/freedesktop/UDisks2/Manager",
                                "org.freedesktop.UDisks2.Manager", "ResolveDevice", error.get(),
                                &reply, "a{sv}a{sv}", 1, "path", "s", devicePath.c_str(), 0);
    BusMessage ownedReply(reply);
    if (rc < 0) return Fail(reason, "ResolveDevice " + devicePath + ": " + error.Text(rc));
    const char* block = nullptr;
    rc = sd_bus_message_enter_container(reply, 'a', "o");
    if (rc > 0) rc = sd_bus_message_read(reply, "o", &block);
    if (rc <= 0 || !block) return Fail(reason, "udisks2 knows no block device " + devicePath);
    const std::string blockPath = block;
    sd_bus_message* property = nullptr;
    rc = sd_bus_get_property(bus, kUDisks, blockPath.c_str(), "org.freedesktop.UDisks2.Block",
                             "Drive", error.get(), &property, "o");
    BusMessage ownedProperty(property);
    const char* drivePath = nullptr;
    if (rc >= 0) rc = sd_bus_message_read(property, "o", &drivePath);
    if (rc < 0) return Fail(reason, "Drive of " + blockPath + ": " + error.Text(rc));
    *drive = drivePath ? drivePath : "/";
    if (*drive == "/") return Fail(reason, "udisks2 has no drive behind " + devicePath);
    return true;
  }

  LinuxDriveRemovalConfig config_;
};

}  // namespace

std::unique_ptr<DriveRemovalService> MakeLinuxDriveRemoval(const LinuxDriveRemovalConfig& config) {
  return std::make_unique<LinuxDriveRemoval>(config);
}

DriveRemovalService& SystemDriveRemoval() {
  static std::unique_ptr<DriveRemovalService> service =
      MakeLinuxDriveRemoval(LinuxDriveRemovalConfig{});
  return *service;
}

}  // namespace fw
