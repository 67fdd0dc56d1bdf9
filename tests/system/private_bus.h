// A private dbus-daemon for one test, and fake services on it written with sd-bus: udisks2's
// Manager, Block and Drive objects, and the GNOME session manager's inhibitors. The program's
// own D-Bus clients are pointed at the private bus by address, so nothing of this machine's
// buses is touched.
#pragma once

#include <systemd/sd-bus.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fw::bustest {

// dbus-daemon on a socket in `folder`; stopped when destroyed.
class PrivateBus {
 public:
  explicit PrivateBus(const std::filesystem::path& folder);
  ~PrivateBus();
  PrivateBus(const PrivateBus&) = delete;
  PrivateBus& operator=(const PrivateBus&) = delete;
  // "" when the daemon did not start.
  const std::string& Address() const { return address_; }

 private:
  int pid_ = -1;
  std::string address_;
};

// A connection that owns `name` on the bus and serves its objects on a thread of its own.
class FakeService {
 public:
  FakeService(const std::string& address, const char* name);
  virtual ~FakeService();
  FakeService(const FakeService&) = delete;
  FakeService& operator=(const FakeService&) = delete;
  bool Ready() const { return bus_ != nullptr; }

 protected:
  void AddObject(const char* path, const char* interface, const sd_bus_vtable* vtable);
  // Starts serving; call after the objects are added.
  void Serve();
  std::mutex mutex_;

 private:
  sd_bus* bus_ = nullptr;
  std::vector<sd_bus_slot*> slots_;
  std::atomic<int> stop_{0};
  std::thread thread_;
};

// udisks2 with one drive behind one block device node.
class FakeUDisks final : public FakeService {
 public:
  FakeUDisks(const std::string& address, std::string devicePath, bool canPowerOff, int refusals);
  // "ResolveDevice /tmp/x", "PowerOff", "Eject", in order.
  std::vector<std::string> Calls();

  static int ResolveDevice(sd_bus_message* m, void* self, sd_bus_error* error);
  static int RemoveDrive(sd_bus_message* m, void* self, sd_bus_error* error);
  static int GetDrive(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                      void* self, sd_bus_error*);
  static int GetCanPowerOff(sd_bus*, const char*, const char*, const char*, sd_bus_message* reply,
                            void* self, sd_bus_error*);

 private:
  std::string devicePath_;
  bool canPowerOff_;
  int refusals_;
  std::vector<std::string> calls_;
};

// org.gnome.SessionManager's Inhibit and Uninhibit.
class FakeSessionManager final : public FakeService {
 public:
  explicit FakeSessionManager(const std::string& address);
  struct Inhibitor {
    std::string appId;
    uint32_t toplevel;
    std::string reason;
    uint32_t flags;
    uint32_t cookie;
  };
  std::vector<Inhibitor> Held();
  std::vector<uint32_t> Released();

  static int Inhibit(sd_bus_message* m, void* self, sd_bus_error* error);
  static int Uninhibit(sd_bus_message* m, void* self, sd_bus_error* error);

 private:
  std::vector<Inhibitor> held_;
  std::vector<uint32_t> released_;
  uint32_t nextCookie_ = 1001;
};

}  // namespace fw::bustest
