#include "platform/linux/session_inhibitor.h"

#include "platform/linux/dbus_connection.h"

namespace fw {
namespace {

constexpr const char* kService = "org.gnome.SessionManager";
constexpr const char* kPath = "/org/gnome/SessionManager";
constexpr uint32_t kInhibitAutomount = 16;

class SessionInhibitor final : public AutomountInhibitor {
 public:
  explicit SessionInhibitor(std::string address) : address_(std::move(address)) {}

  bool Inhibit(const std::string& appId, const std::string& why, uint32_t* cookie,
               std::string* reason) override {
    if (!bus_) bus_ = ConnectBus(BusKind::kSession, address_, reason);
    if (!bus_) return false;
    BusError error;
    sd_bus_message* reply = nullptr;
    // No top-level window id: the inhibitor belongs to the program, not to one of its windows.
    int rc = sd_bus_call_method(bus_.get(), kService, kPath, kService, "Inhibit", error.get(),
                                &reply, "susu", appId.c_str(), 0u, why.c_str(), kInhibitAutomount);
    BusMessage owned(reply);
    uint32_t value = 0;
    if (rc >= 0) rc = sd_bus_message_read(reply, "u", &value);
    if (rc < 0) {
      if (reason)
        *reason = error.NoService() ? "the session bus has no " + std::string(kService)
                                    : std::string(kService) + ".Inhibit: " + error.Text(rc);
      return false;
    }
    if (cookie) *cookie = value;
    return true;
  }

  bool Uninhibit(uint32_t cookie, std::string* reason) override {
    if (!bus_) {
      if (reason) *reason = "no inhibitor is held";
      return false;
    }
    BusError error;
    sd_bus_message* reply = nullptr;
    const int rc = sd_bus_call_method(bus_.get(), kService, kPath, kService, "Uninhibit",
                                      error.get(), &reply, "u", cookie);
    BusMessage owned(reply);
    if (rc < 0 && reason) *reason = std::string(kService) + ".Uninhibit: " + error.Text(rc);
    return rc >= 0;
  }

 private:
  std::string address_;
  BusConnection bus_;
};

}  // namespace

std::unique_ptr<AutomountInhibitor> MakeSessionAutomountInhibitor(const std::string& busAddress) {
  return std::make_unique<SessionInhibitor>(busAddress);
}

AutomountInhibitor& SessionAutomountInhibitor() {
  static std::unique_ptr<AutomountInhibitor> inhibitor = MakeSessionAutomountInhibitor("");
  return *inhibitor;
}

}  // namespace fw
