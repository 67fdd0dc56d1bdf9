// D-Bus connections through sd-bus (libsystemd): the system bus for udisks2, the session bus for
// the session manager, or a given address (tests run a private dbus-daemon).
#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <memory>
#include <string>

namespace fw {

struct BusCloser {
  void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using BusConnection = std::unique_ptr<sd_bus, BusCloser>;

struct MessageReleaser {
  void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
using BusMessage = std::unique_ptr<sd_bus_message, MessageReleaser>;

// An sd_bus_error that frees itself.
class BusError {
 public:
  BusError() = default;
  BusError(const BusError&) = delete;
  BusError& operator=(const BusError&) = delete;
  ~BusError() { sd_bus_error_free(&error_); }
  sd_bus_error* get() { return &error_; }
  // True when the error says that nobody owns the called name (the service does not run).
  bool NoService() const;
  // "org.freedesktop.UDisks2.Error.Failed: Error powering off drive" (or the errno text of `rc`
  // when the bus gave no error).
  std::string Text(int rc) const;

 private:
  // The empty error (SD_BUS_ERROR_NULL spelled out: the macro is a C compound literal).
  sd_bus_error error_{nullptr, nullptr, 0};
};

enum class BusKind { kSystem, kSession };

// Connects to `address` when it is not empty, else to the bus of that kind. nullptr with
// *reason when there is none.
BusConnection ConnectBus(BusKind kind, const std::string& address, std::string* reason);

}  // namespace fw
